// Notices, system-wide, that the user is dragging files (from any application, or from a window
// of this program other than the panel) and decides when the panel should open: as soon as such a
// drag begins, or when the pointer is shaken from side to side during it.
#pragma once

#include "Input/DragPasteboard.h"
#include "Input/MouseMonitor.h"
#include "Settings/AppSettings.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <functional>
#include <optional>

class QTimer;

class DragWatcher : public QObject {
    Q_OBJECT
public:
    // Pointer samples older than this, relative to the newest, no longer count towards a shake.
    static constexpr double window = 0.8;
    // While a file drag is in progress the button is also polled, for drops whose mouse-up no
    // monitor sees.
    static constexpr int pollInterval = 250; // ms

    explicit DragWatcher(DragPasteboard &pasteboard = DragPasteboard::system(),
                         MouseMonitor &mouse = MouseMonitor::system(),
                         AppSettings &settings = AppSettings::shared(), QObject *parent = nullptr);
    ~DragWatcher() override;

    std::function<void()> onTrigger;
    std::function<void()> onDragEnded;

    bool isDragging() const { return m_isDragging; }

    // Installs the mouse monitor and the internal-drag observer; a second call does nothing.
    void start();
    // Removes them and the poll. A drag in progress stays recorded as it is.
    void stop();

    // The bookkeeping of change counts, for tests.
    qint64 lastUpCount() const { return m_lastUpCount; }
    qint64 rejectedCount() const { return m_rejectedCount; }
    bool isPolling() const { return m_pollTimer != nullptr; }

private:
    struct Sample {
        double x;
        double t;
    };

    void handleDrag(const MouseEvent &event);
    void beginDrag();
    void finish();
    void invalidatePollTimer();
    std::optional<bool> hasFileURLs();
    bool isShake() const;

    bool m_isDragging = false;
    std::optional<int> m_monitor;
    QTimer *m_pollTimer = nullptr;
    std::optional<QMetaObject::Connection> m_observer;
    DragPasteboard &m_pasteboard;
    MouseMonitor &m_mouse;
    AppSettings &m_settings;
    qint64 m_lastUpCount;
    qint64 m_rejectedCount = -1;
    QList<Sample> m_samples;
};
