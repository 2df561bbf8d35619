// Where the panel goes on each edge, and how it moves between hidden, expanded and the tab: the
// collapse timer, the generation rule, keys, the shortcut and drag-end rules, and what the
// content shows. Moves and delays run five times faster than the user sees them. Around it, the
// program's launch, quit and tray menu.
#include "Interaction/StowbayDragState.h"
#include "InteractionFixture.h"
#include "Panel/StowbayPanelController.h"
#include "Shell/AppDelegate.h"
#include "TestSupport.h"
#include "Views/ItemRowView.h"
#include "Views/StowbayContentView.h"
#include "Views/TabHandleView.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSystemTrayIcon>
#include <QTimer>

using State = StowbayPanelController::State;
Q_DECLARE_METATYPE(StowbayEdge)
Q_DECLARE_METATYPE(State)

using TestSupport::storedFilePath;

namespace {
QList<QUuid> idsOf(const QList<StowbayItem> &items) {
    return TestSupport::mapped(items, [](const StowbayItem &item) { return item.id; });
}

// A controller over a store of A to E (or none), the pointer far from where the panel goes.
struct Panel : InteractionFixture {
    bool dragActive = false;
    QPoint pointer{10, 10};
    StowbayPanelController controller{*store, *interaction, settings, [this] { return dragActive; }};

    explicit Panel(const QStringList &names = words("A B C D E")) : InteractionFixture(names) {
        controller.mouseLocation = [this] { return pointer; };
    }
    QScreen *screen() const { return QGuiApplication::primaryScreen(); }
    QRect expanded() const { return controller.expandedFrame(screen()); }
    QRect tab() const { return controller.tabFrame(screen()); }
    QRect frame() { return controller.panel().geometry(); }
    // The panel has come to rest at `f`, fully shown.
    bool restsAt(const QRect &f) {
        return QTest::qWaitFor([&] { return frame() == f && controller.panel().windowOpacity() == 1.0; },
                               3000);
    }
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&controller.panel(), Qt::Key(key), modifiers);
    }
};
} // namespace

class tst_StowbayPanelController : public QObject {
    Q_OBJECT
    // A stored item `ageSeconds` old for the file `name`, which holds "hello" when `onDisk`.
    StowbayItem item(const QString &name, qint64 ageSeconds, bool pinned = false, bool onDisk = true) {
        if (onDisk) TestSupport::writeFile(m_files.filePath(name), "hello");
        const QDateTime added = QDateTime::currentDateTimeUtc().addSecs(-ageSeconds);
        return {QUuid::createUuid(), m_files.filePath(name), std::nullopt, name, added, pinned};
    }
    void store(const QList<StowbayItem> &items) {
        TestSupport::writeFile(storedFilePath(), StoredItems::encode(items));
    }

    QTemporaryDir m_files;

private slots:
    void initTestCase() { StowbayPanelController::timeScale = 0.2; }

