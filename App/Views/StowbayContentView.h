// The full panel: a header with the item count (or, for a moment, what just happened: a drop that
// was not delivered, files that did not fit) and "Clear", a dashed drop zone that lights up while files are
// dragged anywhere over the panel, the list of rows and the "Drag all" control. It keeps one row per item and
// updates, adds, moves or removes only the rows a change touches.
#pragma once

#include "Views/ItemRowView.h"

#include <QHash>
#include <QPointer>
#include <QTimer>
#include <QUuid>
#include <QWidget>

class PanelModel;
class QLabel;
class QAbstractButton;
class QKeyEvent;
class QScrollArea;
class QTimer;
class QVBoxLayout;
class StowbayInteraction;
class StowbayStore;

class StowbayContentView : public QWidget {
    Q_OBJECT
public:
    StowbayContentView(PanelModel &model, StowbayStore &store, StowbayInteraction &interaction,
                       QWidget *parent = nullptr);

    bool targeted() const { return m_targeted; }
    void setTargeted(bool targeted);

    static constexpr int noticeMs = 4000;
    static constexpr int rowSpacing = 2;
    // From one row's top to the next one's.
    static constexpr int rowPitch = ItemRowView::rowHeight + rowSpacing;

    // "Stowbay" when empty, else "1 item", "2 items", ...; "2 of 5 selected" while rows are selected.
    static QString title(int count);
    static QString title(int count, int selected);
    // "1 file", "3 files": how the panel and the tray count files.
    static QString filesText(int count);
    // Says `text` in the header for a few seconds (`ms`), in place of the count.
    void showNotice(const QString &text, int ms = noticeMs);
    // Says what a removal did, with "Undo" beside it for a few seconds; with `holdOpen` the panel
    // stays open meanwhile.
    void showUndo(const QString &text, bool holdOpen = false);
    bool holdsPanelOpen() const;
    // "Undo" is offered.
    bool offersUndo() const;
    static constexpr int undoMs = 5000;

    // Gives the list the keyboard.
    void focusList();
    // Enter or Space on a control that has the keyboard does what a click on it does; true when
    // the key was one of those.
    bool activateFocusedControl(QKeyEvent *event);
    // Puts the files of `ids` that exist on the clipboard and says how many it copied and how many
    // are missing; false when there are no items to copy.
    bool copyFiles(const QList<QUuid> &ids);
    // Scrolls the keyboard's row into view.
    void showCurrentRow();
    // The row menu of the keyboard's row, under it; false when there is no such row.
    bool openRowMenu();
    // Said after a drop the target never received.
    static constexpr const char *notDeliveredText = "Not delivered: kept";

    QLabel *titleLabel() const { return m_title; }
    QAbstractButton *clearButton() const { return m_clear; }
    QAbstractButton *undoButton() const { return m_undo; }
    // The program's menu, in the header while no tray is there to show it.
    QAbstractButton *menuButton() const { return m_menu; }
    QAbstractButton *foldButton() const { return m_fold; }
    QWidget *dropZone() const { return m_dropZone; }
    QWidget *dragAll() const { return m_dragAll; }
    QScrollArea *list() const { return m_list; }
    ItemRowView *row(const QUuid &id) const { return m_rows.value(id); }

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void itemsChanged();
    void infosChanged();
    void selectionChanged();
    void updateTitle();
    void updateFocusRing();
    void revealAdded();

    PanelModel &m_model;
    StowbayStore &m_store;
    StowbayInteraction &m_interaction;
    bool m_targeted = false;
    QLabel *m_title;
    QAbstractButton *m_clear;
    QAbstractButton *m_menu = nullptr;
    QAbstractButton *m_undo;
    QAbstractButton *m_fold;
    QWidget *m_dropZone;
    QScrollArea *m_list;
    QVBoxLayout *m_rowsLayout;
    QWidget *m_dragAll;
    QHash<QUuid, ItemRowView *> m_rows;
    QString m_notice;
    int m_shownCount = 0;
    bool m_clearing = false;
    bool m_holdOpen = false;
    QTimer m_noticeTimer;
    // The first row of the latest addition, kept in view while the panel grows around it.
    QPointer<ItemRowView> m_revealed;
    QTimer m_revealTimer;
};
