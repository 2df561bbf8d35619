// The pointer and the keyboard driven through XTEST, on a connection of the test's own.
#pragma once

#include <QTest>

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
    void button(bool down) { step(XTestFakeButtonEvent(m_display, 1, down, CurrentTime)); }
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

private:
    // Called with the result of the request just queued.
    void step(int) {
        XSync(m_display, False);
        QTest::qWait(8);
    }

    Display *m_display;
};
