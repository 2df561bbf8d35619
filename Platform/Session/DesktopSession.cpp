#include "Session/DesktopSession.h"

#ifdef STOWBAY_LAYER_SHELL
#include "Wayland/LayerSurfaces.h"
#endif

#include <QGuiApplication>

namespace {
bool names(const QString &desktops, const char *name) {
    return desktops.split(QLatin1Char(':')).contains(QLatin1String(name), Qt::CaseInsensitive);
}
} // namespace

DesktopSession DesktopSession::from(const QProcessEnvironment &environment) {
    DesktopSession session;
    if (!environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty() ||
        environment.value(QStringLiteral("XDG_SESSION_TYPE")) == QLatin1String("wayland"))
        session.kind = Kind::wayland;
    const QString desktops = environment.value(QStringLiteral("XDG_CURRENT_DESKTOP"));
    if (names(desktops, "GNOME") || names(desktops, "Unity"))
        session.compositor = Compositor::mutter;
    else if (names(desktops, "KDE"))
        session.compositor = Compositor::kwin;
    else if (names(desktops, "sway") || names(desktops, "wlroots") ||
             environment.contains(QStringLiteral("SWAYSOCK")))
        session.compositor = Compositor::sway;
    return session;
}

const DesktopSession &DesktopSession::current() {
    static const DesktopSession session = from(QProcessEnvironment::systemEnvironment());
    return session;
}

namespace {
// Asked once: whether the compositor offers layer-shell to this build.
bool layerShellOffered() {
#ifdef STOWBAY_LAYER_SHELL
    static const bool offered = LayerSurfaces::offered();
    return offered;
#else
    return false;
#endif
}
} // namespace

void DesktopSession::choosePlatform() {
    if (!current().isWayland() || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return;
    qputenv("QT_QPA_PLATFORM", current().prefersLayerShell() && layerShellOffered() ? "wayland" : "xcb");
}

bool DesktopSession::runsOnLayerShell() {
    return current().prefersLayerShell() && QGuiApplication::platformName() == QLatin1String("wayland") &&
           layerShellOffered();
}

QString DesktopSession::panelBackEnd() {
    if (runsOnLayerShell()) return QStringLiteral("native Wayland (layer-shell)");
    return current().isWayland() ? QStringLiteral("XWayland") : QStringLiteral("X11");
}