    void frames_data() {
        QTest::addColumn<StowbayEdge>("edge");
        QTest::addColumn<QRect>("visible");
        QTest::addColumn<int>("count");
        QTest::addColumn<QRect>("expanded");
        QTest::addColumn<QRect>("tab");
        QTest::addColumn<QRect>("slidOut");
        const QRect wide(0, 0, 1440, 875);
        // clang-format off
        QTest::newRow("right, 3 items: grown downwards from the empty panel's top") << StowbayEdge::right << wide << 3
            << QRect(1192, 323, 240, 346) << QRect(1424, 390, 16, 96) << QRect(1456, 323, 240, 346);
        QTest::newRow("right, empty: 230 high") << StowbayEdge::right << wide << 0
            << QRect(1192, 323, 240, 230) << QRect(1424, 390, 16, 96) << QRect(1456, 323, 240, 230);
        QTest::newRow("left, 100 items count as 7, pushed up by the screen's foot") << StowbayEdge::left << wide << 100
            << QRect(8, 314, 240, 554) << QRect(0, 390, 16, 96) << QRect(-256, 314, 240, 554);
        QTest::newRow("bottom, 5 items, all in view") << StowbayEdge::bottom << wide << 5
            << QRect(540, 417, 360, 450) << QRect(672, 859, 96, 16) << QRect(540, 891, 360, 450);
        QTest::newRow("right, short screen: 0.7 of 300") << StowbayEdge::right << QRect(0, 0, 1000, 300) << 0
            << QRect(752, 45, 240, 210) << QRect(984, 102, 16, 96) << QRect(1016, 45, 240, 210);
        QTest::newRow("bottom, narrow screen: 16 narrower") << StowbayEdge::bottom << QRect(100, 0, 300, 800) << 1
            << QRect(108, 550, 284, 242) << QRect(202, 784, 96, 16) << QRect(108, 816, 284, 242);
        QTest::newRow("left, second screen with a top bar") << StowbayEdge::left << QRect(1440, 28, 1440, 872) << 2
            << QRect(1448, 349, 240, 294) << QRect(1440, 416, 16, 96) << QRect(1184, 349, 240, 294);
        // clang-format on
    }
    void frames() {
        QFETCH(StowbayEdge, edge);
        QFETCH(QRect, visible);
        QFETCH(int, count);
        QFETCH(QRect, expanded);
        QFETCH(QRect, tab);
        QFETCH(QRect, slidOut);
        QCOMPARE(StowbayPanelController::expandedFrame(visible, count, edge), expanded);
        QCOMPARE(StowbayPanelController::tabFrame(visible, edge), tab);
        QCOMPARE(StowbayPanelController::slidOut(expanded, edge), slidOut);
    }

    // Resting on the tab opens the panel, not pinned: Escape folds it into the tab again. With the
    // last item gone the tab goes away.
    void restOnTheTabAndTheLastItemGone() {
        Panel p;
        p.controller.showTabIfNeeded();
        p.controller.background().onEnter(); // resting there
        QTRY_COMPARE(p.controller.state(), State::expanded);
        QVERIFY(!p.controller.pinnedOpen());
        p.key(Qt::Key_Escape);
        QCOMPARE(p.controller.state(), State::tab);
        QVERIFY(p.restsAt(p.tab()));
        QVERIFY(p.controller.model().isTab());
        p.store->remove(p.ids(words("A B C D E")));
        QTRY_COMPARE(p.controller.state(), State::hidden);
        QTRY_VERIFY(!p.controller.panel().isVisible());
    }

    void collapseTimer_data() {
        QTest::addColumn<bool>("dragActive");
        QTest::addColumn<bool>("internalDrag");
        QTest::addColumn<QPoint>("beyond"); // the pointer beyond the panel's sides (x) or ends (y)
        QTest::newRow("a file drag elsewhere holds it") << true << false << QPoint(-200, 0);
        QTest::newRow("a drag out of the panel holds it") << false << true << QPoint(-200, 0);
        QTest::newRow("the pointer 12 points to the side holds it") << false << false << QPoint(-12, 0);
        QTest::newRow("12 points above holds it") << false << false << QPoint(0, -12);
        QTest::newRow("12 points below holds it") << false << false << QPoint(0, 12);
        QTest::newRow("13 points to the side does not") << false << false << QPoint(-13, 0);
        QTest::newRow("13 points below does not") << false << false << QPoint(0, 13);
    }
    void collapseTimer() {
        QFETCH(bool, dragActive);
        QFETCH(bool, internalDrag);
        QFETCH(QPoint, beyond);
        Panel p;
        p.controller.present(false);
        QVERIFY(p.restsAt(p.expanded()));
        p.dragActive = dragActive;
        StowbayDragState::internalActive = internalDrag;
        const QRect e = p.expanded();
        const auto at = [](int by, int low, int high) {
            return by < 0 ? low + by : by > 0 ? high + by : (low + high) / 2;
        };
        p.pointer = QPoint(at(beyond.x(), e.left(), e.right()), at(beyond.y(), e.top(), e.bottom()));
        p.controller.scheduleCollapse(1.0);
        const bool folds = beyond.manhattanLength() > 12 && !dragActive && !internalDrag;
        if (folds) {
            QTRY_COMPARE(p.controller.state(), State::tab);
        } else {
            // Held: the timer re-arms itself and folds once the hold is gone.
            QTest::qWait(500);
            QCOMPARE(p.controller.state(), State::expanded);
            p.dragActive = StowbayDragState::internalActive = false;
            p.pointer = QPoint(10, 10);
            QTRY_COMPARE(p.controller.state(), State::tab);
        }
    }

