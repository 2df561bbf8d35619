// The panel's windows as native Wayland surfaces on the compositor's layer above normal windows
// (layer-shell), for sessions whose compositor offers it: each stands exactly where its geometry
// says, anchored to the nearest screen edge, without taking the keyboard when it appears; a click
// into it, or asking for it, gives it the keyboard.
#pragma once

class QWidget;

namespace LayerSurfaces {
// Whether the session's compositor offers layer-shell, asked on a connection of its own (before
// the application object exists).
bool offered();

// Makes `window` such a surface before it is first shown; from then on it follows the window's
// geometry.
// A window that takes the keyboard gets it from a click into it once it is on screen.
void configure(QWidget *window, bool takesKeyboard);
void activate(QWidget *window);
void resign(QWidget *window);
} // namespace LayerSurfaces
