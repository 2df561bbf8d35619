#include "Session/DesktopSession.h"

#include <QTest>

Q_DECLARE_METATYPE(DesktopSession::Kind)
Q_DECLARE_METATYPE(DesktopSession::Compositor)

class tst_DesktopSession : public QObject {
    Q_OBJECT
private slots:
    void session_data() {
        using K = DesktopSession::Kind;
        using C = DesktopSession::Compositor;
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<K>("kind");
        QTest::addColumn<C>("compositor");
        QTest::newRow("nothing set") << QStringList{} << K::x11 << C::other;
        QTest::newRow("X11 Plasma") << QStringList{"XDG_CURRENT_DESKTOP=KDE", "XDG_SESSION_TYPE=x11"}
                                    << K::x11 << C::kwin;
        QTest::newRow("an empty WAYLAND_DISPLAY is none")
            << QStringList{"WAYLAND_DISPLAY="} << K::x11 << C::other;
        QTest::newRow("Ubuntu") << QStringList{"XDG_SESSION_TYPE=wayland", "XDG_CURRENT_DESKTOP=ubuntu:GNOME"}
                                << K::wayland << C::mutter;
        QTest::newRow("Plasma 6") << QStringList{"WAYLAND_DISPLAY=wayland-0", "XDG_CURRENT_DESKTOP=KDE"}
                                  << K::wayland << C::kwin;
        QTest::newRow("sway from its socket alone")
            << QStringList{"WAYLAND_DISPLAY=wayland-1", "SWAYSOCK=/x"} << K::wayland << C::sway;
        QTest::newRow("another compositor")
            << QStringList{"WAYLAND_DISPLAY=w", "XDG_CURRENT_DESKTOP=Hyprland"} << K::wayland << C::other;
    }
    // Which session, and which compositor's ways with X11 windows, follow from the environment.
    void session() {
        QFETCH(QStringList, environment);
        QProcessEnvironment e;
        for (const QString &v : environment)
            e.insert(v.section('=', 0, 0), v.section('=', 1));
        QFETCH(DesktopSession::Kind, kind);
        QFETCH(DesktopSession::Compositor, compositor);
        const DesktopSession s = DesktopSession::from(e);
        QCOMPARE(s.kind, kind);
        QCOMPARE(s.compositor, compositor);
    }
};

QTEST_GUILESS_MAIN(tst_DesktopSession)
#include "tst_DesktopSession.moc"
