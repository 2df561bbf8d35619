// The pointer and the keyboard driven through XTEST, on a connection of the test's own.
#pragma once

#include "X11/X11DragInput.h"

#include <QTest>
#include <atomic>
#include <functional>
#include <thread>

// Xlib after Qt: its macros would break Qt's headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

class XTestDriver {
public:
    XTestDriver() : m_display(XOpenDisplay(nullptr)) {}
    ~XTestDriver() {
        if (m_display) XCloseDisplay(m_display);
    }
    XTestDriver(const XTestDriver &) = delete;

    Display *display() const { return m_display; }

    // Each step lets the event loop run a little, as a hand would, so that both ends keep up.
    void moveTo(int x, int y) { step(XTestFakeMotionEvent(m_display, -1, x, y, CurrentTime)); }
    void moveBy(int dx, int dy) { step(XTestFakeRelativeMotionEvent(m_display, dx, dy, CurrentTime)); }
    void button(bool down, unsigned int which = 1) {
        step(XTestFakeButtonEvent(m_display, which, down, CurrentTime));
    }
    void click(QPoint at, unsigned int which = 1) {
        moveTo(at.x(), at.y());
        button(true, which);
        button(false, which);
    }
    void key(KeySym keysym, bool down) {
        step(XTestFakeKeyEvent(m_display, XKeysymToKeycode(m_display, keysym), down, CurrentTime));
    }
    // Presses the keys in order and releases them in reverse order.
    void chord(std::initializer_list<KeySym> keys) {
        for (KeySym k : keys)
            key(k, true);
        for (auto it = std::rbegin(keys); it != std::rend(keys); ++it)
            key(*it, false);
    }
    // Swings the pointer left and right, as a shake does.
    void shake() {
        for (int s = 0; s < 24; ++s)
            moveBy((s / 4) % 2 ? -20 : 20, 0);
    }

private:
    // Called with the result of the request just queued.
    void step(int) {
        XSync(m_display, False);
        QTest::qWait(8);
    }

    Display *m_display;
};

// Presses at `at` and moves on until a drag has taken `input`'s pasteboard and its contents are
// known; lets go when none does.
inline bool startDragAt(XTestDriver &x, X11DragInput &input, QPoint at) {
    const qint64 before = input.changeCount();
    x.moveTo(at.x(), at.y());
    x.button(true);
    for (int i = 0; i < 100; ++i) {
        if (input.changeCount() > before && input.hasFileURLs().has_value()) return true;
        x.moveBy(i < 5 ? 6 : (i % 2 ? -2 : 2), 0);
    }
    x.button(false);
    return false;
}

// Starts a drag of the first file in a file manager's folder window at `window`: its icon sits
// near the top left of the folder view, right of the side pane.
inline bool startDragInFolder(XTestDriver &x, X11DragInput &input, QRect window) {
    for (int dy = 95; dy <= 125; dy += 15)
        for (int dx = 205; dx >= 175; dx -= 15)
            if (startDragAt(x, input, window.topLeft() + QPoint(dx, dy))) return true;
    return false;
}

// Presses at `from`, moves in steps to `to`, wiggles there until `arrived` (at most 10 s) and lets go.
// The hand is a thread of its own: a drag out of our rows runs a nested event loop on the main
// thread, which has to stay free to serve it.
inline bool dragByHand(QPoint from, QPoint to, const std::function<bool()> &arrived) {
    std::atomic<bool> done{false}, result{false};
    std::thread hand([&] {
        XTestDriver x;
        if (x.display()) {
            x.moveTo(from.x(), from.y());
            x.button(true);
            for (int i = 1; i <= 25; ++i)
                x.moveTo(from.x() + (to.x() - from.x()) * i / 25, from.y() + (to.y() - from.y()) * i / 25);
            for (int i = 0; i < 500 && !arrived(); ++i)
                x.moveTo(to.x() + (i % 2 ? 2 : -2), to.y());
            result = arrived();
            x.moveBy(1, 1);
            x.button(false);
        }
        done = true;
    });
    const bool finished = QTest::qWaitFor([&] { return done.load(); }, 30000);
    hand.join();
    return finished && result;
}
