#include "AppDelegate.h"
#include "TestSupport.h"
#include "UserDefaults.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QSignalBlocker>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {
QString storedFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Stowbay/stowbay.json";
}

void writeStoredItems(const QList<StowbayItem> &items) {
    QDir().mkpath(QFileInfo(storedFilePath()).absolutePath());
    QFile file(storedFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(StoredItems::encode(items));
}

QList<StowbayItem> readStoredItems() {
    QFile file(storedFilePath());
    if (!file.open(QIODevice::ReadOnly)) return {};
    return StoredItems::decode(file.readAll()).value_or(QList<StowbayItem>{});
}

StowbayItem makeItem(const QString &path, qint64 ageSeconds, bool pinned) {
    const QDateTime added = QDateTime::currentDateTimeUtc().addSecs(-ageSeconds);
    return StowbayItem{QUuid::createUuid(),
                       path,
                       std::nullopt,
                       QFileInfo(path).fileName(),
                       QDateTime::fromSecsSinceEpoch(added.toSecsSinceEpoch(), Qt::UTC),
                       pinned};
}

QList<QUuid> idsOf(const QList<StowbayItem> &items) {
    QList<QUuid> ids;
    for (const auto &item : items)
        ids << item.id;
    return ids;
}

QAction *actionNamed(QMenu *menu, const QString &text) {
    for (QAction *action : menu->actions())
        if (action->text() == text) return action;
    return nullptr;
}
} // namespace

class tst_AppDelegate : public QObject {
    Q_OBJECT
private slots:
    void init();
    void launchPurgesExpiredItemsThenRefreshes();
    void shorterAutoClearPurgesOnALaterTurn();
    void purgeTimerRunsEveryMinute();
    void trayMenuEntries();
    void clearStowbayKeepsPinnedItems();
    void quitWithKeepOnQuitWritesPendingChanges();
    void quitWithoutKeepOnQuitDeletesTheFile();
    void launchAtLoginCheckMarkFollowsTheEntry();
    void launchAtLoginToggles();
    void launchAtLoginFailureIsShown();

private:
    QTemporaryDir m_files;
    QString makeFile(const QString &name, const QByteArray &contents = "hello");
};

void tst_AppDelegate::init() {
    QFile::remove(storedFilePath());
    LaunchAtLogin::set(false);
    QFile::remove(LaunchAtLogin::entryPath());
    QDir(QFileInfo(LaunchAtLogin::entryPath()).absolutePath()).removeRecursively();
    QFile::remove(QFileInfo(LaunchAtLogin::entryPath()).absolutePath());
}

QString tst_AppDelegate::makeFile(const QString &name, const QByteArray &contents) {
    const QString path = m_files.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(contents);
    return path;
}

void tst_AppDelegate::launchPurgesExpiredItemsThenRefreshes() {
    const StowbayItem expired = makeItem(makeFile("expired.txt"), 2 * 3600, false);
    const StowbayItem pinnedGone = makeItem(m_files.filePath("gone.txt"), 2 * 3600, true);
    const StowbayItem fresh = makeItem(makeFile("fresh.txt", "12345"), 60, false);
    writeStoredItems({expired, pinnedGone, fresh});
    MemoryUserDefaults defaults;
    defaults.setValue("autoClear", "hour");
    AppSettings settings(defaults);

    AppDelegate delegate(settings);
    QCOMPARE(delegate.store().items().size(), 3); // loading purges nothing
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();

    QCOMPARE(idsOf(delegate.store().items()), (QList<QUuid>{pinnedGone.id, fresh.id}));
    // The refresh replaces the placeholders with what the disk says.
    QTRY_COMPARE(delegate.store().infos().value(pinnedGone.id).exists, false);
    QTRY_COMPARE(delegate.store().infos().value(fresh.id).size, std::optional<qint64>(5));
    QCOMPARE(QApplication::quitOnLastWindowClosed(), false);
}

