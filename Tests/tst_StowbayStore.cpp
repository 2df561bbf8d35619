#include "AppSettings.h"
#include "StowbayStore.h"
#include "TestSupport.h"
#include "UserDefaults.h"

#include <QSignalSpy>
#include <QStandardPaths>

#include <sys/stat.h>

namespace {

// The list as the stored file holds it, or nullopt when there is no readable file.
std::optional<QList<StowbayItem>> storedItems() {
    QFile file(StowbayStore::fileURL());
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return StoredItems::decode(file.readAll());
}

// The stored file holds exactly the list (at whole seconds).
QByteArray storedBytes() {
    QFile file(StowbayStore::fileURL());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes now and lets the write's saved() signal go by, so later waits see only later writes.
void flushAndSettle(StowbayStore &store) {
    QSignalSpy saved(&store, &StowbayStore::saved);
    store.flush();
    QVERIFY(saved.wait(5000));
}

QStringList paths(const QList<StowbayItem> &items) {
    QStringList result;
    for (const StowbayItem &item : items)
        result << item.path;
    return result;
}

void writeStoredFile(const QByteArray &bytes) {
    QDir().mkpath(QFileInfo(StowbayStore::fileURL()).absolutePath());
    QFile file(StowbayStore::fileURL());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

StowbayItem storedItem(const QString &path, qint64 ageSeconds, bool pinned = false) {
    return StowbayItem{QUuid::createUuid(),
                       path,
                       std::nullopt,
                       path.section('/', -1),
                       QDateTime::currentDateTimeUtc().addSecs(-ageSeconds),
                       pinned};
}

int mode(const QString &path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Settings as a fresh start would read them.
struct Settings {
    explicit Settings(bool keepOnQuit = true, AutoClear autoClear = AutoClear::never) {
        settings.setKeepOnQuit(keepOnQuit);
        settings.setAutoClear(autoClear);
    }
    MemoryUserDefaults defaults;
    AppSettings settings{defaults};
};

} // namespace

class tst_StowbayStore : public QObject {
    Q_OBJECT
private slots:
    void init();

    void loadsOnlyWhenKeepingItemsOnQuit_data();
    void loadsOnlyWhenKeepingItemsOnQuit();
    void unreadableFileIsReplacedByTheFirstChange();
    void loadsTheFirstHundred();
    void burstOfChangesWritesOnce();
    void flushWritesAPendingChange();
    void deletePersistedCancelsAPendingSave();
    void storedFileIsPrivate();

    void addEmptyCompletesAtOnce();
    void add_data();
    void add();
    void addStopsAtCapacity();
    void addReportsFileFacts();
    void addAfterTheStoreIsGoneCountsZero();

    void remove();
    void setPinnedAlwaysSaves();
    void clearKeepsPinnedItems();
    void purgeExpired_data();
    void purgeExpired();

    void refreshFollowsRenamedAndTrashedFiles();
    void refreshShowsADeletedFileAsMissing();
    void itemRemovedDuringRefreshGetsNoInfo();

private:
    QString makeFile(const QString &relative, const QByteArray &content = "data");
    int addAndWait(StowbayStore &store, const QList<QUrl> &urls);
    QString m_files;
};

void tst_StowbayStore::init() {
    QDir(QFileInfo(StowbayStore::fileURL()).absolutePath()).removeRecursively();
    m_files = QDir::homePath() + "/Documents/" + QTest::currentTestFunction();
    if (QTest::currentDataTag()) m_files += QString("-%1").arg(qHash(QString(QTest::currentDataTag())));
    QDir(m_files).removeRecursively();
    QDir().mkpath(m_files);
}

QString tst_StowbayStore::makeFile(const QString &relative, const QByteArray &content) {
    const QString path = m_files + "/" + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(content);
    return path;
}

int tst_StowbayStore::addAndWait(StowbayStore &store, const QList<QUrl> &urls) {
    std::optional<int> added;
    store.add(urls, [&](int count) { added = count; });
    if (!QTest::qWaitFor([&] { return added.has_value(); }, 5000)) return -1;
    return *added;
}

void tst_StowbayStore::loadsOnlyWhenKeepingItemsOnQuit_data() {
    QTest::addColumn<bool>("keepOnQuit");
    QTest::newRow("kept") << true;
    QTest::newRow("not kept") << false;
}

void tst_StowbayStore::loadsOnlyWhenKeepingItemsOnQuit() {
    QFETCH(bool, keepOnQuit);
    const QList<StowbayItem> onDisk{storedItem(makeFile("a.txt"), 10), storedItem(m_files + "/gone.txt", 20)};
    const QByteArray bytes = StoredItems::encode(onDisk);
    writeStoredFile(bytes);

    Settings s(keepOnQuit);
    StowbayStore store(s.settings);
    if (!keepOnQuit) {
        QVERIFY(store.items().isEmpty());
        QVERIFY(store.infos().isEmpty());
        QCOMPARE(storedItems(), StoredItems::decode(bytes));
        return;
    }
    QCOMPARE(paths(store.items()), paths(onDisk));
    // Until the first refresh every item shows as an existing file of unknown size.
    for (const StowbayItem &item : store.items()) {
        const ItemInfo info = store.infos().value(item.id);
        QCOMPARE(info.url, QUrl::fromLocalFile(item.path));
        QVERIFY(info.exists);
        QVERIFY(!info.isDirectory);
        QCOMPARE(info.size, std::nullopt);
    }
}

void tst_StowbayStore::unreadableFileIsReplacedByTheFirstChange() {
    writeStoredFile("[{\"id\": nonsense");
    Settings s;
    StowbayStore store(s.settings);
    QVERIFY(store.items().isEmpty());

    QSignalSpy saved(&store, &StowbayStore::saved);
    QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(makeFile("a.txt"))}), 1);
    QVERIFY(saved.wait(5000));
    QCOMPARE(storedBytes(), StoredItems::encode(store.items()));
}

