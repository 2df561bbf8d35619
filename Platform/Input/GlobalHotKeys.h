// One system-wide key combination for the program, and the report of its presses.
#pragma once

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

    static GlobalHotKeys &system();
};
