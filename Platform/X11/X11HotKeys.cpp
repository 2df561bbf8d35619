#include "X11/X11HotKeys.h"

#include "Input/KeyCodes.h"

// Xlib after Qt: its macros would break Qt's headers.
#include "X11/X11Errors.h"
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

X11HotKeys::X11HotKeys(QObject *parent) : QObject(parent) {
    if (!m_display) return;
    m_root = DefaultRootWindow(m_display);
    // Without this, holding the keys down would report a release and a press for every repeat.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(m_display, True, &supported);
}

X11HotKeys::~X11HotKeys() = default;

unsigned X11HotKeys::x11Modifiers(quint32 modifiers) {
    unsigned mask = 0;
    if (modifiers & 0x1000) mask |= ControlMask;
    if (modifiers & 0x800) mask |= Mod1Mask;
    if (modifiers & 0x200) mask |= ShiftMask;
    if (modifiers & 0x100) mask |= Mod4Mask;
    return mask;
}

bool X11HotKeys::installPressHandler(std::function<void()> onPress) {
    if (!m_display) return false;
    m_onPress = std::move(onPress);
    return true;
}

std::optional<GlobalHotKeys::Ref> X11HotKeys::registerHotKey(quint32 keyCode, quint32 modifiers) {
    if (!m_display) return std::nullopt;
    const std::optional<quint32> keysym = KeyCodes::keysym(keyCode);
    if (!keysym) return std::nullopt;
    const int keycode = XKeysymToKeycode(m_display, *keysym);
    if (keycode == 0) return std::nullopt;

    const Grab grab{keycode, x11Modifiers(modifiers)};
    const unsigned numLock = numLockMask();
    X11Errors::ErrorTrap trap(m_display);
    for (unsigned locks : {0u, unsigned(LockMask), numLock, numLock | LockMask})
        XGrabKey(m_display, keycode, grab.modifiers | locks, m_root, False, GrabModeAsync, GrabModeAsync);
    if (trap.sync() != Success) {
        // Another client holds the combination, or one of its variants: hold none of them.
        ungrab(grab);
        trap.sync();
        return std::nullopt;
    }
    const Ref ref = m_nextRef++;
    m_grabs.insert(ref, grab);
    // The round trips may have read presses into the connection's queue, where the socket
    // notifier does not see them.
    m_connection.processQueuedLater();
    return ref;
}

void X11HotKeys::unregisterHotKey(Ref ref) {
    if (!m_display || !m_grabs.contains(ref)) return;
    ungrab(m_grabs.take(ref));
    XFlush(m_display);
}

void X11HotKeys::ungrab(const Grab &grab) {
    // Ungrabbing releases only this client's grabs; a variant we never got is left alone.
    const unsigned numLock = numLockMask();
    for (unsigned locks : {0u, unsigned(LockMask), numLock, numLock | LockMask})
        XUngrabKey(m_display, grab.keycode, grab.modifiers | locks, m_root);
}

unsigned X11HotKeys::numLockMask() const {
    unsigned mask = 0;
    const KeyCode numLock = XKeysymToKeycode(m_display, XK_Num_Lock);
    XModifierKeymap *map = XGetModifierMapping(m_display);
    if (!map) return 0;
    for (int modifier = 0; modifier < 8 && numLock != 0; ++modifier)
        for (int i = 0; i < map->max_keypermod; ++i)
            if (map->modifiermap[modifier * map->max_keypermod + i] == numLock) mask |= 1u << modifier;
    XFreeModifiermap(map);
    return mask;
}

void X11HotKeys::handleEvent(XEvent &event) {
    if (event.type != KeyPress) return;
    // Only the modifier keys count: a mouse button held meanwhile does not change the combination.
    const unsigned modifierKeys = 0xFF;
    const unsigned state = event.xkey.state & modifierKeys & ~(LockMask | numLockMask());
    for (const Grab &grab : std::as_const(m_grabs)) {
        if (int(event.xkey.keycode) == grab.keycode && state == grab.modifiers) {
            if (m_onPress) m_onPress();
            break;
        }
    }
}
