// The invisible layer over an item row (and over the "Drag all" control) that takes the mouse:
// clicks select (a plain press on a row of a multi-selection waits for the release, so that a
// drag from it carries the whole selection), a double click opens the row's file, a movement of
// more than 4 points drags the files out of the panel, and the right button opens the row's
// context menu. Positions are window coordinates (QPointF, so fractions of a point count).
#pragma once

#include <QPointF>
#include <QPointer>
#include <QUuid>
#include <QWidget>
#include <memory>
#include <optional>

class QMenu;
class StowbayInteraction;

class RowInteractionView : public QWidget {
    Q_OBJECT
public:
    static constexpr double dragThreshold = 4.0; // points the pointer has to exceed
    static constexpr int maxDragImages = 6;
    static constexpr double dragImageStep = 4.0;
    static constexpr int dragImageSize = 32;

    explicit RowInteractionView(QWidget *parent = nullptr);
    // Puts a new view over the whole of `row`, following its size.
    static RowInteractionView *cover(QWidget *row, std::optional<QUuid> rowID,
                                     StowbayInteraction *interaction);

    std::optional<QUuid> rowID() const { return m_rowID; }
    void setRowID(std::optional<QUuid> rowID) { m_rowID = rowID; }
    StowbayInteraction *interaction() const { return m_interaction; }
    void setInteraction(StowbayInteraction *interaction) { m_interaction = interaction; }

    // The row's context menu; none for the "Drag all" control or a view that lost its row.
    std::unique_ptr<QMenu> menu();

    // The image under the pointer during a drag: the first six files' icons in a pile, each 4
    // points right of and below the one before; the first is centred on the pointer (`hotSpot`).
    static QPixmap pileImage(const QList<QUrl> &urls, qreal devicePixelRatio, QPoint *hotSpot);

public slots:
    void menuReveal();
    void menuOpen();
    void menuQuickLook();
    void menuCopy();
    void menuCopyPath();
    void menuPin();
    void menuRemove();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void mouseDown(QMouseEvent *event, int clickCount);
    void mouseDragged(QMouseEvent *event);
    // True when every id names an item of the store that is pinned (also for none).
    bool allPinned(const QList<QUuid> &ids) const;

    std::optional<QUuid> m_rowID;
    QPointer<StowbayInteraction> m_interaction;
    std::optional<QPointF> m_downPosition; // window coordinates of the last left-button press
    bool m_dragStarted = false;
    bool m_deferredSelect = false;
};
