// A key binding kept in the desktop's own keyboard settings that runs a command of the program,
// for desktops that give no program a shortcut of its own: the user asks for it, the desktop then
// runs the command from every window.
#pragma once

#include <QString>
#include <QtGlobal>

class DesktopKeybinding {
public:
    virtual ~DesktopKeybinding() = default;

    // Whether this desktop's keyboard settings can take the binding.
    virtual bool isAvailable() const = 0;
    // Whether the program's binding is there (with whatever keys the user has given it since).
    virtual bool hasEntry() const = 0;
    // Puts the program's binding there, or gives the one there these keys (a virtual key code and
    // the stored modifier bits) and command; every other binding stays as it is. False when it
    // could not be written.
    virtual bool bind(quint32 keyCode, quint32 modifiers, const QString &command) = 0;

    static DesktopKeybinding &system();
};
