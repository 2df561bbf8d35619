#include "Session/DesktopSession.h"

#include "X11/X11Connection.h"

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

bool DesktopSession::displayAnswers() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    return !(platform.isEmpty() || platform.startsWith("xcb")) || X11Connection::canConnect();
}

bool DesktopSession::runsOnLayerShell() {
    return current().prefersLayerShell() && QGuiApplication::platformName() == QLatin1String("wayland") &&
           layerShellOffered();
}

QString DesktopSession::panelBackEnd() {
    // Before the application exists (the help), the platform Stowbay would take here.
    const QString platform =
        qobject_cast<QGuiApplication *>(QCoreApplication::instance())
            ? QGuiApplication::platformName()
            : QString::fromLocal8Bit(qgetenv("QT_QPA_PLATFORM")).section(QLatin1Char(':'), 0, 0);
    const bool native = platform == QLatin1String("wayland") || (platform.isEmpty() && current().isWayland());
    if (native && current().prefersLayerShell() && layerShellOffered())
        return QStringLiteral("a native Wayland surface at the screen's edge (layer-shell)");
    if (!current().isWayland()) return QStringLiteral("an X11 window");
    if (native && !platform.isEmpty())
        return QStringLiteral("a native Wayland window, placed where the desktop puts it");
    return QStringLiteral("an X11 window on the session's XWayland");
}
