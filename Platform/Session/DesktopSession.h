// The desktop session Stowbay runs in, decided once at start: an X11 session, or a Wayland
// session, where Stowbay is an X11 program on the compositor's X server (XWayland), and which
// compositor draws it. What differs between them (the kind of window that gets drops, where a
// window may stand, how the shortcut is had) asks here.
#pragma once

#include <QProcessEnvironment>

class DesktopSession {
public:
    enum class Kind { x11, wayland };
    // The compositor families whose ways with X11 windows differ: GNOME's, KDE Plasma's and the
    // wlroots family (sway and its kin).
    enum class Compositor { other, mutter, kwin, sway };

    Kind kind = Kind::x11;
    Compositor compositor = Compositor::other;

    bool isWayland() const { return kind == Kind::wayland; }
    // Whether the panel's windows are left to the window manager (which then must keep them where
    // they are put). XWayland on KWin hands drops only to windows it manages; sway centres every
    // window it manages, so there, as on X11, they stand on their own (override-redirect).
    bool managesPanelWindows() const { return isWayland() && compositor != Compositor::sway; }

    static DesktopSession from(const QProcessEnvironment &environment);
    // This process's session, read from its environment at the first call.
    static const DesktopSession &current();

    // In a Wayland session Qt would make Stowbay a native Wayland client, which can neither place a
    // window at a screen edge nor see other programs' drags: unless the user chose a platform,
    // Stowbay takes the X11 one. Called before the application object exists.
    static void preferX11Platform();
};