void tst_StowbayStore::loadsTheFirstHundred() {
    QList<StowbayItem> onDisk;
    for (int i = 0; i < 101; ++i)
        onDisk << storedItem(QString("/nowhere/%1").arg(i), 0);
    writeStoredFile(StoredItems::encode(onDisk));
    Settings s;
    StowbayStore store(s.settings);
    QCOMPARE(paths(store.items()), paths(onDisk.first(100)));
    store.flush();
    QCOMPARE(storedItems()->size(), 100);
}

void tst_StowbayStore::burstOfChangesWritesOnce() {
    Settings s;
    StowbayStore store(s.settings);
    QSignalSpy saved(&store, &StowbayStore::saved);
    QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(makeFile("a.txt"))}), 1);
    QTest::qWait(300);
    QCOMPARE(saved.size(), 0);
    store.setPinned({store.items().first().id}, true);

    QVERIFY(saved.wait(5000));
    QVERIFY(!saved.wait(1000));
    QCOMPARE(saved.size(), 1);
    QCOMPARE(storedBytes(), StoredItems::encode(store.items()));
    QVERIFY(storedItems()->first().pinned);
}

void tst_StowbayStore::flushWritesAPendingChange() {
    Settings s;
    StowbayStore store(s.settings);
    QSignalSpy saved(&store, &StowbayStore::saved);
    QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(makeFile("a.txt"))}), 1);
    store.flush();
    QCOMPARE(storedBytes(), StoredItems::encode(store.items()));
    // The write of the flush was the pending one: no second write follows.
    QVERIFY(saved.wait(5000));
    QVERIFY(!saved.wait(1000));
    QCOMPARE(saved.size(), 1);
}

void tst_StowbayStore::deletePersistedCancelsAPendingSave() {
    Settings s(false);
    StowbayStore store(s.settings);
    QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(makeFile("a.txt"))}), 1);
    flushAndSettle(store);
    QVERIFY(QFile::exists(StowbayStore::fileURL()));
    QSignalSpy saved(&store, &StowbayStore::saved);
    store.remove({store.items().first().id});
    store.deletePersisted();
    QVERIFY(!QFile::exists(StowbayStore::fileURL()));
    QVERIFY(!saved.wait(1000));
    QVERIFY(!QFile::exists(StowbayStore::fileURL()));
    QCOMPARE(store.items().size(), 0);
}