    void staysPut_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<State>("state"); // after them, and after every delay they armed
        QTest::addColumn<bool>("pinned");
        QTest::newRow("Escape, the shortcut during the slide-out: shown, the slide-out's end stale")
            << "present escape shortcut" << State::expanded << true;
        QTest::newRow("the same on the empty panel")
            << "empty present escape shortcut" << State::expanded << true;
        QTest::newRow("pinned, a drag out of it ends") << "pin dragOutEnded" << State::expanded << true;
        QTest::newRow("pinned, a shake") << "pin present" << State::expanded << true;
        QTest::newRow("hidden, a new edge") << "edge" << State::hidden << false;
        QTest::newRow("hidden, a new work area") << "workArea" << State::hidden << false;
    }
    // Steps in one turn of the loop that must not unsettle the panel.
    void staysPut() {
        QFETCH(QString, steps);
        QFETCH(State, state);
        QFETCH(bool, pinned);
        Panel p(steps.startsWith("empty") ? QStringList{} : words("A B"));
        for (const QString &step : words(steps)) {
            if (step == "present" || step == "pin") p.controller.present(step == "pin");
            if (step == "escape") p.key(Qt::Key_Escape);
            if (step == "shortcut") p.controller.hotKeyPressed();
            if (step == "dragOutEnded") StowbayDragState::postInternalDragEnded();
            if (step == "edge") p.settings.setEdge(StowbayEdge::left);
            if (step == "workArea") emit p.screen()->availableGeometryChanged(QRect(0, 0, 500, 500));
        }
        QTest::qWait(800); // past the slides and the longest delay (3 s, scaled)
        QCOMPARE(p.controller.state(), state);
        QCOMPARE(p.controller.pinnedOpen(), pinned);
        QCOMPARE(p.controller.panel().isVisible(), state != State::hidden);
    }

    void keys_data() {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("selectedBefore"); // clicked in this order, the first alone
        QTest::addColumn<QString>("selectedAfter");
        QTest::addColumn<QString>("itemsAfter");
        QTest::addColumn<QString>("opened");
        const auto row = [](const char *name, const char *keys, const char *before, const char *after,
                            const char *items, const char *opened = "") {
            QTest::newRow(name) << keys << before << after << items << opened;
        };
        row("Ctrl+A selects all", "Ctrl+A", "B", "A B C D E", "A B C D E");
        row("Ctrl+Shift+A does nothing", "Ctrl+Shift+A", "B", "B", "A B C D E");
        row("BackSpace removes the selection; the next row is the keyboard's", "Backspace", "B D", "C",
            "A C E");
        row("Delete, with Shift, too; after the last row, the one before", "Shift+Del", "E", "D", "A B C D");
        row("Delete with nothing selected", "Del", "", "", "A B C D E");
        row("Ctrl+Z puts back what Delete removed, in place", "Del, Ctrl+Z", "B D", "B D", "A B C D E");
        row("Down goes on after a Delete; Ctrl+Z puts back only the last removal", "Del, Down, Del, Ctrl+Z",
            "B", "D", "A C D E");
        row("Up with nothing selected: the last row", "Up", "", "E", "A B C D E");
        row("Down and Up move one row from the last clicked", "Down, Down, Up", "A C", "D", "A B C D E");
        row("Shift+Down extends from the anchor, Shift+Up shrinks", "Shift+Down, Shift+Down, Shift+Up", "B",
            "B C", "A B C D E");
        row("Home, End; Shift+End and Shift+Home from the anchor", "Home, Down, Shift+End, Shift+Home", "C",
            "A B", "A B C D E");
        row("Enter opens the selection", "Return", "B D", "B D", "A B C D E", "B D");
        row("Page Down goes a page down, to the last row at most", "PgDown", "B", "E", "A B C D E");
        row("Page Up goes a page up, to the first row at most", "PgUp", "D", "A", "A B C D E");
    }
    void keys() {
        QFETCH(QString, keys);
        QFETCH(QString, selectedBefore);
        QFETCH(QString, selectedAfter);
        QFETCH(QString, itemsAfter);
        QFETCH(QString, opened);
        Panel p;
        const QStringList before = words(selectedBefore);
        for (int i = 0; i < before.size(); ++i)
            p.interaction->click(p.id(before[i]), i == 0 ? Qt::NoModifier : Qt::ControlModifier);
        for (const QString &key : keys.split(", ")) {
            QTest::keySequence(&p.controller.panel(), QKeySequence(key));
            QCoreApplication::processEvents(); // as between two presses of a hand
        }
        QTRY_COMPARE(p.names(), words(itemsAfter));
        QTRY_COMPARE(p.interaction->selection(), p.set(words(selectedAfter))); // pruned later
        QCOMPARE(p.workspace.opened, p.urls(words(opened)));
    }

    // The launch tab, and a new edge taking the tab at once. The panel grows with the items; its
    // rows stay in place, and the header, "Clear" and the subtitles follow the items, the tab's
    // count too. Under the pointer, the rows that remain stay where they are on screen when the
    // first goes, and the panel moves to its frame once the pointer leaves. An empty panel goes
    // away on Escape.
    void followsStoreAndEdge() {
        Panel empty(QStringList{});
        empty.controller.showTabIfNeeded();
        QCOMPARE(empty.controller.state(), State::hidden);

        Panel p(words("A B"));
        p.controller.showTabIfNeeded();
        QVERIFY(p.restsAt(p.tab()));
        p.settings.setEdge(StowbayEdge::left);
        QTRY_COMPARE(p.frame(),
                     StowbayPanelController::tabFrame(p.screen()->availableGeometry(), StowbayEdge::left));

        // (With no tray, the header's offer of the program's menu is the delegate's test's.)
        p.controller.present(true);
        const QRect two = p.expanded();
        QVERIFY(p.restsAt(two));
        StowbayContentView *content = p.controller.content();
        QCOMPARE(content->titleLabel()->text(), "2 items");
        p.interaction->setSelection(p.set(words("B")));
        QCOMPARE(content->titleLabel()->text(), "1 of 2 selected");
        const TabHandleView *tab = p.controller.panel().findChild<TabHandleView *>();
        const auto tabSays = [tab](const QString &text) {
            return tab->accessibleName() == text && tab->toolTip() == text;
        };
        ItemRowView *a = content->row(p.id("A"));
        p.store->add(p.urls(words("C D sub/A")));
        QTRY_COMPARE(p.store->items().size(), 5);
        QVERIFY(tabSays("Stowbay, 5 items"));
        QVERIFY(a->subtitle().startsWith(QFileInfo(p.dir.path()).fileName() + " · ")); // two named A
        QTRY_COMPARE(p.frame().height(), two.height() + 3 * StowbayPanelController::rowHeight);
        QCOMPARE(content->row(p.id("A")), a); // kept, not rebuilt

        const auto lastRowTop = [&] {
            return content->row(p.store->items().last().id)->mapToGlobal(QPoint()).y();
        };
        const int before = lastRowTop();
        p.pointer = p.frame().center();
        p.store->remove({p.id("A")});
        QVERIFY(tabSays("Stowbay, 4 items"));
        QTRY_COMPARE(p.frame().height(), p.expanded().height());
        QTRY_COMPARE(lastRowTop(), before);
        p.pointer = {10, 10};
        p.controller.background().onExit();
        QVERIFY(p.restsAt(p.expanded()));

        p.store->setPinned({p.id("B")}, true);
        QVERIFY(content->clearButton()->isEnabled());
        p.store->clear();
        QCOMPARE(content->titleLabel()->text(), "3 removed"); // said once, with Undo beside it
        QVERIFY(!content->clearButton()->isEnabled());        // only pinned items left
        QVERIFY(QFile::remove(p.path("B")) && p.refreshed());
        QCOMPARE(content->row(p.id("B"))->subtitle(), "Missing");
        QCOMPARE(ItemRowView::subtitle(ItemInfo{{}, true, true, 4096}), "Folder"); // whatever its size

        p.store->remove({p.id("B")});
        QTRY_COMPARE(p.frame().height(), StowbayPanelController::emptyHeight);
        QCOMPARE(p.controller.state(), State::expanded);
        p.key(Qt::Key_Escape); // empty: no tab
        QCOMPARE(p.controller.state(), State::hidden);
        QTRY_VERIFY(!p.controller.panel().isVisible());
    }

    // Files that do not fit are told of where the drop was made: in the open panel's header; while
    // the panel is folded the tray tells, and the header stays as it was.
    void fullIsSaidInTheOpenPanel() {
        MemoryUserDefaults defaults;
        AppSettings settings(defaults);
        settings.setKeepOnQuit(false);
        AppDelegate delegate(settings);
        delegate.applicationDidFinishLaunching();
        QList<QUrl> urls;
        for (int i = 0; i < 103; ++i)
            urls << QUrl::fromLocalFile(QString("/tmp/stowbay-full/%1").arg(i));
        StowbayPanelController &controller = *delegate.controller();
        controller.present(true);
        const QLabel *title = controller.content()->titleLabel();
        QCOMPARE(addAndWait(delegate.store(), urls.first(101)), 100);
        QCOMPARE(title->text(), "Stowbay is full: 1 file not added.");
        controller.collapse();
        QTRY_COMPARE(controller.state(), State::tab);
        QCOMPARE(addAndWait(delegate.store(), urls.mid(101)), 0);
        QVERIFY(!title->text().contains("2 files"));
    }

    void launchToQuit_data() {
        QTest::addColumn<bool>("keepOnQuit");
        QTest::newRow("keep: a change just before quit is written") << true;
        QTest::newRow("do not keep: deleted, the pending save never comes") << false;
    }

    // Launch purges what has expired, then refreshes the rest from the disk; later a shorter period
    // purges on a later turn of the loop, and the minute timer purges what has expired since. Quit saves
    // or deletes the stored file.
    void launchToQuit() {
        QFETCH(bool, keepOnQuit);
        const StowbayItem pinnedGone = item("gone", 8 * 86400, true, false),
                          dayOld = item("day-old", 2 * 86400), hourOld = item("hour-old", 2 * 3600),
                          fresh = item("fresh", 60);
        store({item("week-old", 8 * 86400), pinnedGone, dayOld, hourOld, fresh});
        MemoryUserDefaults defaults;
        defaults.setValue("autoClear", "week");
        AppSettings settings(defaults);
        AppDelegate delegate(settings);
        delegate.applicationDidFinishLaunching();

        QCOMPARE(idsOf(delegate.store().items()),
                 (QList<QUuid>{pinnedGone.id, dayOld.id, hourOld.id, fresh.id}));
        QTRY_COMPARE(delegate.store().infos().value(pinnedGone.id).exists, false);
        QTRY_COMPARE(delegate.store().infos().value(fresh.id).size, std::optional<qint64>(5)); // "hello"

        settings.setAutoClear(AutoClear::day);
        QCOMPARE(delegate.store().items().size(), 4); // not inside the assignment
        QTRY_COMPARE(idsOf(delegate.store().items()), (QList<QUuid>{pinnedGone.id, hourOld.id, fresh.id}));

        QTimer *timer = delegate.purgeTimer();
        QVERIFY(timer && timer->isActive());
        {
            const QSignalBlocker quiet(settings); // only the timer can purge now
            settings.setAutoClear(AutoClear::hour);
        }
        timer->setInterval(10);
        QTRY_COMPARE(idsOf(delegate.store().items()), (QList<QUuid>{pinnedGone.id, fresh.id}));

        settings.setKeepOnQuit(keepOnQuit); // set now: off from the start, nothing would have loaded
        int added = -1;
        delegate.store().add({QUrl::fromLocalFile(item("added-just-before-quit", 0).path)},
                             [&](int n) { added = n; });
        QTRY_COMPARE(added, 1);
        QSignalSpy saves(&delegate.store(), &StowbayStore::saved);
        delegate.applicationWillTerminate(); // well before the save delay is over
        if (keepOnQuit) {
            QCOMPARE(TestSupport::storedContents(),
                     StoredItems::encode(delegate.store().items())); // with the added one
        } else {
            QVERIFY(!saves.wait(3 * StowbayStore::saveDelayMs));
            QVERIFY(!QFile::exists(storedFilePath()));
        }
    }

    // "Show Stowbay" opens the panel pinned open; "Clear Stowbay" keeps pinned items, is there only
    // while something can be cleared, and "Undo Clear" then; the tool tip counts the files; the
    // Launch at Login check mark is read from the autostart entry each time the menu opens, the
    // entry toggles it and a failure is shown.
    void trayMenu() {
        const StowbayItem pinned = item("pinned", 10, true);
        store({item("a", 10), pinned, item("b", 10)});
        MemoryUserDefaults defaults;
        AppSettings settings(defaults);
        AppDelegate delegate(settings);
        QStringList shown;
        delegate.showAlert = [&](const QString &message, const QString &info) { shown << message << info; };
        delegate.applicationDidFinishLaunching();
        // Items at launch: the tab; "Show Stowbay" opens the panel pinned open.
        QCOMPARE(delegate.controller()->state(), StowbayPanelController::State::tab);
        delegate.statusMenu()->actions().at(0)->trigger();
        QCOMPARE(delegate.controller()->state(), StowbayPanelController::State::expanded);
        QVERIFY(delegate.controller()->pinnedOpen());
        // No tray shows the icon here: the panel's header offers the menu.
        QAbstractButton *menu = delegate.controller()->content()->menuButton();
        QVERIFY(!menu->isHidden());
        menu->click();
        QTRY_VERIFY(delegate.statusMenu()->isVisible());
        delegate.statusMenu()->hide();

        delegate.clearItem()->trigger();
        QCOMPARE(idsOf(delegate.store().items()), QList<QUuid>{pinned.id});
        QCOMPARE(delegate.statusItem()->toolTip(), "Stowbay — 1 file");
        QVERIFY(!delegate.clearItem()->isEnabled());
        // While the panel is shown the first entry folds it; the clear is offered for undoing.
        emit delegate.statusMenu()->aboutToShow();
        QCOMPARE(delegate.statusMenu()->actions().at(0)->text(), "Fold Stowbay");
        QVERIFY(delegate.statusMenu()->actions().at(3)->isVisible());
        delegate.statusMenu()->actions().at(3)->trigger();
        QCOMPARE(delegate.store().items().size(), 3);

        QAction *launch = delegate.launchItem();
        QVERIFY(!LaunchAtLogin::set(true)); // behind the menu's back
        emit delegate.statusMenu()->aboutToShow();
        QCOMPARE(launch->isChecked(), true);
        QCOMPARE(delegate.statusMenu()->actions().at(0)->shortcut().toString(QKeySequence::NativeText),
                 "Ctrl+Alt+S");
        launch->trigger();
        emit delegate.statusMenu()->aboutToShow();
        QCOMPARE(launch->isChecked(), false);
        QVERIFY(shown.isEmpty());

        // A plain file where the autostart folder should be: the entry cannot be written.
        const QString folder = QFileInfo(LaunchAtLogin::entryPath()).absolutePath();
        QDir(folder).removeRecursively();
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        launch->trigger();
        QCOMPARE(shown.value(0), QString("Could not change Launch at Login"));
        QVERIFY(!shown.value(1).isEmpty()); // and why
    }
};

STOWBAY_TEST_MAIN(tst_StowbayPanelController)
#include "tst_StowbayPanelController.moc"
