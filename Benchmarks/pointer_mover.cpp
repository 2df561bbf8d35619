// Moves the pointer through XTEST at a steady rate, as a fast mouse would: relative motions of one
// pixel back and forth, RATE per second for SECONDS seconds; with "held", the left button is held
// down meanwhile (selecting, moving a window: no drag of files).
//   stowbay_pointer_mover RATE SECONDS [held]
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

int main(int argc, char **argv) {
    const long rate = argc > 1 ? atol(argv[1]) : 1000;
    const long seconds = argc > 2 ? atol(argv[2]) : 10;
    Display *display = XOpenDisplay(nullptr);
    if (!display || rate <= 0) return 1;
    const bool held = argc > 3 && std::string(argv[3]) == "held";
    if (held) XTestFakeButtonEvent(display, 1, True, CurrentTime);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const long step = 1000000000L / rate;
    for (long i = 0; i < rate * seconds; ++i) {
        XTestFakeRelativeMotionEvent(display, i % 2 ? -1 : 1, 0, CurrentTime);
        XFlush(display);
        next.tv_nsec += step;
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    if (held) XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
