#include "Interaction/StowbayDragState.h"
#include "Session/UserDefaults.h"
#include "Settings/AppSettings.h"
#include "TestSupport.h"
#include "Triggers/DragWatcher.h"

// The system's drag pasteboard and mouse, played by the test, and a drag watcher on them.
class Fixture : public DragPasteboard, public MouseMonitor {
public:
    qint64 count = 7; // files left on the pasteboard by a drag before the start
    std::optional<bool> files = true;
    int reads = 0, triggers = 0, ended = 0;
    unsigned buttons = 0;
    QPointF location;
    bool onPanel = false;
    Handler handler;
    MemoryUserDefaults defaults;
    AppSettings settings{defaults};
    DragWatcher watcher{*this, *this, settings};

    Fixture() {
        watcher.onTrigger = [this] { ++triggers; };
        watcher.onDragEnded = [this] { ++ended; };
        watcher.start();
    }
    ~Fixture() { StowbayDragState::internalActive = false; }

    qint64 changeCount() const override { return count; }
    std::optional<bool> hasFileURLs() override { return ++reads, files; }
    int addMonitor(Handler h) override { return handler = std::move(h), 1; }
    void removeMonitor(int) override {}
    unsigned pressedMouseButtons() override { return buttons; }
    QPointF mouseLocation() override { return location; }
    void setPointerSampling(bool) override {}

    // Another application starts a drag with the given contents.
    void newDrag(std::optional<bool> hasFiles = true) {
        ++count;
        files = hasFiles;
        buttons = MouseMonitor::leftButton;
    }
    void dragTo(QPointF to, double t) {
        location = to;
        handler({MouseEvent::Type::leftMouseDragged, t, onPanel});
    }
    void mouseUp(double t) {
        buttons = 0;
        handler({MouseEvent::Type::leftMouseUp, t, onPanel});
    }
    // `swings` alternating swings by `swing`, in 10-point steps spread over `duration` seconds from `t0`.
    void shake(QPointF swing, int swings, double duration, double t0) {
        const int steps = int(std::ceil(swing.manhattanLength() / 10)), total = swings * steps;
        for (int i = 0; i <= total; ++i) {
            const double along = double(i % steps) / steps;
            dragTo(swing * ((i / steps) % 2 ? 1 - along : along), t0 + duration * i / total);
        }
    }
};

class tst_DragWatcher : public QObject {
    Q_OBJECT
private slots:
    // When any file drag opens the panel: drags that are not the user's own, or whose contents were
    // dealt with, open nothing; a file drag opens it once, however it moves, and so does the next.
    void anyDragOpensOncePerFileDrag() {
        Fixture f;
        f.settings.setOpenMode(OpenMode::anyDrag);
        // The files left from before the start, then a drag that began and ended between two
        // events: neither is even looked at.
        f.buttons = MouseMonitor::leftButton;
        f.dragTo({0, 0}, 1);
        f.newDrag();
        f.mouseUp(2);
        f.buttons = MouseMonitor::leftButton;
        f.dragTo({90, 0}, 3);
        QCOMPARE(f.reads, 0);
        // A text drag is read once.
        f.newDrag(false);
        f.shake({50, 0}, 10, 0.5, 4);
        f.mouseUp(5);
        QCOMPARE(f.reads, 1);
        // A drag out of the panel puts its files on the pasteboard: ignored while it lasts, and
        // after it with the button still down as the flag drops.
        StowbayDragState::internalActive = true;
        f.newDrag();
        f.dragTo({0, 0}, 6);
        StowbayDragState::internalActive = false;
        StowbayDragState::postInternalDragEnded();
        f.dragTo({90, 0}, 7);
        // One so quick that no dragged event came while the flag was set: its end records it.
        f.newDrag();
        StowbayDragState::postInternalDragEnded();
        f.dragTo({0, 0}, 8);
        // Presses that went down on the panel are the panel's own.
        f.newDrag();
        f.onPanel = true;
        f.dragTo({90, 0}, 9);
        f.mouseUp(10);
        QCOMPARE(f.triggers, 0);
        QCOMPARE(f.ended, 0);
        f.onPanel = false;
        for (int drag = 1; drag <= 2; ++drag) {
            f.newDrag();
            f.shake({50, 0}, 12, 0.5, 10 + drag);
            f.mouseUp(10.9 + drag);
            QCOMPARE(f.triggers, drag);
            QCOMPARE(f.ended, drag);
        }
    }

    void shakeThresholds_data() {
        QTest::addColumn<ShakeSensitivity>("sensitivity");
        QTest::addColumn<QPointF>("swing");
        QTest::addColumn<int>("swings");
        QTest::addColumn<double>("duration");
        QTest::addColumn<int>("triggers");
        using S = ShakeSensitivity;
        QTest::newRow("normal: five 50-point swings in 0.5 s")
            << S::normal << QPointF(50, 0) << 5 << 0.5 << 1;
        QTest::newRow("normal: four swings") << S::normal << QPointF(50, 0) << 4 << 0.5 << 0;
        QTest::newRow("normal: five swings over 2 s") << S::normal << QPointF(50, 0) << 5 << 2.0 << 0;
        QTest::newRow("normal: 39 points, however many") << S::normal << QPointF(39, 0) << 60 << 6.0 << 0;
        QTest::newRow("normal: vertical") << S::normal << QPointF(0, 100) << 20 << 0.7 << 0;
        QTest::newRow("normal: a second shake in the drag") << S::normal << QPointF(50, 0) << 10 << 1.0 << 2;
        QTest::newRow("easy: four swings of 30") << S::easy << QPointF(30, 0) << 4 << 0.5 << 1;
        QTest::newRow("easy: 29 points") << S::easy << QPointF(29, 0) << 30 << 3.0 << 0;
        QTest::newRow("gentle: six swings of 55") << S::gentle << QPointF(55, 0) << 6 << 0.6 << 1;
        QTest::newRow("gentle: five swings of 55") << S::gentle << QPointF(55, 0) << 5 << 0.6 << 0;
        QTest::newRow("gentle: 50 points") << S::gentle << QPointF(50, 0) << 30 << 3.0 << 0;
    }

    void shakeThresholds() {
        QFETCH(ShakeSensitivity, sensitivity);
        QFETCH(QPointF, swing);
        QFETCH(int, swings);
        QFETCH(double, duration);
        QFETCH(int, triggers);
        Fixture f;
        f.settings.setSensitivity(sensitivity);
        f.newDrag();
        f.shake(swing, swings, duration, 1);
        QCOMPARE(f.triggers, triggers);
    }

    void pollEndsADragWhoseMouseUpWasNeverSeen() {
        Fixture f;
        f.newDrag();
        f.dragTo({0, 0}, 1);
        QTest::qWait(2 * DragWatcher::pollInterval); // still held: the poll leaves the drag alone
        QVERIFY(f.watcher.isDragging());
        f.buttons = 0; // released where no event reaches us
        QTRY_COMPARE(f.ended, 1);
        QVERIFY(!f.watcher.isPolling());
        // A late mouse-up ends nothing more, and the same pasteboard starts no drag again.
        f.mouseUp(3);
        f.buttons = MouseMonitor::leftButton;
        f.shake({50, 0}, 5, 0.5, 4);
        QCOMPARE(f.ended, 1);
        QCOMPARE(f.triggers, 0);
    }
};

STOWBAY_TEST_MAIN(tst_DragWatcher)
#include "tst_DragWatcher.moc"
