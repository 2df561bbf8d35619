#include "Panel/StowbayPanelController.h"
#include "Session/UserDefaults.h"
#include "Shell/AppDelegate.h"
#include "TestSupport.h"
#include "Views/StowbayContentView.h"

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QSignalBlocker>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTimer>

using TestSupport::storedFilePath;

namespace {
QList<QUuid> idsOf(const QList<StowbayItem> &items) {
    return TestSupport::mapped(items, [](const StowbayItem &item) { return item.id; });
}
} // namespace

class tst_AppDelegate : public QObject {
    Q_OBJECT
private:
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
        QCOMPARE(QApplication::quitOnLastWindowClosed(), false);

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

STOWBAY_TEST_MAIN(tst_AppDelegate)
#include "tst_AppDelegate.moc"
