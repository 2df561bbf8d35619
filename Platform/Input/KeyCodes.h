// Keys are stored as the virtual key codes of an ANSI keyboard (S is 1), whatever the keyboard in
// use; these map them onto the desktop's key symbols (keysyms) and Qt keys and back.
#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

namespace KeyCodes {

// The keysym of the key, or nullopt for a code no key has.
std::optional<quint32> keysym(quint32 virtualKey);
// The keysym's name, as desktops' key bindings name the key ("s", "F5", "Return"); empty for a code
// no key has.
QString keysymName(quint32 virtualKey);
// The Qt::Key of the key; keypad keys share theirs with the main block (Qt adds KeypadModifier).
std::optional<int> qtKey(quint32 virtualKey);
bool isKeypad(quint32 virtualKey);
// The virtual key code of a Qt key, the keypad's when `keypad` (falling back to the main block's).
std::optional<quint32> virtualKey(int qtKey, bool keypad = false);
// The virtual key code of the key a key event's native scan code names, read without modifiers in
// the X server's keyboard map in use (Shift-1 is the 1 key, whatever it types); nullopt without an
// X display.
std::optional<quint32> virtualKeyOfScanCode(quint32 nativeScanCode);

} // namespace KeyCodes
