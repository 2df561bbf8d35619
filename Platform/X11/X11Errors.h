// Errors of requests on our own Xlib connections are never fatal: a window that is gone, or a key
// combination another client holds, is an answer, not a reason to exit. ErrorTrap collects them
// synchronously for the requests made while it lives.
#pragma once

#include <X11/Xlib.h>

namespace X11Errors {

// Makes errors on `display` non-fatal for the life of the connection.
void watch(Display *display);
void unwatch(Display *display);

class ErrorTrap {
public:
    explicit ErrorTrap(Display *display);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap &) = delete;
    ErrorTrap &operator=(const ErrorTrap &) = delete;

    // Waits for the server to have handled every request so far; returns the first error code
    // received for the requests since the trap was set, or 0 (Success).
    int sync();

private:
    Display *m_display;
    ErrorTrap *m_outer;
    unsigned long m_firstSerial;
    int m_error = 0;
    friend int handleError(Display *, XErrorEvent *);
};

} // namespace X11Errors
