// What the panel shows, the tab or the full content, and at which edge: the panel controller sets
// it, the views follow it, and the views report through it clicks on the tab, files dragged onto
// it, and dropped files. Every assignment notifies.
#pragma once

#include "Settings/AppSettings.h"

#include <QList>
#include <QObject>
#include <QUrl>
#include <functional>

class QMenu;

class PanelModel : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool isTab() const { return m_isTab; }
    void setIsTab(bool isTab) {
        m_isTab = isTab;
        emit isTabChanged(isTab);
    }
    StowbayEdge edge() const { return m_edge; }
    void setEdge(StowbayEdge edge) {
        m_edge = edge;
        emit edgeChanged(edge);
    }

    std::function<void()> onTabClick;
    std::function<void()> onTabFileDrag;
    std::function<void(const QList<QUrl> &)> onDropURLs;
    // A click on the drop zone: files chosen in a dialog come in.
    std::function<void()> onAddFiles;
    // "Undo" after a removal.
    std::function<void()> onUndo;
    // The header's fold control.
    std::function<void()> onFold;
    // The program's menu (the tray's), offered in the panel's header where no tray shows it.
    QMenu *menu = nullptr;

signals:
    void isTabChanged(bool isTab);
    void edgeChanged(StowbayEdge edge);

private:
    bool m_isTab = false;
    StowbayEdge m_edge = StowbayEdge::right;
};
