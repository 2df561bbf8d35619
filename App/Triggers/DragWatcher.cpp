#include "Triggers/DragWatcher.h"

#include "Interaction/StowbayDragState.h"

#include <QPointer>
#include <QTimer>
#include <cmath>

namespace {
struct ShakeThreshold {
    double travel; // minimum travel of one swing, points
    int reversals; // direction reversals required
};

ShakeThreshold threshold(ShakeSensitivity sensitivity) {
    switch (sensitivity) {
    case ShakeSensitivity::gentle:
        return {55, 5};
    case ShakeSensitivity::normal:
        return {40, 4};
    case ShakeSensitivity::easy:
        return {30, 3};
    }
    return {40, 4};
}
} // namespace

DragWatcher::DragWatcher(DragPasteboard &pasteboard, MouseMonitor &mouse, AppSettings &settings,
                         QObject *parent)
    : QObject(parent), m_pasteboard(pasteboard), m_mouse(mouse), m_settings(settings),
      m_lastUpCount(pasteboard.changeCount()) {}

DragWatcher::~DragWatcher() {
    stop();
}

void DragWatcher::start() {
    if (m_monitor) return;

    // One monitor sees the events of every window, ours included. Those of a press that went down
    // on the panel are the panel's own and pass untouched; all others are dispatched alike.
    QPointer<DragWatcher> self(this);
    m_monitor = m_mouse.addMonitor([self](const MouseEvent &event) {
        if (!self || event.onPanel) return;
        if (event.type == MouseEvent::Type::leftMouseUp)
            self->finish();
        else
            self->handleDrag(event);
    });

    // The panel's own drag has taken the pasteboard: that change count is dealt with.
    m_observer = connect(&StowbayDragState::center(), &StowbayDragState::stowbayInternalDragEnded, this,
                         [this] { m_lastUpCount = m_pasteboard.changeCount(); });
}

void DragWatcher::stop() {
    if (m_monitor) {
        m_mouse.removeMonitor(*m_monitor);
        m_monitor.reset();
        m_mouse.setPointerSampling(false);
    }
    if (m_observer) {
        disconnect(*m_observer);
        m_observer.reset();
    }
    invalidatePollTimer();
}

void DragWatcher::invalidatePollTimer() {
    if (!m_pollTimer) return;
    // The poll may be the caller: the timer goes once control is back in the event loop.
    m_pollTimer->stop();
    m_pollTimer->deleteLater();
    m_pollTimer = nullptr;
}

void DragWatcher::handleDrag(const MouseEvent &event) {
    if (StowbayDragState::internalActive) {
        m_lastUpCount = m_pasteboard.changeCount();
        return;
    }

    if (!m_isDragging) {
        if (!(m_mouse.pressedMouseButtons() & MouseMonitor::leftButton)) return;
        // Only a new drag, with new contents, can start a file drag.
        const qint64 cc = m_pasteboard.changeCount();
        if (cc == m_lastUpCount || cc == m_rejectedCount) return;
        const std::optional<bool> files = hasFileURLs();
        if (!files) return; // contents not known yet: ask again on the next event
        if (!*files) {
            m_rejectedCount = cc;
            return;
        }
        beginDrag();
        if (m_settings.openMode() == OpenMode::anyDrag) {
            if (onTrigger) onTrigger();
            return;
        }
    }

    if (m_settings.openMode() != OpenMode::shake) return;

    const double t = event.timestamp;
    m_samples.append({m_mouse.mouseLocation().x(), t});
    qsizetype firstInWindow = 0;
    while (firstInWindow < m_samples.size() - 1 && t - m_samples[firstInWindow].t > window)
        ++firstInWindow;
    m_samples.remove(0, firstInWindow);

    if (isShake()) {
        // Emptied first, so that a further shake in the same drag triggers again.
        m_samples.clear();
        if (onTrigger) onTrigger();
    }
}

void DragWatcher::beginDrag() {
    m_isDragging = true;
    m_samples.clear();
    invalidatePollTimer();

    m_pollTimer = new QTimer(this);
    m_pollTimer->setTimerType(Qt::CoarseTimer);
    m_pollTimer->setInterval(pollInterval);
    connect(m_pollTimer, &QTimer::timeout, this, [this] {
        if (!(m_mouse.pressedMouseButtons() & MouseMonitor::leftButton)) finish();
    });
    m_pollTimer->start();
    if (m_settings.openMode() == OpenMode::shake) m_mouse.setPointerSampling(true);
}

void DragWatcher::finish() {
    m_lastUpCount = m_pasteboard.changeCount();
    if (!m_isDragging) return;

    m_isDragging = false;
    invalidatePollTimer();
    m_mouse.setPointerSampling(false);
    m_samples.clear();
    if (onDragEnded) onDragEnded();
}

std::optional<bool> DragWatcher::hasFileURLs() {
    return m_pasteboard.hasFileURLs();
}

bool DragWatcher::isShake() const {
    if (m_samples.size() < 4) return false;
    const auto [travel, required] = threshold(m_settings.sensitivity());

    // direction: +1 rightward, -1 leftward, 0 until the first swing of enough travel.
    int direction = 0;
    const double x0 = m_samples.first().x;
    double extreme = x0;
    int reversals = 0;
    for (const Sample &s : m_samples) {
        const double x = s.x;
        if (direction == 0) {
            if (std::abs(x - x0) >= travel) {
                direction = x > x0 ? 1 : -1;
                extreme = x;
            }
        } else if ((x - extreme) * direction > 0) {
            extreme = x; // further the same way
        } else if ((extreme - x) * direction >= travel) {
            ++reversals; // back far enough from the furthest point: a swing the other way
            direction = -direction;
            extreme = x;
        }
    }
    return reversals >= required;
}
