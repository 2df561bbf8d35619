// Drags from another process, seen by the drag watcher on the real X server.
#include "AppSettings.h"
#include "DragWatcher.h"
#include "PanelWindows.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "X11DragInput.h"

#include <QProcess>
#include <QWidget>

#include "XTestDriver.h"

class tst_SystemDrags : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void dragsFromAnotherProcess_data();
    void dragsFromAnotherProcess();
    void pressesOnThePanelAreThePanelsOwn();

private:
    bool startDragAt(QPoint at);
    void pressAndMove(QPoint at);
    void shake() {
        for (int s = 0; s < 24; ++s)
            x.moveBy((s / 4) % 2 ? -20 : 20, 0);
    }

    XTestDriver x;
    X11DragInput input;
    MemoryUserDefaults defaults;
    AppSettings settings{defaults};
    DragWatcher watcher{input, input, settings};
    QProcess source;
    QByteArray sourceOutput;
    int triggers = 0, ended = 0;
};

void tst_SystemDrags::initTestCase() {
    QVERIFY2(x.display() && input.isConnected(), "the desktop tests need an X display");
    connect(&source, &QProcess::readyReadStandardOutput, this,
            [this] { sourceOutput += source.readAllStandardOutput(); });
    watcher.onTrigger = [this] { ++triggers; };
    watcher.onDragEnded = [this] { ++ended; };
    watcher.start();
}

void tst_SystemDrags::cleanup() {
    x.button(false);
    source.kill();
    source.waitForFinished();
    sourceOutput.clear();
    triggers = ended = 0;
}

void tst_SystemDrags::pressAndMove(QPoint at) {
    x.moveTo(at.x(), at.y());
    x.button(true);
    for (int i = 0; i < 5; ++i)
        x.moveBy(6, 0);
}

// True once a press and a move at `at` have made a drag take the pasteboard with contents known.
// A hand keeps moving a little while the drag gets under way.
bool tst_SystemDrags::startDragAt(QPoint at) {
    const qint64 before = input.changeCount();
    pressAndMove(at);
    for (int i = 0; i < 100; ++i) {
        if (input.changeCount() > before && input.hasFileURLs().has_value()) return true;
        x.moveBy(i % 2 ? -2 : 2, 0);
    }
    return false;
}

void tst_SystemDrags::dragsFromAnotherProcess_data() {
    QTest::addColumn<bool>("files");
    QTest::newRow("files") << true;
    QTest::newRow("text") << false;
}

void tst_SystemDrags::dragsFromAnotherProcess() {
    QFETCH(bool, files);
    source.start(qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/stowbay_dragsource",
                 {files ? "files" : "text", "100", "100", "300", "300"});
    QVERIFY(QTest::qWaitFor([this] { return sourceOutput.contains("ready"); }, 10000));
    // Two drags from the same source: each is new, though the pasteboard's owner stays the same.
    for (int drag = 1; drag <= 2; ++drag) {
        sourceOutput.clear();
        QVERIFY(startDragAt({250, 250}));
        QCOMPARE(input.hasFileURLs(), std::optional<bool>(files));
        shake();
        if (files) QTRY_COMPARE(triggers, drag);
        x.button(false);
        QTRY_VERIFY_WITH_TIMEOUT(sourceOutput.contains("dropped"), 10000);
        QTRY_COMPARE(ended, files ? drag : 0);
    }
    // A shaken press on the desktop after the drop starts nothing: the pasteboard is as it was.
    pressAndMove({1000, 700});
    shake();
    x.button(false);
    QCOMPARE(triggers, files ? 2 : 0);
    QCOMPARE(ended, files ? 2 : 0);
    QVERIFY(!watcher.isDragging());
}

void tst_SystemDrags::pressesOnThePanelAreThePanelsOwn() {
    QWidget panel; // framed by the window manager, like any top-level window
    panel.resize(240, 200);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    PanelWindows::add(panel.winId());
    QList<MouseEvent> events;
    const int token = input.addMonitor([&](const MouseEvent &e) { events.append(e); });
    // Inside the panel, then the same gesture beside it.
    for (const bool inside : {true, false}) {
        events.clear();
        pressAndMove(inside ? panel.mapToGlobal(panel.rect().center())
                            : panel.frameGeometry().bottomRight() + QPoint(40, 40));
        x.button(false);
        QTRY_VERIFY(!events.isEmpty() && events.last().type == MouseEvent::Type::leftMouseUp);
        for (const MouseEvent &e : events)
            QCOMPARE(e.onPanel, inside);
    }
    input.removeMonitor(token);
    PanelWindows::remove(panel.winId());
}

STOWBAY_TEST_MAIN(tst_SystemDrags)
#include "tst_SystemDrags.moc"
