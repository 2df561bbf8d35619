#include "AppSettings.h"
#include "DragWatcher.h"
#include "StowbayDragState.h"
#include "TestSupport.h"
#include "UserDefaults.h"

// The system's drag pasteboard and mouse, played by the test.
class FakeInput : public DragPasteboard, public MouseMonitor {
public:
    qint64 count = 0;
    std::optional<bool> files = true;
    int reads = 0;
    unsigned buttons = 0;
    QPointF location{500, 500};
    bool sampling = false;
    int monitorsAdded = 0;
    Handler handler;

    qint64 changeCount() const override { return count; }
    std::optional<bool> hasFileURLs() override {
        ++reads;
        return files;
    }
    int addMonitor(Handler h) override {
        handler = std::move(h);
        return ++monitorsAdded;
    }
    void removeMonitor(int) override { handler = {}; }
    unsigned pressedMouseButtons() override { return buttons; }
    QPointF mouseLocation() override { return location; }
    void setPointerSampling(bool on) override { sampling = on; }

    // Another application starts a drag with the given contents.
    void newDrag(std::optional<bool> hasFiles = true) {
        ++count;
        files = hasFiles;
        reads = 0;
        buttons = MouseMonitor::leftButton;
    }
    void dragTo(double x, double t, double y = 500, bool onPanel = false) {
        location = {x, y};
        if (handler) handler({MouseEvent::Type::leftMouseDragged, t, onPanel});
    }
    void mouseUp(double t, bool onPanel = false) {
        buttons = 0;
        if (handler) handler({MouseEvent::Type::leftMouseUp, t, onPanel});
    }
    // `swings` alternating swings of `travel` points, in steps of 10 points, spread evenly over
    // `duration` seconds from `t0`; vertical swings move y instead of x.
    double shake(double travel, int swings, double duration, double t0, bool vertical = false) {
        QList<double> path{0};
        for (int s = 0; s < swings; ++s) {
            const double from = s % 2 ? travel : 0, to = s % 2 ? 0 : travel;
            const int steps = int(std::ceil(travel / 10));
            for (int i = 1; i <= steps; ++i)
                path.append(from + (to - from) * i / steps);
        }
        double t = t0;
        for (int i = 0; i < path.size(); ++i) {
            t = t0 + duration * i / (path.size() - 1);
            if (vertical)
                dragTo(500, t, 500 + path[i]);
            else
                dragTo(500 + path[i], t);
        }
        return t;
    }
};

class tst_DragWatcher : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void dragWithTheChangeCountOfTheLastMouseUpNeverOpens();
    void dragWithoutFilesIsReadOnceAndNeverOpens();
    void contentsNotYetKnownAreAskedAgain();
    void shakeThresholds_data();
    void shakeThresholds();
    void secondShakeInTheSameDragTriggersAgain();
    void anyDragTriggersOncePerDrag();
    void pollEndsADragWhoseMouseUpWasNeverSeen();
    void mouseUpEndsTheDragOnce();
    void internalDragsAreIgnoredDuringAndAfter();
    void pressesOnThePanelAreIgnored();
    void startTwiceAndStop();

private:
    std::unique_ptr<MemoryUserDefaults> defaults;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<FakeInput> input;
    std::unique_ptr<DragWatcher> watcher;
    int triggers = 0;
    int ended = 0;
};

void tst_DragWatcher::init() {
    defaults = std::make_unique<MemoryUserDefaults>();
    settings = std::make_unique<AppSettings>(*defaults);
    input = std::make_unique<FakeInput>();
    input->count = 7;
    watcher = std::make_unique<DragWatcher>(*input, *input, *settings);
    triggers = ended = 0;
    watcher->onTrigger = [this] { ++triggers; };
    watcher->onDragEnded = [this] { ++ended; };
    watcher->start();
}

void tst_DragWatcher::cleanup() {
    watcher.reset();
    StowbayDragState::internalActive = false;
}

void tst_DragWatcher::dragWithTheChangeCountOfTheLastMouseUpNeverOpens() {
    // Files are on the pasteboard from a drag that is over: the count at construction is dealt with.
    input->buttons = MouseMonitor::leftButton;
    input->shake(50, 10, 0.5, 1);
    QCOMPARE(triggers, 0);
    QVERIFY(!watcher->isDragging());
    QCOMPARE(input->reads, 0);

    // A drag that began and ended between two events is dealt with at its mouse-up, which alone
    // calls nothing.
    input->newDrag(true);
    input->mouseUp(2);
    QCOMPARE(watcher->lastUpCount(), input->count);
    QCOMPARE(ended, 0);
    input->buttons = MouseMonitor::leftButton;
    input->shake(50, 10, 0.5, 3);
    QCOMPARE(triggers, 0);
    QVERIFY(!watcher->isDragging());
}