void tst_StowbayStore::storedFileIsPrivate() {
    QVERIFY(!QFileInfo::exists(QFileInfo(StowbayStore::fileURL()).absolutePath()));
    Settings s;
    StowbayStore store(s.settings);
    QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(makeFile("a.txt"))}), 1);
    store.flush();
    QCOMPARE(mode(StowbayStore::fileURL()), 0600);
    QCOMPARE(mode(QFileInfo(StowbayStore::fileURL()).absolutePath()), 0700);
    // A file left readable by others is made private by the next write.
    QFile::setPermissions(StowbayStore::fileURL(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    store.flush();
    QCOMPARE(mode(StowbayStore::fileURL()), 0600);
}

void tst_StowbayStore::addEmptyCompletesAtOnce() {
    Settings s;
    StowbayStore store(s.settings);
    std::optional<int> added;
    store.add({}, [&](int count) { added = count; });
    QCOMPARE(added, 0);
}

void tst_StowbayStore::add_data() {
    // "{}" stands for the test's folder of files; "kept.txt" is on the stowbay before the add.
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<int>("added");
    QTest::addColumn<QStringList>("keptPaths");
    QTest::newRow("same file twice in one call")
        << QStringList{"file://{}/a.txt", "file://{}/a.txt"} << 1 << QStringList{"{}/kept.txt", "{}/a.txt"};
    QTest::newRow("a file already kept")
        << QStringList{"file://{}/kept.txt"} << 0 << QStringList{"{}/kept.txt"};
    QTest::newRow("dot-dot and slashes are standardized")
        << QStringList{"file://{}/sub/../a.txt", "file://{}/./b.txt/", "file://{}//kept.txt"} << 2
        << QStringList{"{}/kept.txt", "{}/a.txt", "{}/b.txt"};
    QTest::newRow("web address and remote host skipped")
        << QStringList{"https://example.org/a.txt", "file://otherhost{}/a.txt", "file://localhost{}/b.txt"}
        << 1 << QStringList{"{}/kept.txt", "{}/b.txt"};
    QTest::newRow("relative and empty file URLs skipped")
        << QStringList{"file:a.txt", "file:", "not a url at all"} << 0 << QStringList{"{}/kept.txt"};
    QTest::newRow("name that is not UTF-8 skipped")
        << QStringList{"file://{}/bad%FFname", "file://{}/nul%00name", "file://{}/caf%C3%A9"} << 1
        << QStringList{"{}/kept.txt", "{}/café"};
    QTest::newRow("missing file is kept")
        << QStringList{"file://{}/missing"} << 1 << QStringList{"{}/kept.txt", "{}/missing"};
}

void tst_StowbayStore::add() {
    QFETCH(QStringList, urls);
    QFETCH(int, added);
    QFETCH(QStringList, keptPaths);
    makeFile("a.txt");
    makeFile("b.txt");
    makeFile("café");
    Settings s;
    StowbayStore store(s.settings);
    QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(makeFile("kept.txt"))}), 1);
    flushAndSettle(store);

    QSignalSpy saved(&store, &StowbayStore::saved);
    QList<QUrl> list;
    for (const QString &url : urls)
        list << QUrl(QString(url).replace("{}", m_files));
    QCOMPARE(addAndWait(store, list), added);
    QCOMPARE(paths(store.items()), keptPaths.replaceInStrings("{}", m_files));
    for (const StowbayItem &item : store.items()) {
        QCOMPARE(item.name, item.path.section('/', -1));
        QVERIFY(store.infos().contains(item.id));
    }
    if (added == 0) {
        QVERIFY(!saved.wait(800));
    } else {
        QVERIFY(saved.wait(5000));
        QCOMPARE(storedBytes(), StoredItems::encode(store.items()));
    }
}

void tst_StowbayStore::addStopsAtCapacity() {
    Settings s;
    StowbayStore store(s.settings);
    QList<QUrl> first;
    for (int i = 0; i < 99; ++i)
        first << QUrl::fromLocalFile(QString("%1/%2").arg(m_files).arg(i));
    QCOMPARE(addAndWait(store, first), 99);
    QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(m_files + "/x"), QUrl::fromLocalFile(m_files + "/y"),
                                QUrl::fromLocalFile(m_files + "/z")}),
             1);
    QCOMPARE(store.items().size(), 100);
    QCOMPARE(store.items().last().path, m_files + "/x");
    QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(m_files + "/y")}), 0);
}

