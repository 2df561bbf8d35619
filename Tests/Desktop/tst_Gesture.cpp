// The whole gesture with the real program, as a person does it: a file dragged out of a real file
// manager (a GTK program: it owns the pasteboard differently from a Qt one) and shaken opens the
// panel, the file dropped there is held, the panel folds into the tab after the drag, the pointer
// on the tab opens it, and "Drag all" into another folder window moves the file there and takes the
// item off.
#include "Items/StowbayItem.h"
#include "TestSupport.h"
#include "X11/X11DragInput.h"

#include "DesktopWindows.h"
#include "XTestDriver.h"

using namespace DesktopWindows;
using TestSupport::storedContents;

class tst_Gesture : public QObject {
    Q_OBJECT
private:
    static constexpr int timeoutMs = 20000;
    XTestDriver x;
    X11DragInput input;
    std::optional<QRect> m_panel;

    // The panel when it shows as `width` points wide (240 expanded, 16 the tab).
    bool panelShows(qint64 pid, int width) {
        return QTest::qWaitFor(
            [&] {
                for (const QRect &r : windowsOf(pid))
                    if (r.width() == width && r.height() >= 96) return bool(m_panel = r);
                return false;
            },
            timeoutMs);
    }

private slots:
    void wholeGesture() {
        QVERIFY2(x.display() && input.isConnected(), "needs the test desktop");
        QTemporaryDir dir;
        const QString from = dir.filePath("stowbay-from"), to = dir.filePath("stowbay-to");
        QVERIFY(QDir().mkpath(from) && QDir().mkpath(to));
        QFile file(from + "/report.txt");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("quarterly numbers") > 0);
        file.close();

        QProcess stowbay, fromWindow, toWindow;
        stowbay.setProcessChannelMode(QProcess::ForwardedChannels);
        stowbay.start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), {});
        fromWindow.start("pcmanfm", {"--no-desktop", from});
        const QRect source = placeWindow("stowbay-from", {0, 0});
        toWindow.start("pcmanfm", {"--no-desktop", "--new-win", to});
        const QRect target = placeWindow("stowbay-to", {0, 520});
        QTRY_VERIFY_WITH_TIMEOUT(!windowsOf(stowbay.processId()).isEmpty(), timeoutMs); // the tray icon

        const bool started = startDragInFolder(x, input, source);
        if (!started) run("import", {"-window", "root", "/tmp/gesture-fail.png"});
        QVERIFY2(started, "no drag could be started in the file manager");
        QCOMPARE(input.hasFileURLs(), std::optional<bool>(true));
        x.shake();
        QVERIFY2(panelShows(stowbay.processId(), 240), "the shake opened no panel");

        // Dropped on the header, and held.
        const QPoint header = m_panel->topLeft() + QPoint(60, 18);
        x.moveTo(header.x(), header.y());
        for (int i = 0; i < 10; ++i)
            x.moveBy(i % 2 ? -2 : 2, 0);
        x.button(false);
        QTRY_VERIFY_WITH_TIMEOUT(storedContents().contains("report.txt"), timeoutMs);

        // Away from the panel it folds into the tab; the pointer on the tab opens it again.
        x.moveTo(400, 300);
        QVERIFY2(panelShows(stowbay.processId(), 16), "no tab after the drag");
        x.moveTo(m_panel->center().x(), m_panel->center().y());
        QVERIFY2(panelShows(stowbay.processId(), 240), "the tab did not open the panel");
        QVERIFY(panelShows(stowbay.processId(), 240)); // at rest

        // "Drag all" into the other folder: the file manager moves the file, and the item goes.
        const QPoint dragAll(m_panel->center().x(), m_panel->bottom() - 10 - 15);
        std::atomic<int> wiggles = 0;
        dragByHand(dragAll, target.center() + QPoint(100, 0), [&] { return ++wiggles > 60; });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(to + "/report.txt"), timeoutMs);
        QVERIFY(!QFile::exists(from + "/report.txt"));
        QTRY_COMPARE_WITH_TIMEOUT(StoredItems::decode(storedContents()), std::optional(QList<StowbayItem>()),
                                  timeoutMs);
        for (QProcess *p : {&stowbay, &fromWindow, &toWindow})
            p->kill(), p->waitForFinished();
    }
};

STOWBAY_TEST_MAIN(tst_Gesture)
#include "tst_Gesture.moc"