void tst_DragWatcher::dragWithoutFilesIsReadOnceAndNeverOpens() {
    settings->setOpenMode(OpenMode::anyDrag);
    input->newDrag(false);
    input->shake(50, 10, 0.5, 1);
    QCOMPARE(input->reads, 1);
    QCOMPARE(watcher->rejectedCount(), input->count);
    QCOMPARE(triggers, 0);
    QVERIFY(!watcher->isDragging());
    input->mouseUp(2);
    QCOMPARE(ended, 0);

    // The next drag, with files, is a new question.
    input->newDrag(true);
    input->dragTo(500, 3);
    QCOMPARE(input->reads, 1);
    QCOMPARE(triggers, 1);
}

void tst_DragWatcher::contentsNotYetKnownAreAskedAgain() {
    input->newDrag(std::nullopt);
    input->dragTo(500, 1);
    input->dragTo(510, 1.01);
    QCOMPARE(input->reads, 2);
    QCOMPARE(watcher->rejectedCount(), -1);
    QVERIFY(!watcher->isDragging());

    input->files = true; // the answer arrives
    input->dragTo(500, 1.02);
    QVERIFY(watcher->isDragging());
    QCOMPARE(input->reads, 3);
    input->shake(50, 5, 0.5, 1.1);
    QCOMPARE(triggers, 1);
}

void tst_DragWatcher::shakeThresholds_data() {
    QTest::addColumn<ShakeSensitivity>("sensitivity");
    QTest::addColumn<double>("travel");
    QTest::addColumn<int>("swings");
    QTest::addColumn<double>("duration");
    QTest::addColumn<bool>("vertical");
    QTest::addColumn<bool>("triggers");
    using S = ShakeSensitivity;
    QTest::newRow("normal: five 50-point swings in 0.5 s") << S::normal << 50.0 << 5 << 0.5 << false << true;
    QTest::newRow("normal: four swings are one reversal short")
        << S::normal << 50.0 << 4 << 0.5 << false << false;
    QTest::newRow("normal: the same swings over 2 s") << S::normal << 50.0 << 5 << 2.0 << false << false;
    QTest::newRow("normal: 39-point swings, however long")
        << S::normal << 39.0 << 60 << 6.0 << false << false;
    QTest::newRow("normal: exactly 40 points") << S::normal << 40.0 << 5 << 0.5 << false << true;
    QTest::newRow("normal: vertical shake") << S::normal << 100.0 << 20 << 0.7 << true << false;
    QTest::newRow("easy: three reversals of 30") << S::easy << 30.0 << 4 << 0.5 << false << true;
    QTest::newRow("easy: 29-point swings") << S::easy << 29.0 << 30 << 3.0 << false << false;
    QTest::newRow("gentle: four reversals are not enough") << S::gentle << 60.0 << 5 << 0.5 << false << false;
    QTest::newRow("gentle: five reversals of 55") << S::gentle << 55.0 << 6 << 0.6 << false << true;
    QTest::newRow("gentle: 50-point swings") << S::gentle << 50.0 << 30 << 3.0 << false << false;
}

void tst_DragWatcher::shakeThresholds() {
    QFETCH(ShakeSensitivity, sensitivity);
    QFETCH(double, travel);
    QFETCH(int, swings);
    QFETCH(double, duration);
    QFETCH(bool, vertical);
    QFETCH(bool, triggers);

    settings->setSensitivity(sensitivity);
    input->newDrag(true);
    input->dragTo(500, 1);
    QVERIFY(watcher->isDragging());
    QVERIFY(input->sampling);
    input->shake(travel, swings, duration, 1.01, vertical);
    QCOMPARE(this->triggers > 0, triggers);
}

void tst_DragWatcher::secondShakeInTheSameDragTriggersAgain() {
    input->newDrag(true);
    const double t = input->shake(50, 5, 0.5, 1);
    QCOMPARE(triggers, 1);
    // The samples of the first shake are gone: two more swings alone are not a shake.
    input->shake(50, 2, 0.1, t + 0.01);
    QCOMPARE(triggers, 1);
    input->shake(50, 5, 0.5, t + 0.2);
    QCOMPARE(triggers, 2);
    QCOMPARE(ended, 0);
}

