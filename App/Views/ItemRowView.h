// One item of the list: its icon, its name shortened in the middle, what it is now ("Missing",
// "Folder", its size; and its folder's name when another row has the same name) and a pin when
// pinned, on an accent background when selected, lit under the pointer. Its tool tip gives the
// whole path. Clicks, drags and the menu belong to the RowInteractionView laid over it.
#pragma once

#include "Items/StowbayItem.h"

#include <QVariantAnimation>
#include <QWidget>
#include <optional>

class StowbayInteraction;

class ItemRowView : public QWidget {
    Q_OBJECT
public:
    static constexpr int rowHeight = 46;

    ItemRowView(const StowbayItem &item, StowbayInteraction *interaction, QWidget *parent = nullptr);

    const StowbayItem &item() const { return m_item; }
    // Each of these repaints the row only when what it shows changes.
    void setItem(const StowbayItem &item);
    void setInfo(const std::optional<ItemInfo> &info);
    void setSelected(bool selected);
    void setShowsFolder(bool showsFolder);
    // The ring of the row the keyboard stands on.
    void setFocusRing(bool shown);
    bool hasFocusRing() const { return m_focusRing; }
    // Lights the row up once, briefly: "this one, here".
    void flash();
    bool isHovered() const { return m_hovered; }
    // The keyboard went to another row: a highlight under a resting pointer would pass for its
    // marker, so it waits for the pointer to move.
    void dropHover();
    bool isSelected() const { return m_selected; }
    bool isMissing() const { return m_info && !m_info->exists; }

    // The second line as painted.
    QString subtitle() const;
    static QString subtitle(const std::optional<ItemInfo> &info);

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // Where the file is now; a row not refreshed yet stands for its stored path.
    QString path() const;
    void updateToolTip();

    StowbayItem m_item;
    std::optional<ItemInfo> m_info;
    bool m_selected = false;
    bool m_showsFolder = false;
    bool m_hovered = false;
    bool m_focusRing = false;
    QVariantAnimation *m_flash = nullptr;
};
