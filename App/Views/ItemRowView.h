// One item of the list: its icon, its name shortened in the middle, what it is now ("Missing",
// "Folder", its size) and a pin when pinned, on an accent background when selected. Clicks, drags
// and the menu belong to the RowInteractionView laid over it.
#pragma once

#include "Items/StowbayItem.h"

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
    bool isSelected() const { return m_selected; }
    bool isMissing() const { return m_info && !m_info->exists; }

    QString subtitle() const { return subtitle(m_info); }
    static QString subtitle(const std::optional<ItemInfo> &info);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QString iconPath() const;

    StowbayItem m_item;
    std::optional<ItemInfo> m_info;
    bool m_selected = false;
};
