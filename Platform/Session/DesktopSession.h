// The desktop session Stowbay runs in, decided once at start: an X11 session, or a Wayland
// session, where Stowbay is an X11 program on the compositor's X server (XWayland) or, where the
// compositor lets it stand at the screen's edge, a native one; and which compositor draws it. What differs
// between them (the kind of window that gets drops, where a window may stand, how the shortcut is had) asks
// here.
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

    // Whether a native Wayland program's panel can stand at the screen's edge here (layer-shell),
    // and drags out of it reach native programs: where the compositor offers layer-shell and is
    // neither mutter nor KWin, whose XWayland carries drags both ways.
    bool prefersLayerShell() const {
        return isWayland() && compositor != Compositor::mutter && compositor != Compositor::kwin;
    }

    // Unless the user chose a platform: in a Wayland session where the panel can be a native
    // surface at the screen's edge (this build has the means, the compositor offers it), Stowbay is
    // a native Wayland program; in other Wayland sessions, where a native program could neither
    // place a window at a screen edge nor see other programs' drags, it takes the X11 one. Called
    // before the application object exists.
    static void choosePlatform();
    // Whether the desktop that the chosen platform draws on answers: on the X11 platform (chosen, or
    // by default), the X server that DISPLAY names. Called before the application object exists.
    static bool displayAnswers();
    // Whether the panel's windows are native surfaces at the screen's edge: Stowbay runs on the
    // Wayland platform (chosen here or by the user) of a session that offers it.
    static bool runsOnLayerShell();
    // What the panel's windows are, in the user's words: in this process, or, asked before the
    // application exists, in a Stowbay started from here.
    static QString panelBackEnd();
};
