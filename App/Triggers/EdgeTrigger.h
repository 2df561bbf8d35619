// In a Wayland session no pointer motion reaches Stowbay while a drag goes over other programs'
// windows, so no shake can be seen: there the screen edge is the trigger. Each new drag puts a thin
// drop target along the chosen edge for a few seconds; files dragged onto it open the panel, which
// takes the drop. Other drags open nothing. The target goes when a drag leaves it or drops on it,
// or when no drag has come: a click at the edge is never kept from the program below for longer.
#pragma once

#include "Input/DragPasteboard.h"
#include "Settings/AppSettings.h"

#include <QList>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <functional>

class QWidget;

class EdgeTrigger : public QObject {
    Q_OBJECT
public:
    // The target's thickness, in points, and how long it waits for a drag.
    static constexpr int thickness = 2;
    static constexpr int timeoutMs = 4000;

    EdgeTrigger(DragPasteboard &pasteboard, AppSettings &settings, QObject *parent = nullptr);
    ~EdgeTrigger() override;

    // Files dragged onto the target: open the panel.
    std::function<void()> onTrigger;
    // Files dropped on the target itself.
    std::function<void(const QList<QUrl> &)> onDropURLs;

    // Listens to the drag pasteboard from now on.
    void start();
    bool isShown() const;
    // Files are being dragged over the target, or left it a moment ago on their way to the panel
    // it opened: the panel stays open meanwhile.
    bool holdsFileDrag() const { return m_fileDrag.isActive(); }
    static constexpr int onTheWayMs = 2000;

    // Where the target stands on a screen of geometry `screen`.
    static QRect frame(const QRect &screen, StowbayEdge edge);

private:
    friend class EdgeTarget;
    void dragMayHaveBegun();
    void withdraw();

    DragPasteboard &m_pasteboard;
    AppSettings &m_settings;
    QList<QWidget *> m_targets; // one a screen
    QTimer m_timeout;
    QTimer m_fileDrag; // runs while a file drag is taken to be on its way to the panel
};