void tst_AppDelegate::shorterAutoClearPurgesOnALaterTurn() {
    const StowbayItem dayOld = makeItem(makeFile("day-old.txt"), 2 * 86400, false);
    const StowbayItem hourOld = makeItem(makeFile("hour-old.txt"), 2 * 3600, false);
    writeStoredItems({dayOld, hourOld});
    MemoryUserDefaults defaults;
    defaults.setValue("autoClear", "week");
    AppSettings settings(defaults);
    AppDelegate delegate(settings);
    delegate.applicationDidFinishLaunching();
    QCOMPARE(delegate.store().items().size(), 2);

    settings.setAutoClear(AutoClear::day);
    QCOMPARE(delegate.store().items().size(), 2); // not inside the assignment
    QTRY_COMPARE(idsOf(delegate.store().items()), QList<QUuid>{hourOld.id});
    settings.setAutoClear(AutoClear::hour);
    QTRY_VERIFY(delegate.store().items().isEmpty());
}

void tst_AppDelegate::purgeTimerRunsEveryMinute() {
    const StowbayItem old = makeItem(makeFile("old.txt"), 2 * 3600, false);
    writeStoredItems({old});
    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    AppDelegate delegate(settings);
    delegate.applicationDidFinishLaunching();

    QTimer *timer = delegate.purgeTimer();
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    QVERIFY(!timer->isSingleShot());
    QCOMPARE(timer->interval(), 60 * 1000);
    QCOMPARE(timer->timerType(), Qt::CoarseTimer);

    {
        // The period changes without anyone being told: only the timer can purge now.
        const QSignalBlocker quiet(settings);
        settings.setAutoClear(AutoClear::hour);
    }
    timer->setInterval(10);
    QTRY_VERIFY(delegate.store().items().isEmpty());
}

void tst_AppDelegate::trayMenuEntries() {
    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    AppDelegate delegate(settings);
    QVERIFY(!delegate.statusItem());
    delegate.applicationDidFinishLaunching();

    QSystemTrayIcon *tray = delegate.statusItem();
    QVERIFY(tray);
    QCOMPARE(tray->toolTip(), QString("Stowbay"));
    QVERIFY(!tray->icon().isNull());
    QCOMPARE(tray->contextMenu(), delegate.statusMenu());

    QStringList entries;
    for (const QAction *action : delegate.statusMenu()->actions()) {
        if (action->isSeparator()) {
            entries << "---";
            continue;
        }
        QString entry = action->text();
        if (!action->shortcut().isEmpty()) entry += " [" + action->shortcut().toString() + "]";
        if (action->isCheckable()) entry += " (checkable)";
        if (!action->isEnabled()) entry += " (disabled)";
        entries << entry;
    }
    QCOMPARE(entries, (QStringList{"Show Stowbay", "Clear Stowbay", "---", "Settings… [Ctrl+,]",
                                   "Launch at Login (checkable)", "---", "Quit Stowbay [Ctrl+Q]"}));
    QCOMPARE(delegate.launchItem(), delegate.statusMenu()->actions().at(4));
}

void tst_AppDelegate::clearStowbayKeepsPinnedItems() {
    const StowbayItem a = makeItem(makeFile("a.txt"), 10, false);
    const StowbayItem pinned = makeItem(makeFile("pinned.txt"), 10, true);
    const StowbayItem b = makeItem(makeFile("b.txt"), 10, false);
    writeStoredItems({a, pinned, b});
    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    AppDelegate delegate(settings);
    delegate.applicationDidFinishLaunching();

    actionNamed(delegate.statusMenu(), "Clear Stowbay")->trigger();
    QCOMPARE(idsOf(delegate.store().items()), QList<QUuid>{pinned.id});
}

void tst_AppDelegate::quitWithKeepOnQuitWritesPendingChanges() {
    const StowbayItem kept = makeItem(makeFile("kept.txt"), 10, false);
    writeStoredItems({kept});
    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    AppDelegate delegate(settings);
    delegate.applicationDidFinishLaunching();

    int added = -1;
    const QString late = makeFile("added-just-before-quit.txt");
    delegate.store().add({QUrl::fromLocalFile(late)}, [&](int n) { added = n; });
    QTRY_COMPARE(added, 1);
    delegate.applicationWillTerminate(); // well before the save delay is over

    const QList<StowbayItem> stored = readStoredItems();
    QCOMPARE(stored.size(), 2);
    QCOMPARE(stored.at(0).id, kept.id);
    QCOMPARE(stored.at(1).path, late);
}