void tst_StowbayStore::addReportsFileFacts() {
    Settings s;
    StowbayStore store(s.settings);
    const QString file = makeFile("five.bin", "12345");
    const QString folder = m_files + "/folder";
    QDir().mkpath(folder);
    QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(file), QUrl::fromLocalFile(folder),
                                QUrl::fromLocalFile(m_files + "/missing")}),
             3);
    const ItemInfo fileInfo = store.infos().value(store.items().at(0).id);
    const ItemInfo folderInfo = store.infos().value(store.items().at(1).id);
    const ItemInfo missingInfo = store.infos().value(store.items().at(2).id);
    QVERIFY(fileInfo.exists && !fileInfo.isDirectory);
    QCOMPARE(fileInfo.size, 5);
    QVERIFY(folderInfo.exists && folderInfo.isDirectory);
    QCOMPARE(folderInfo.size, std::nullopt);
    QVERIFY(!missingInfo.exists && !missingInfo.isDirectory);
    QCOMPARE(missingInfo.size, std::nullopt);
    QVERIFY(store.items().at(0).bookmark);
    QVERIFY(store.items().at(1).bookmark);
    QVERIFY(!store.items().at(2).bookmark);
    QVERIFY(store.items().at(0).addedAt.secsTo(QDateTime::currentDateTimeUtc()) < 60);
    QVERIFY(!store.items().at(0).pinned);
}

void tst_StowbayStore::addAfterTheStoreIsGoneCountsZero() {
    Settings s;
    std::optional<int> added;
    {
        StowbayStore store(s.settings);
        store.add({QUrl::fromLocalFile(makeFile("a.txt"))}, [&](int count) { added = count; });
    }
    QTRY_COMPARE_WITH_TIMEOUT(added, 0, 5000);
}

void tst_StowbayStore::remove() {
    Settings s;
    StowbayStore store(s.settings);
    QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(m_files + "/a"), QUrl::fromLocalFile(m_files + "/b"),
                                QUrl::fromLocalFile(m_files + "/c")}),
             3);
    flushAndSettle(store);
    QSignalSpy saved(&store, &StowbayStore::saved);
    QSignalSpy itemsChanged(&store, &StowbayStore::itemsChanged);
    store.remove({QUuid::createUuid()});
    store.remove({});
    QCOMPARE(itemsChanged.size(), 0);
    QVERIFY(!saved.wait(800));

    const QUuid b = store.items().at(1).id;
    store.remove({b, QUuid::createUuid()});
    QCOMPARE(itemsChanged.size(), 1);
    QCOMPARE(paths(store.items()), (QStringList{m_files + "/a", m_files + "/c"}));
    QVERIFY(!store.infos().contains(b));
    QCOMPARE(store.item(b), std::nullopt);
    QVERIFY(saved.wait(5000));
    QCOMPARE(storedBytes(), StoredItems::encode(store.items()));
}

void tst_StowbayStore::setPinnedAlwaysSaves() {
    Settings s;
    StowbayStore store(s.settings);
    QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(m_files + "/a"), QUrl::fromLocalFile(m_files + "/b")}),
             2);
    flushAndSettle(store);
    QSignalSpy saved(&store, &StowbayStore::saved);
    store.setPinned({}, true);
    QVERIFY(saved.wait(5000));

    store.setPinned({store.items().at(1).id, QUuid::createUuid()}, true);
    QVERIFY(store.item(store.items().at(1).id)->pinned);
    QVERIFY(!store.items().at(0).pinned);
    QVERIFY(saved.wait(5000));
    QCOMPARE(storedBytes(), StoredItems::encode(store.items()));
}

void tst_StowbayStore::clearKeepsPinnedItems() {
    Settings s;
    StowbayStore store(s.settings);
    QList<QUrl> urls;
    for (const char *name : {"a", "b", "c", "d"})
        urls << QUrl::fromLocalFile(m_files + "/" + name);
    QCOMPARE(addAndWait(store, urls), 4);
    store.setPinned({store.items().at(1).id, store.items().at(3).id}, true);
    flushAndSettle(store);

    QSignalSpy saved(&store, &StowbayStore::saved);
    store.clear();
    QCOMPARE(paths(store.items()), (QStringList{m_files + "/b", m_files + "/d"}));
    QCOMPARE(store.infos().size(), 2);
    QVERIFY(saved.wait(5000));

    saved.clear();
    store.clear();
    QVERIFY(!saved.wait(800));
    QCOMPARE(store.items().size(), 2);
}

