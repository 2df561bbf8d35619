#include "X11/X11Connection.h"

#include <QSocketNotifier>

// Xlib after Qt: its macros would break Qt's headers.
#include "X11/X11Errors.h"
#include <X11/Xlib.h>

X11Connection::X11Connection(std::function<void(XEvent &)> handle, QObject *parent)
    : QObject(parent), m_handle(std::move(handle)), m_display(XOpenDisplay(nullptr)) {
    if (!m_display) return;
    X11Errors::watch(m_display);
    m_notifier = new QSocketNotifier(ConnectionNumber(m_display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11Connection::processEvents);
}

X11Connection::~X11Connection() {
    if (!m_display) return;
    delete m_notifier;
    X11Errors::unwatch(m_display);
    XCloseDisplay(m_display);
}

bool X11Connection::canConnect() {
    Display *display = XOpenDisplay(nullptr);
    if (display) XCloseDisplay(display);
    return display;
}

void X11Connection::processEvents() {
    if (!m_display) return;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        m_handle(event);
    }
}

void X11Connection::processQueuedLater() {
    if (!m_display || m_processQueued || QLength(m_display) == 0) return;
    m_processQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_processQueued = false;
            processEvents();
        },
        Qt::QueuedConnection);
}
