// A connection of our own to the X server, apart from the toolkit's: errors on it are never fatal,
// and every event the server sends is handed to `handle` as it arrives (a socket notifier wakes
// us; nothing polls). Without a display it stays closed and inert.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;
typedef struct _XDisplay Display;
union _XEvent;

class X11Connection : public QObject {
    Q_OBJECT
public:
    explicit X11Connection(std::function<void(_XEvent &)> handle, QObject *parent = nullptr);
    ~X11Connection() override;

    Display *display() const { return m_display; }
    // Whether the X server that DISPLAY names answers.
    static bool canConnect();

    // Handles every event read or waiting, including those that handlers' round trips queue.
    void processEvents();
    // A round trip may have read events into the connection's queue, where the socket notifier
    // does not see them: they are handled on the next turn of the event loop.
    void processQueuedLater();

private:
    std::function<void(_XEvent &)> m_handle;
    Display *m_display = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    bool m_processQueued = false;
};
