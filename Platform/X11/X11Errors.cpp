#include <QSet>

// Xlib after Qt: its macros (None, CursorShape, ...) would break Qt's headers.
#include "X11/X11Errors.h"

namespace X11Errors {
namespace {
QSet<Display *> &watched() {
    static QSet<Display *> set;
    return set;
}
XErrorHandler previousHandler = nullptr;
ErrorTrap *innermostTrap = nullptr;
} // namespace

int handleError(Display *display, XErrorEvent *event) {
    if (!watched().contains(display)) return previousHandler ? previousHandler(display, event) : 0;
    for (ErrorTrap *trap = innermostTrap; trap; trap = trap->m_outer) {
        if (trap->m_display == display && event->serial >= trap->m_firstSerial) {
            if (trap->m_error == 0) trap->m_error = event->error_code;
            break;
        }
    }
    return 0;
}

namespace {
// Another library may have put its own handler in place since; ours goes back on top of it.
void installHandler() {
    const XErrorHandler current = XSetErrorHandler(handleError);
    if (current != handleError) previousHandler = current;
}
} // namespace

void watch(Display *display) {
    watched().insert(display);
    installHandler();
}

void unwatch(Display *display) {
    watched().remove(display);
}

ErrorTrap::ErrorTrap(Display *display)
    : m_display(display), m_outer(innermostTrap), m_firstSerial(NextRequest(display)) {
    watch(display);
    innermostTrap = this;
}

ErrorTrap::~ErrorTrap() {
    innermostTrap = m_outer;
}

int ErrorTrap::sync() {
    installHandler();
    XSync(m_display, False);
    return m_error;
}

} // namespace X11Errors
