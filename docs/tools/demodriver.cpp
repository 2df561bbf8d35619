// The README's tour (scripts/demo): the real Stowbay on a fresh profile and a real file manager,
// driven by hand through XTEST, with a picture of the whole screen after each step.
//   stowbay_demo_driver STOWBAY_BINARY SCREENSHOT_FOLDER
// Each step is checked as it happens; the first one that does not happen ends the tour with a
// picture of how the screen looked then (demo-failed.png) and exit status 1.
#include "TestSupport.h"
#include "X11/X11DragInput.h"

#include <QImage>
#include <QPainter>
#include <csignal>
#include <cstdio>

#include "DesktopWindows.h"
#include "XTestDriver.h"
#include <X11/keysym.h>

using namespace DesktopWindows;
using TestSupport::storedContents;

namespace {
constexpr int timeoutMs = 20000;
const QStringList files = {"quarterly-report.txt", "team-photo.png", "meeting-notes.md"};

QString shots;
QProcess stowbay, fromWindow, toWindow;

void shoot(const QString &name) {
    run("import", {"-window", "root", shots + "/" + name});
    std::printf("  %s\n", qPrintable(name));
}

void stopAll() {
    if (stowbay.state() != QProcess::NotRunning) {
        ::kill(pid_t(stowbay.processId()), SIGTERM);
        stowbay.waitForFinished(timeoutMs);
    }
    for (QProcess *window : {&fromWindow, &toWindow}) {
        window->kill();
        window->waitForFinished();
    }
}

void expect(bool happened, const char *what) {
    if (happened) return;
    std::fprintf(stderr, "demo: %s\n", what);
    shoot("demo-failed.png");
    stopAll();
    std::exit(1);
}

bool allHeld() {
    const QByteArray stored = storedContents();
    return std::all_of(files.begin(), files.end(),
                       [&](const QString &f) { return stored.contains(f.toUtf8()); });
}

void writeFiles(const QString &folder) {
    for (const QString &name : files) {
        if (name.endsWith(".png")) {
            QImage photo(320, 240, QImage::Format_RGB32);
            QPainter p(&photo);
            p.fillRect(photo.rect(), QColor("#7fb3d5"));
            p.setBrush(QColor("#f4d03f"));
            p.drawEllipse(QPoint(240, 60), 30, 30);
            p.fillRect(0, 170, 320, 70, QColor("#52be80"));
            p.end();
            photo.save(folder + "/" + name);
        } else {
            QFile file(folder + "/" + name);
            file.open(QIODevice::WriteOnly);
            file.write("Figures for the third quarter, and what the team makes of them.\n");
        }
    }
}

class Tour {
public:
    // The panel when it shows as `width` points wide (240 expanded, 16 the tab), and where it
    // rests once its slide has ended and the compositor has drawn it.
    bool panelShows(int width) {
        const auto shows = [&] {
            for (const QRect &r : windowsOf(stowbay.processId()))
                if (r.width() == width && r.height() >= 96) return bool(m_panel = r);
            return false;
        };
        if (!QTest::qWaitFor(shows, timeoutMs)) return false;
        QTest::qWait(700);
        return shows();
    }
    void take(const QString &stowbayBinary) {
        expect(m_x.display() && m_input.isConnected(), "needs a desktop session (scripts/demo)");
        const QString home = QDir::homePath();
        const QString from = home + "/Documents", to = home + "/Projects";
        QDir().mkpath(from);
        QDir().mkpath(to);
        writeFiles(from);

        // 1. The first start explains the gesture; Return closes the welcome.
        stowbay.setProcessChannelMode(QProcess::ForwardedChannels);
        stowbay.start(stowbayBinary, {});
        expect(QTest::qWaitFor(
                   [] {
                       return !run("xdotool", {"search", "--onlyvisible", "--name", "Welcome to Stowbay"})
                                   .isEmpty();
                   },
                   timeoutMs),
               "no welcome on the first start");
        QTest::qWait(2500); // the drawing of the gesture halfway through
        shoot("demo-1-welcome.png");
        m_x.chord({XK_Return});
        expect(QTest::qWaitFor(
                   [] {
                       return run("xdotool", {"search", "--onlyvisible", "--name", "Welcome to Stowbay"})
                           .isEmpty();
                   },
                   timeoutMs),
               "Return did not close the welcome");

        // 2. Two folder windows of the file manager, the files selected in the first.
        fromWindow.start("pcmanfm", {"--no-desktop", "--new-win", from});
        const QRect source = placeWindow("Documents", {20, 20}, {800, 360});
        toWindow.start("pcmanfm", {"--no-desktop", "--new-win", to});
        const QRect target = placeWindow("Projects", {20, 420}, {800, 360});
        // The test desktop's window manager gives a window the keyboard when asked, not on a click.
        run("xdotool", {"search", "--onlyvisible", "--name", "Documents", "windowactivate", "--sync", "%1"});
        m_x.moveTo(source.right() - 60, source.bottom() - 70); // an empty spot of the folder view
        m_x.button(true);
        m_x.button(false);
        m_x.chord({XK_Control_L, XK_a});
        QTest::qWait(700);
        shoot("demo-2-files.png");

        // 3. Dragged out of the folder and shaken: the panel slides in.
        const bool started = startDragInFolder(m_x, m_input, source);
        expect(started, "no drag could be started in the file manager");
        m_x.shake();
        expect(panelShows(240), "the shake opened no panel");
        const QPoint header = m_panel->topLeft() + QPoint(60, 18);
        m_x.moveTo(header.x(), header.y());
        for (int i = 0; i < 10; ++i)
            m_x.moveBy(i % 2 ? -2 : 2, 0);
        QTest::qWait(700);
        shoot("demo-3-shake.png");

        // 4. Dropped on the panel: it holds the three files.
        m_x.button(false);
        expect(QTest::qWaitFor(allHeld, timeoutMs), "the panel did not take the files");
        QTest::qWait(700);
        shoot("demo-4-held.png");

        // 5. Away from the panel it folds into the tab.
        m_x.moveTo(400, 200);
        expect(panelShows(16), "no tab after the drag");
        shoot("demo-5-tab.png");

        // 6. The pointer on the tab opens the panel; "Drag all" carries the files to the other folder.
        m_x.moveTo(m_panel->center().x(), m_panel->center().y());
        expect(panelShows(240), "the tab did not open the panel");
        const QPoint dragAll(m_panel->center().x(), m_panel->bottom() - 10 - 15);
        int wiggles = 0;
        dragByHand(dragAll, target.center() + QPoint(100, 0), [&] {
            if (++wiggles == 30) shoot("demo-6-drag-all.png");
            return wiggles > 60;
        });
        const auto arrived = [&] {
            return std::all_of(files.begin(), files.end(),
                               [&](const QString &f) { return QFile::exists(to + "/" + f); });
        };
        expect(QTest::qWaitFor(arrived, timeoutMs), "the files did not arrive in the other folder");
        const auto noneHeld = [] {
            const QByteArray stored = storedContents();
            return std::none_of(files.begin(), files.end(),
                                [&](const QString &f) { return stored.contains(f.toUtf8()); });
        };
        expect(QTest::qWaitFor(noneHeld, timeoutMs), "the panel still holds the files after they moved");
        // 7. The files are in the other folder, and the panel, empty now, gets out of the way.
        m_x.moveTo(400, 200);
        expect(QTest::qWaitFor(
                   [] {
                       const QList<QRect> shown = windowsOf(stowbay.processId());
                       return std::none_of(shown.begin(), shown.end(),
                                           [](const QRect &r) { return r.width() == 240; });
                   },
                   timeoutMs),
               "the empty panel stayed open");
        QTest::qWait(700);
        shoot("demo-7-moved.png");
        stopAll();
    }

private:
    XTestDriver m_x;
    X11DragInput m_input;
    std::optional<QRect> m_panel;
};
} // namespace

int main(int argc, char **argv) {
    TestSupport::isolateHome(); // a fresh profile for Stowbay and the file manager alike
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s STOWBAY_BINARY SCREENSHOT_FOLDER\n", argv[0]);
        return 2;
    }
    shots = QString::fromLocal8Bit(argv[2]);
    Tour().take(QString::fromLocal8Bit(argv[1]));
    return 0;
}
