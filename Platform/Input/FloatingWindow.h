// The kind of top-level window the panel, its tab and the edge target are on this desktop: a
// window of its own on the X server, or a surface anchored to the screen's edge in a Wayland
// session whose compositor offers that. The one place that knows which of the two serves it.
#pragma once

#include <QObject>
#include <functional>

class QWidget;

namespace FloatingWindow {
// Makes `window` a floating panel before it is first shown: above normal windows, shown without
// taking the keyboard, placed exactly where its geometry says (partly or wholly beyond the screen's
// edge too) and left there by the desktop. One that never `takesKeyboard` (a drop target) is
// never given it, not even by a click.
void configure(QWidget *window, bool takesKeyboard = true);

// Asks the compositor to blur what lies behind `window`, where it offers that to every window;
// true when it does.
bool blurBehind(QWidget *window);

// Fades `window` to `opacity` (0 to 1), where the desktop draws windows translucent.
void setOpacity(QWidget *window, double opacity);

// Gives `window` the keyboard, remembering who had it; resign() hands it back.
void activate(QWidget *window);
void resign(QWidget *window);

// Whether translucent pixels show what lies behind (a compositor draws the screen); `onChange` is
// called on the main thread, for as long as `context` lives, whenever that changes.
bool isTranslucent();
void watchTranslucency(QObject *context, std::function<void(bool translucent)> onChange);
} // namespace FloatingWindow
