#include "Input/FloatingWindow.h"

#include "Session/DesktopSession.h"
#include "X11/FloatingWindow.h"
#ifdef STOWBAY_LAYER_SHELL
#include "Wayland/LayerSurfaces.h"
#endif

#include <QWidget>

namespace {
bool onLayerShell() {
#ifdef STOWBAY_LAYER_SHELL
    return DesktopSession::runsOnLayerShell();
#else
    return false;
#endif
}
} // namespace

void FloatingWindow::configure(QWidget *window, bool takesKeyboard) {
#ifdef STOWBAY_LAYER_SHELL
    if (onLayerShell()) return LayerSurfaces::configure(window, takesKeyboard);
#endif
    (void)takesKeyboard; // an X11 window is given the keyboard only when asked
    X11FloatingWindow::configure(window);
}

bool FloatingWindow::blurBehind(QWidget *window) {
    return !onLayerShell() && X11FloatingWindow::blurBehind(window);
}

void FloatingWindow::setOpacity(QWidget *window, double opacity) {
    // A layer surface has no opacity of its own: it slides, and is drawn as it is.
    if (!onLayerShell()) window->setWindowOpacity(opacity);
}

void FloatingWindow::activate(QWidget *window) {
#ifdef STOWBAY_LAYER_SHELL
    if (onLayerShell()) return LayerSurfaces::activate(window);
#endif
    X11FloatingWindow::activate(window);
}

void FloatingWindow::resign(QWidget *window) {
#ifdef STOWBAY_LAYER_SHELL
    if (onLayerShell()) return LayerSurfaces::resign(window);
#endif
    X11FloatingWindow::resign(window);
}

bool FloatingWindow::isTranslucent() {
    // A Wayland compositor always draws translucent surfaces as such.
    return onLayerShell() || Compositor::shared().isActive();
}

void FloatingWindow::watchTranslucency(QObject *context, std::function<void(bool translucent)> onChange) {
    if (onLayerShell()) return;
    QObject::connect(&Compositor::shared(), &Compositor::activeChanged, context, std::move(onChange));
}