void tst_AppDelegate::quitWithoutKeepOnQuitDeletesTheFile() {
    writeStoredItems({makeItem(makeFile("left-from-before.txt"), 10, false)});
    MemoryUserDefaults defaults;
    defaults.setValue("keepOnQuit", false);
    AppSettings settings(defaults);
    AppDelegate delegate(settings);
    QVERIFY(delegate.store().items().isEmpty());
    delegate.applicationDidFinishLaunching();

    int added = -1;
    delegate.store().add({QUrl::fromLocalFile(makeFile("added.txt"))}, [&](int n) { added = n; });
    QTRY_COMPARE(added, 1);
    QSignalSpy saves(&delegate.store(), &StowbayStore::saved);
    delegate.applicationWillTerminate();
    QVERIFY(!QFile::exists(storedFilePath()));
    QCOMPARE(delegate.store().items().size(), 1); // the items in memory are left alone

    // The save that was pending never comes.
    QVERIFY(!saves.wait(3 * StowbayStore::saveDelayMs));
    QVERIFY(!QFile::exists(storedFilePath()));
}

void tst_AppDelegate::launchAtLoginCheckMarkFollowsTheEntry() {
    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    AppDelegate delegate(settings);
    delegate.applicationDidFinishLaunching();
    QMenu *menu = delegate.statusMenu();
    const auto writeEntry = [](const QByteArray &text) {
        QDir().mkpath(QFileInfo(LaunchAtLogin::entryPath()).absolutePath());
        QFile entry(LaunchAtLogin::entryPath());
        QVERIFY(entry.open(QIODevice::WriteOnly | QIODevice::Truncate));
        entry.write("[Desktop Entry]\nType=Application\nExec=stowbay\n" + text);
    };

    emit menu->aboutToShow();
    QCOMPARE(delegate.launchItem()->isChecked(), false);

    writeEntry(""); // changed behind our back: read again when the menu opens
    QCOMPARE(delegate.launchItem()->isChecked(), false);
    emit menu->aboutToShow();
    QCOMPARE(delegate.launchItem()->isChecked(), true);

    writeEntry("Hidden=true\n");
    emit menu->aboutToShow();
    QCOMPARE(delegate.launchItem()->isChecked(), false);

    writeEntry("X-GNOME-Autostart-enabled=false\n");
    emit menu->aboutToShow();
    QCOMPARE(delegate.launchItem()->isChecked(), false);
}

void tst_AppDelegate::launchAtLoginToggles() {
    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    AppDelegate delegate(settings);
    delegate.showAlert = [](const QString &, const QString &info) { QFAIL(qPrintable(info)); };
    delegate.applicationDidFinishLaunching();
    delegate.launchItem()->trigger();
    QVERIFY(LaunchAtLogin::isEnabled());
    delegate.launchItem()->trigger();
    QVERIFY(!LaunchAtLogin::isEnabled());
}

void tst_AppDelegate::launchAtLoginFailureIsShown() {
    // A plain file where the autostart folder should be: the entry cannot be written.
    const QString folder = QFileInfo(LaunchAtLogin::entryPath()).absolutePath();
    QFile blocker(folder);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    AppDelegate delegate(settings);
    QStringList shown;
    delegate.showAlert = [&](const QString &message, const QString &info) { shown << message << info; };
    delegate.applicationDidFinishLaunching();

    delegate.launchItem()->trigger();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown.at(0), QString("Could not change Launch at Login"));
    QVERIFY(!shown.at(1).isEmpty());
    QVERIFY(!LaunchAtLogin::isEnabled());
    QFile::remove(folder);
}

STOWBAY_TEST_MAIN(tst_AppDelegate)
#include "tst_AppDelegate.moc"