void tst_StowbayStore::purgeExpired_data() {
    QTest::addColumn<AutoClear>("autoClear");
    QTest::addColumn<QStringList>("remaining");
    QTest::newRow("never") << AutoClear::never << QStringList{"59m", "61m", "pinned-1y", "2d"};
    QTest::newRow("hour") << AutoClear::hour << QStringList{"59m", "pinned-1y"};
    QTest::newRow("day") << AutoClear::day << QStringList{"59m", "61m", "pinned-1y"};
    QTest::newRow("week") << AutoClear::week << QStringList{"59m", "61m", "pinned-1y", "2d"};
}

void tst_StowbayStore::purgeExpired() {
    QFETCH(AutoClear, autoClear);
    QFETCH(QStringList, remaining);
    writeStoredFile(
        StoredItems::encode({storedItem("/f/59m", 59 * 60), storedItem("/f/61m", 61 * 60),
                             storedItem("/f/pinned-1y", 365 * 86400, true), storedItem("/f/2d", 2 * 86400)}));
    Settings s(true, autoClear);
    StowbayStore store(s.settings);
    store.purgeExpired();
    QStringList names;
    for (const StowbayItem &item : store.items())
        names << item.name;
    QCOMPARE(names, remaining);
    QCOMPARE(store.infos().size(), remaining.size());
}

void tst_StowbayStore::refreshFollowsRenamedAndTrashedFiles() {
    Settings s;
    StowbayStore store(s.settings);
    const QString a = makeFile("a.txt", "aaa");
    const QString b = makeFile("b.txt", "bb");
    const QString c = makeFile("c.txt", "c");
    QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(a), QUrl::fromLocalFile(b), QUrl::fromLocalFile(c)}), 3);
    flushAndSettle(store);
    QSignalSpy saved(&store, &StowbayStore::saved);

    const QString trash =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
    QDir().mkpath(trash);
    QVERIFY(QFile::rename(a, m_files + "/renamed.txt"));
    QVERIFY(QFile::rename(b, trash + "/b.txt"));
    QSignalSpy infosChanged(&store, &StowbayStore::infosChanged);
    store.refresh();
    QVERIFY(infosChanged.wait(10000));

    const QStringList expected{m_files + "/renamed.txt", trash + "/b.txt", c};
    QCOMPARE(paths(store.items()), expected);
    QCOMPARE(store.items().at(0).name, QString("renamed.txt"));
    QCOMPARE(store.infos().value(store.items().at(0).id).url, QUrl::fromLocalFile(expected.at(0)));
    QCOMPARE(store.infos().value(store.items().at(1).id).size, 2);
    QVERIFY(saved.wait(5000));
    QVERIFY(!saved.wait(800));
    QCOMPARE(paths(*storedItems()), expected);

    // Adding the file again at its new place adds nothing.
    QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(expected.at(0))}), 0);

    saved.clear();
    infosChanged.clear();
    store.refresh();
    QVERIFY(infosChanged.wait(10000));
    QCOMPARE(paths(store.items()), expected);
    QVERIFY(!saved.wait(800));
}

void tst_StowbayStore::refreshShowsADeletedFileAsMissing() {
    Settings s;
    StowbayStore store(s.settings);
    const QString a = makeFile("a.txt");
    QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(a)}), 1);
    QVERIFY(QFile::remove(a));
    QSignalSpy infosChanged(&store, &StowbayStore::infosChanged);
    store.refresh();
    QVERIFY(infosChanged.wait(5000));
    const ItemInfo info = store.infos().value(store.items().first().id);
    QVERIFY(!info.exists && !info.isDirectory);
    QCOMPARE(info.size, std::nullopt);
    QCOMPARE(store.items().first().path, a);
}

void tst_StowbayStore::itemRemovedDuringRefreshGetsNoInfo() {
    Settings s;
    StowbayStore store(s.settings);
    QCOMPARE(
        addAndWait(store, {QUrl::fromLocalFile(makeFile("a.txt")), QUrl::fromLocalFile(makeFile("b.txt"))}),
        2);
    const QUuid a = store.items().first().id;
    store.refresh();
    store.remove({a});
    // Jobs finish in order: once this add is merged, the refresh's results have been applied.
    QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(makeFile("c.txt"))}), 1);
    QCOMPARE(store.items().size(), 2);
    QCOMPARE(store.item(a), std::nullopt);
    QVERIFY(!store.infos().contains(a));
    QCOMPARE(store.infos().size(), 2);
}

STOWBAY_TEST_MAIN(tst_StowbayStore)
#include "tst_StowbayStore.moc"