void tst_DragWatcher::anyDragTriggersOncePerDrag() {
    settings->setOpenMode(OpenMode::anyDrag);
    input->newDrag(true);
    input->dragTo(500, 1);
    QCOMPARE(triggers, 1);
    QVERIFY(!input->sampling); // no samples are needed in this mode
    input->shake(50, 12, 0.5, 1.1);
    QCOMPARE(triggers, 1);
    input->mouseUp(2);
    QCOMPARE(ended, 1);

    input->newDrag(true);
    input->dragTo(600, 3);
    QCOMPARE(triggers, 2);
}

void tst_DragWatcher::pollEndsADragWhoseMouseUpWasNeverSeen() {
    input->newDrag(true);
    input->dragTo(500, 1);
    QVERIFY(watcher->isDragging());
    QVERIFY(watcher->isPolling());

    // Still held: the poll leaves the drag alone.
    QTest::qWait(2 * DragWatcher::pollInterval);
    QVERIFY(watcher->isDragging());

    input->buttons = 0; // released where no event reaches us
    QTRY_COMPARE_WITH_TIMEOUT(ended, 1, 5000);
    QVERIFY(!watcher->isDragging());
    QVERIFY(!watcher->isPolling());
    QVERIFY(!input->sampling);
    QCOMPARE(watcher->lastUpCount(), input->count);

    // A late mouse-up ends nothing more.
    input->mouseUp(3);
    QCOMPARE(ended, 1);
}

void tst_DragWatcher::mouseUpEndsTheDragOnce() {
    input->newDrag(true);
    input->shake(50, 5, 0.5, 1);
    input->mouseUp(2);
    input->mouseUp(2.1);
    QCOMPARE(ended, 1);
    QVERIFY(!watcher->isPolling());
    QVERIFY(!input->sampling);

    // The same drag's pasteboard, seen again with the button down, does not start a drag.
    input->buttons = MouseMonitor::leftButton;
    input->shake(50, 5, 0.5, 3);
    QCOMPARE(triggers, 1);
    QVERIFY(!watcher->isDragging());
}

void tst_DragWatcher::internalDragsAreIgnoredDuringAndAfter() {
    settings->setOpenMode(OpenMode::anyDrag);
    // A drag out of the panel: its files are on the pasteboard.
    StowbayDragState::internalActive = true;
    input->newDrag(true);
    input->shake(50, 10, 0.5, 1);
    QCOMPARE(triggers, 0);
    QCOMPARE(watcher->lastUpCount(), input->count);
    StowbayDragState::internalActive = false;
    StowbayDragState::postInternalDragEnded();
    input->shake(50, 10, 0.5, 2); // the button is still down as the flag drops
    QCOMPARE(triggers, 0);

    // A drag out of the panel so quick that no dragged event came while the flag was set: the
    // notification at its end records it.
    input->newDrag(true);
    input->buttons = 0;
    StowbayDragState::postInternalDragEnded();
    QCOMPARE(watcher->lastUpCount(), input->count);
    input->buttons = MouseMonitor::leftButton;
    input->dragTo(600, 3);
    QCOMPARE(triggers, 0);
    QCOMPARE(ended, 0);
}

void tst_DragWatcher::pressesOnThePanelAreIgnored() {
    const qint64 before = watcher->lastUpCount();
    input->newDrag(true);
    for (int i = 0; i < 20; ++i)
        input->dragTo(500 + (i % 2) * 80, 1 + i * 0.02, 500, true);
    input->mouseUp(2, true);
    QCOMPARE(triggers, 0);
    QVERIFY(!watcher->isDragging());
    QCOMPARE(watcher->lastUpCount(), before);
}

void tst_DragWatcher::startTwiceAndStop() {
    watcher->start();
    QCOMPARE(input->monitorsAdded, 1);

    input->newDrag(true);
    input->dragTo(500, 1);
    watcher->stop();
    QVERIFY(!input->handler);
    QVERIFY(!input->sampling);
    QVERIFY(!watcher->isPolling());
    QVERIFY(watcher->isDragging()); // left as it was
    StowbayDragState::postInternalDragEnded();
    QVERIFY(watcher->lastUpCount() != input->count);

    watcher->start();
    QCOMPARE(input->monitorsAdded, 2);
}

STOWBAY_TEST_MAIN(tst_DragWatcher)
#include "tst_DragWatcher.moc"
