// System-wide left-mouse events, the pressed buttons and the pointer's position.
#pragma once

#include <QPointF>
#include <functional>

struct MouseEvent {
    enum class Type { leftMouseDragged, leftMouseUp };
    Type type = Type::leftMouseDragged;
    // Seconds on the monotonic clock (since system start-up).
    double timestamp = 0;
    // The left button went down on the panel: the panel's own events until the button is released.
    bool onPanel = false;
};

class MouseMonitor {
public:
    using Handler = std::function<void(const MouseEvent &)>;
    static constexpr unsigned leftButton = 1u << 0;

    virtual ~MouseMonitor() = default;

    // Calls `handler` on the main thread for every left-mouse-dragged and left-mouse-up event of
    // every window, this program's included. Returns a token for removeMonitor().
    virtual int addMonitor(Handler handler) = 0;
    virtual void removeMonitor(int token) = 0;

    // Bit 0: the left button is down.
    virtual unsigned pressedMouseButtons() = 0;
    // Global screen coordinates, y growing downwards.
    virtual QPointF mouseLocation() = 0;

    // While on, the pointer is also sampled every 16 ms and each sample taken with the left button
    // down arrives as a dragged event, so that devices which report no relative motion (tablets,
    // synthetic input) can shake too. Off, nothing polls.
    virtual void setPointerSampling(bool on) = 0;

    // The system's mouse.
    static MouseMonitor &system();
};
