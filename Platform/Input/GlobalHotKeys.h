// One system-wide key combination for the program, and the report of its presses.
#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>

class GlobalHotKeys {
public:
    using Ref = int;

    virtual ~GlobalHotKeys() = default;

    // `onPress` is called on the main thread for every press of a registered combination; releases
    // are not reported. False when it could not be installed.
    virtual bool installPressHandler(std::function<void()> onPress) = 0;
    // Takes the combination (a virtual key code and the stored modifier bits) for the program;
    // nullopt when it cannot be had (another program holds it, or no key has that code), in which
    // case nothing is held.
    virtual std::optional<Ref> registerHotKey(quint32 keyCode, quint32 modifiers) = 0;
    virtual void unregisterHotKey(Ref ref) = 0;

    // Where the desktop holds the combination for the program (a Wayland desktop's shortcut
    // service), the keys it gave, in its own words; the user may change them in the desktop's
    // settings. Empty where the program holds the combination itself.
    virtual QString desktopTrigger() const { return {}; }
    // False where no program's combination reaches it from every window (a Wayland desktop with
    // no shortcut service: there keys reach the program only from X11 windows).
    virtual bool reachesEveryWindow() const { return true; }
    // Where the desktop has a dialog of its own for the program's shortcuts, which then replaces
    // recording keys in the program.
    virtual bool configuresOnDesktop() const { return false; }
    virtual void configureOnDesktop() {}
    // `onChange` is called on the main thread when any of the three above changes.
    virtual void installChangeHandler(std::function<void()> onChange) { (void)onChange; }

    static GlobalHotKeys &system();
};
