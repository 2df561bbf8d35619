/* Prints each X selection named on the command line that has no owner on $DISPLAY; exits 0 when
 * every one has an owner, 1 when one has none, 2 without a display. */
#include <X11/Xlib.h>
#include <stdio.h>

int main(int argc, char **argv) {
    Display *display = XOpenDisplay(NULL);
    if (!display) return 2;
    int missing = 0;
    for (int i = 1; i < argc; ++i) {
        if (XGetSelectionOwner(display, XInternAtom(display, argv[i], False)) == None) {
            printf("%s\n", argv[i]);
            missing = 1;
        }
    }
    XCloseDisplay(display);
    return missing;
}
