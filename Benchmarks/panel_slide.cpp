// Frames of the panel's 0.38 s slide-in on a real X server, beside a plain window moved by a plain
// QPropertyAnimation over the same distance and time in the same run: how many frames the
// animation computed (its fade changes every frame; near the overshoot's turn two frames may
// round to the same place, so moves alone undercount), how many came late (more than 1.5 display
// refreshes after the one before), and the process's CPU time for the slide.
//   stowbay_panel_slide [RUNS]
#include "InteractionFixture.h"
#include "Panel/StowbayPanelController.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QPropertyAnimation>
#include <QScreen>
#include <cstdio>
#include <sys/resource.h>

namespace {
double cpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// The frames of an animation, and the time between them.
struct Frames : QObject {
    QElapsedTimer clock;
    QList<qint64> times;
    void watch(QVariantAnimation *animation) {
        connect(animation, &QVariantAnimation::valueChanged, this, [this] { times << clock.nsecsElapsed(); });
    }
    void report(const char *what, double cpu, double refreshMs) {
        int late = 0;
        QStringList gaps;
        for (int i = 1; i < times.size(); ++i) {
            const double gap = (times[i] - times[i - 1]) / 1e6;
            if (gap > 1.5 * refreshMs) {
                ++late;
                gaps << QStringLiteral("#%1: %2 ms").arg(i).arg(gap, 0, 'f', 1);
            }
        }
        if (!gaps.isEmpty()) std::printf("  late: %s\n", qPrintable(gaps.join(", ")));
        std::printf("%-14s frames %3lld  late %2d  cpu %6.1f ms\n", what, qlonglong(times.size()), late, cpu);
    }
};
} // namespace

int main(int argc, char **argv) {
    TestSupport::isolateHome();
    QApplication app(argc, argv);
    const int runs = argc > 1 ? atoi(argv[1]) : 5;
    const double refreshMs = 1000.0 / QGuiApplication::primaryScreen()->refreshRate();
    std::printf("display refresh %.1f ms\n", refreshMs);
    InteractionFixture f(words("A B C D E"));
    StowbayPanelController controller(*f.store, *f.interaction, f.settings, [] { return false; });
    controller.mouseLocation = [] { return QPoint(10, 10); };
    const QRect target = controller.expandedFrame(QGuiApplication::primaryScreen());

    QWidget plain;
    plain.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    for (int run = 0; run < runs; ++run) {
        Frames panelFrames;
        double cpu = cpuMs();
        panelFrames.clock.start();
        controller.present(true);
        for (QPropertyAnimation *a : controller.findChildren<QPropertyAnimation *>())
            if (a->propertyName() == "fade" && a->state() == QAbstractAnimation::Running)
                panelFrames.watch(a);
        QTest::qWait(380);
        panelFrames.report("panel", cpuMs() - cpu, refreshMs);
        controller.collapse();
        QTest::qWait(700);

        Frames plainFrames;
        plain.setGeometry(controller.slidOut(target));
        plain.show();
        QTest::qWait(100);
        QPropertyAnimation move(&plain, "geometry");
        move.setDuration(380);
        move.setEndValue(target);
        plainFrames.watch(&move);
        cpu = cpuMs();
        plainFrames.clock.start();
        move.start();
        QTest::qWait(380);
        plainFrames.report("plain window", cpuMs() - cpu, refreshMs);
        plain.hide();
        QTest::qWait(200);
    }
    return 0;
}
