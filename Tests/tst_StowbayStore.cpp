#include "Files/FileBookmark.h"
#include "Files/MountLanes.h"
#include "InteractionFixture.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSignalSpy>

#include <thread>

namespace {

const QByteArray kId = "0F8E2D0A-5B4C-4E2A-9D61-3C7B8A9F1E22";
const QByteArray kElement = R"({"id":")" + kId +
                            R"(","path":"/home/u/a.txt","bookmark":"AQID","name":"a.txt",)"
                            R"("addedAt":"2024-03-05T07:08:09Z","pinned":false})";

// A stored list of one element, kElement with one piece of its text replaced.
QByteArray edited(const QByteArray &from, const QByteArray &to) {
    return "[" + QByteArray(kElement).replace(from, to) + "]";
}

using TestSupport::mode;
using TestSupport::storedContents;

StowbayItem storedItem(const QString &path, qint64 age, bool pinned = false) {
    return {QUuid::createUuid(), path, {}, "n", QDateTime::currentDateTimeUtc().addSecs(-age), pinned};
}

QStringList paths(const QList<StowbayItem> &items) {
    return TestSupport::mapped(items, [](const StowbayItem &item) { return item.path; });
}

// Run as "writer", for the kill test: writes a growing list as fast as it can, each time with the
// next numbered path (dropping the oldest at capacity), and prints "saved <number>" after each
// write. It goes on from the list a killed run left.
[[noreturn]] void runWriter(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    StowbayStore store;
    for (int next = store.items().isEmpty() ? 0 : store.items().last().name.toInt() + 1;; ++next) {
        if (store.items().size() == StowbayStore::capacity) store.remove({store.items().first().id});
        addAndWait(store, {QUrl::fromLocalFile(QString("/kill/%1/%2").arg(QString(200, 'x')).arg(next))});
        store.flush();
        QTextStream(stdout) << "saved " << next << Qt::endl;
    }
}

} // namespace

class tst_StowbayStore : public QObject {
    Q_OBJECT
    QString m_files; // this test's folder of files

    QString makeFile(const QString &name, const QByteArray &content = "data") {
        TestSupport::writeFile(m_files + "/" + name, content);
        return m_files + "/" + name;
    }

    // Adds the named paths in the test's folder and lets their save go by.
    void addAndSettle(StowbayStore &store, const QStringList &names) {
        const QList<QUrl> urls = TestSupport::mapped(
            names, [this](const QString &name) { return QUrl::fromLocalFile(m_files + "/" + name); });
        QCOMPARE(addAndWait(store, urls), names.size());
        QSignalSpy saved(&store, &StowbayStore::saved);
        store.flush();
        QVERIFY(saved.wait(5000));
    }

private slots:
    void init() {
        QDir(QFileInfo(StowbayStore::fileURL()).absolutePath()).removeRecursively();
        m_files = QDir::homePath() + "/Documents/" + QTest::currentTestFunction();
        if (QTest::currentDataTag()) m_files += QString("-%1").arg(qHash(QString(QTest::currentDataTag())));
        QDir(m_files).removeRecursively();
        QDir().mkpath(m_files);
    }

    void readsStrictly_data() {
        // What the list read from "text" writes back as; empty when the text is unreadable.
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("written");
        const QByteArray canonical("[" + kElement + "]");
        QTest::newRow("not JSON") << QByteArray(R"([{"id":)") << QByteArray();
        QTest::newRow("not an array") << kElement << QByteArray();
        QTest::newRow("member missing") << edited(R"(,"pinned":false)", "") << QByteArray();
        QTest::newRow("path a number") << edited(R"("/home/u/a.txt")", "12") << QByteArray();
        QTest::newRow("id without hyphens") << edited(kId, QByteArray(kId).replace('-', "")) << QByteArray();
        QTest::newRow("fractional date") << edited("09Z", "09.5Z") << QByteArray();
        QTest::newRow("date without zone") << edited("09Z", "09") << QByteArray();
        QTest::newRow("bad Base64") << edited("AQID", "AQ*D") << QByteArray();
        QTest::newRow("null bookmark") << edited(R"("AQID")", "null") << edited(R"("bookmark":"AQID",)", "");
        QTest::newRow("unknown member ignored") << edited("false", R"(false,"colour":{"r":1})") << canonical;
        QTest::newRow("lower-case id") << edited(kId, kId.toLower()) << canonical;
        QTest::newRow("date with an offset") << edited("07:08:09Z", "09:08:09+02:00") << canonical;
        QList<StowbayItem> many;
        for (int i = 0; i < 150; ++i)
            many << storedItem(QString("/f/%1").arg(i), i, i % 2);
        QTest::newRow("first 100 of 150")
            << StoredItems::encode(many) << StoredItems::encode(many.first(100));
        QByteArray badLate = StoredItems::encode(many);
        badLate.replace(badLate.lastIndexOf("false"), 5, "null");
        QTest::newRow("a bad element past the first 100") << badLate << QByteArray();
    }

    void readsStrictly() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, written);
        const std::optional<QList<StowbayItem>> items = StoredItems::decode(text);
        QCOMPARE(items ? StoredItems::encode(*items) : QByteArray(), written);
    }

    // An unreadable file gives an empty list; the first save sets it aside and writes a new one.
    void savesAreDebouncedAndFlushed() {
        const QByteArray unreadable = R"([{"id": nonsense)";
        TestSupport::writeFile(StowbayStore::fileURL(), unreadable);
        StowbayStore store; // empty: it holds only the two items counted below
        QSignalSpy saved(&store, &StowbayStore::saved);
        QCOMPARE(addAndWait(store, {QUrl::fromLocalFile(makeFile("a.txt"))}), 1);
        QTest::qWait(300);
        store.setPinned({store.items().first().id}, true);
        QVERIFY(!saved.wait(350)); // the second change put the write off
        QVERIFY(saved.wait(5000));
        QVERIFY(!saved.wait(1000));
        QCOMPARE(saved.size(), 1);
        QCOMPARE(storedContents(), StoredItems::encode(store.items()));

        // Changes pending at quit are written by the flush, and only once: an add made in the same
        // turn of the loop too, though its result has not come back yet.
        store.setPinned({store.items().first().id}, false);
        store.add({QUrl::fromLocalFile(makeFile("b.txt"))});
        store.flush();
        QCOMPARE(store.items().size(), 2);
        QCOMPARE(storedContents(), StoredItems::encode(store.items()));
        QTRY_COMPARE(saved.size(), 2);

        // A refresh stuck on a held file (its file system stopped answering) holds up no save: the
        // change is written by itself, and a kill then loses nothing.
        QSemaphore stuck, stuckWriter;
        store.runBehindFileWork(store.items().first().path, [&stuck] { stuck.acquire(); });
        store.refresh();
        store.setPinned({store.items().first().id}, true);
        QVERIFY(saved.wait(5000));
        QCOMPARE(storedContents(), StoredItems::encode(store.items()));

        // With the writer stuck too (the stored file's own disk), the flush writes from the main thread
        // once its wait is over: stuck before the flush, or (once an add's result took up the whole
        // wait) at the write itself. The flush does not wait beyond its deadline for a write that comes
        // later.
        store.runOnWriter([&stuckWriter] { stuckWriter.acquire(); });
        store.setPinned({store.items().first().id}, false);
        store.flush();
        QCOMPARE(storedContents(), StoredItems::encode(store.items()));
        stuck.release();
        stuckWriter.release();
        QTRY_COMPARE(saved.size(), 4);
        std::thread late;
        store.add({QUrl::fromLocalFile(makeFile("c.txt"))}, [&](int) {
            QThread::msleep(StowbayStore::ioWaitDeadlineMs);
            store.runOnWriter([&stuckWriter] { stuckWriter.acquire(); });
            late = std::thread([&stuckWriter] { QThread::msleep(500), stuckWriter.release(); });
        });
        store.flush();
        late.join();
        QCOMPARE(saved.size(), 5); // written from here, not by the write that came late
        QCOMPARE(storedContents(), StoredItems::encode(store.items()));
        const QDir folder = QFileInfo(StowbayStore::fileURL()).absoluteDir();
        const QStringList aside = folder.entryList({"stowbay.json.unreadable-*"});
        QCOMPARE(aside.size(), 1); // set aside once, whatever was written after
        QCOMPARE(TestSupport::contents(folder.filePath(aside.first())), unreadable);
        // (Deleting the stored file at quit, a save pending, is the delegate's launch-to-quit test's.)
    }

    // Killing the program at any moment leaves the stored file as the last list written or the one
    // being written, never a broken file. STOWBAY_KILL_CYCLES sets the number of kills.
    void storedFileSurvivesKills() {
        QRandomGenerator random(20240305);
        const int kills = qEnvironmentVariableIsSet("STOWBAY_KILL_CYCLES")
                              ? qEnvironmentVariableIntValue("STOWBAY_KILL_CYCLES")
                              : 50;
        int last = -1;
        for (int kill = 0; kill < kills; ++kill) {
            QProcess writer;
            writer.start(QCoreApplication::applicationFilePath(), {"writer"});
            QTRY_VERIFY_WITH_TIMEOUT(writer.canReadLine(), 10000); // its first write
            QTest::qWait(int(random.bounded(60)));
            writer.kill();
            QVERIFY(writer.waitForFinished());
            const int reported = writer.readAllStandardOutput().trimmed().split(' ').last().toInt();
            const std::optional<QList<StowbayItem>> stored = StoredItems::decode(storedContents());
            QVERIFY2(stored, "a kill left an unreadable file");
            last = stored->last().name.toInt();
            QVERIFY(last == reported || last == reported + 1);
            QCOMPARE(int(stored->size()), qMin(last + 1, StowbayStore::capacity));
            for (qsizetype i = 0; i < stored->size(); ++i)
                QCOMPARE(stored->at(i).name.toInt(), last - int(stored->size() - 1 - i));
        }
    }

    // A folder mounted in the home folder is never searched, not even one of the same file system:
    // a network file system that stopped answering there would hold up the refresh and the quit.
    void searchNeverEntersAMount() {
        const QString hidden = QDir::homePath() + "/.elsewhere",
                      mountPoint = QDir::homePath() + "/Music/mounted";
        QVERIFY(QDir().mkpath(hidden) && QDir().mkpath(mountPoint));
        const QString original = makeFile("a.txt");
        const std::optional<QByteArray> bookmark = FileBookmark::create(original);
        QVERIFY(bookmark && QFile::rename(original, hidden + "/a.txt"));
        QProcess resolver; // binds the hidden folder to the mount point, in a mount namespace of its own
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ASAN_OPTIONS", "detect_leaks=0");
        resolver.setProcessEnvironment(environment);
        resolver.start("unshare",
                       {"-Urm", "sh", "-c", R"(mount --bind "$1" "$2" && exec "$0" resolve "$3")",
                        QCoreApplication::applicationFilePath(), hidden, mountPoint, bookmark->toBase64()});
        QVERIFY(resolver.waitForFinished(20000));
        if (resolver.exitStatus() != QProcess::NormalExit || resolver.exitCode() != 0)
            QSKIP("no mount namespace here: " + resolver.readAllStandardError());
        QCOMPARE(resolver.readAllStandardOutput(), QByteArray("not found\n"));
    }

    void add_data() {
        // "{}" stands for the test's folder; "kept" is on the stowbay before the add.
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<QStringList>("keptPaths");
        QTest::newRow("same file twice in one call")
            << QStringList{"file://{}/a", "file://{}/a"} << QStringList{"{}/kept", "{}/a"};
        QTest::newRow("a file already kept") << QStringList{"file://{}/kept"} << QStringList{"{}/kept"};
        QTest::newRow("paths standardized")
            << QStringList{"file://{}/sub/../a", "file://{}/./b/", "file://{}//kept"}
            << QStringList{"{}/kept", "{}/a", "{}/b"};
        QTest::newRow("only local file URLs") << QStringList{"https://example.org/a", "file://otherhost{}/a",
                                                             "file://localhost{}/b", "file:a", "file:"}
                                              << QStringList{"{}/kept", "{}/b"};
        QTest::newRow("names that are not UTF-8 skipped")
            << QStringList{"file://{}/bad%FFname", "file://{}/nul%00name", "file://{}/caf%C3%A9"}
            << QStringList{"{}/kept", "{}/café"};
        // A 255-byte name in a path of about 4,000 bytes; the file need not be there.
        const QString deep = QString("/" + QString(255, 'f')).repeated(14) + "/" + QString(255, 'n');
        QTest::newRow("newline, tab, leading dash, right-to-left, long names kept as they are")
            << QStringList{"file://{}/line%0Abreak", "file://{}/tab%09stop", "file://{}/-rf",
                           "file://{}/%D7%A9%D7%9C%D7%95%D7%9D.txt", "file://{}" + deep}
            << QStringList{"{}/kept", "{}/line\nbreak", "{}/tab\tstop", "{}/-rf", "{}/שלום.txt", "{}" + deep};
    }

    void add() {
        QFETCH(QStringList, urls);
        QFETCH(QStringList, keptPaths);
        QVERIFY(QDir(qEnvironmentVariable("XDG_DATA_HOME")).removeRecursively()); // no data folder at all
        StowbayStore store;
        addAndSettle(store, {"kept"});
        QCOMPARE(mode(QFileInfo(StowbayStore::fileURL()).absolutePath()), 0700);
        QSignalSpy saved(&store, &StowbayStore::saved);
        const QList<QUrl> list = TestSupport::mapped(
            urls, [this](const QString &url) { return QUrl(QString(url).replace("{}", m_files)); });
        QCOMPARE(addAndWait(store, list), keptPaths.size() - 1);
        QCOMPARE(paths(store.items()), keptPaths.replaceInStrings("{}", m_files));
        QCOMPARE(store.items().last().name, keptPaths.last().section('/', -1));
        QCOMPARE(saved.wait(keptPaths.size() > 1 ? 5000 : 800), keptPaths.size() > 1);
        QCOMPARE(storedContents(), StoredItems::encode(store.items()));
    }

    void addStopsAtCapacity() {
        StowbayStore store;
        QList<QUrl> urls;
        for (int i = 0; i < 102; ++i)
            urls << QUrl::fromLocalFile(QString("%1/%2").arg(m_files).arg(i));
        QSignalSpy refused(&store, &StowbayStore::refusedWhenFull);
        QCOMPARE(addAndWait(store, urls.first(99)), 99);
        // The first new file fits; of the rest, the new ones are refused and said, a kept one is not.
        QCOMPARE(addAndWait(store, urls.mid(99) << urls.first()), 1);
        QCOMPARE(paths(store.items()).last(), urls.at(99).toLocalFile());
        QCOMPARE(refused, QList<QVariantList>{{2}});
        // Undo puts back only what fits in a list filled again since the removal.
        store.remove({store.items().at(0).id, store.items().at(1).id, store.items().at(2).id});
        QCOMPARE(addAndWait(store, urls.mid(100)), 2);
        QCOMPARE(store.undoRemoval().size(), 1);
        QCOMPARE(paths(store.items()).first(), urls.first().toLocalFile());
        QCOMPARE(store.items().size(), StowbayStore::capacity);
    }

    // A mount point claims only the paths below it: files in /mnt/share2 are not held up by a hung
    // /mnt/share.
    void mountsClaimOnlyWhatIsBelowThem() {
        const QStringList table{"/mnt/share/deep", "/mnt/share", "/"};
        QCOMPARE(MountLanes::mountOf(table, "/mnt/share2/a"), "/");
        QCOMPARE(MountLanes::mountOf(table, "/mnt/share"), "/mnt/share");
        QCOMPARE(MountLanes::mountOf(table, "/mnt/share/deeper/a"), "/mnt/share");
        QCOMPARE(MountLanes::mountOf(table, "/mnt/share/deep/a"), "/mnt/share/deep");
    }

    void editsAndTheirSaves() {
        const QString folder = QFileInfo(StowbayStore::fileURL()).absolutePath();
        // A folder made open to others before is made private.
        QVERIFY(QDir().mkpath(folder) &&
                QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                  QFile::ReadOther | QFile::ExeOther));
        StowbayStore store;
        addAndSettle(store, {"a", "b", "c", "d"});
        QCOMPARE(mode(StowbayStore::fileURL()), 0600);
        QCOMPARE(mode(folder), 0700);
        // A file left readable by others is made private by the next write.
        QFile::setPermissions(StowbayStore::fileURL(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        QSignalSpy saved(&store, &StowbayStore::saved);
        store.refresh(); // its results come back after the remove and give the removed item no facts
        store.remove({store.items().at(0).id, QUuid::createUuid()});
        QVERIFY(saved.wait(5000));
        store.setPinned({store.items().at(0).id, store.items().at(2).id}, true);
        store.clear();
        QCOMPARE(paths(store.items()), (QStringList{m_files + "/b", m_files + "/d"}));
        QCOMPARE(store.infos().size(), 2);
        QVERIFY(saved.wait(5000));
        QCOMPARE(storedContents(), StoredItems::encode(store.items()));
        QCOMPARE(mode(StowbayStore::fileURL()), 0600);

        // Nothing to remove or clear: no save.
        store.remove({QUuid::createUuid()});
        store.remove({});
        store.clear();
        QVERIFY(!saved.wait(800));

        // A plain file in the folder's place: the failure is said once, the list stays, and the next
        // change once the way is clear writes it.
        QSignalSpy failed(&store, &StowbayStore::saveFailed);
        QFile blocker(folder);
        QVERIFY(QDir(folder).removeRecursively() && blocker.open(QIODevice::WriteOnly));
        for (int change = 0; change < 3; ++change) {
            if (change == 2) QVERIFY(blocker.remove());
            store.setPinned({store.items().first().id}, change != 1);
            QVERIFY(saved.wait(5000));
        }
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed.first().first().toString().contains(folder));
        QCOMPARE(storedContents(), StoredItems::encode(store.items()));
    }

    void loadsAndPurges_data() {
        QTest::addColumn<bool>("keepOnQuit");
        QTest::addColumn<AutoClear>("autoClear");
        QTest::addColumn<QStringList>("remaining");
        QTest::newRow("not kept on quit") << false << AutoClear::never << QStringList{};
        QTest::newRow("never") << true << AutoClear::never << QStringList{"59m", "61m", "pinned-1y", "2d"};
        QTest::newRow("hour") << true << AutoClear::hour << QStringList{"59m", "pinned-1y"};
    }

    void loadsAndPurges() {
        QFETCH(bool, keepOnQuit);
        QFETCH(AutoClear, autoClear);
        QFETCH(QStringList, remaining);
        const QByteArray onDisk = StoredItems::encode(
            {storedItem("/f/59m", 59 * 60), storedItem("/f/61m", 61 * 60),
             storedItem("/f/pinned-1y", 365 * 86400, true), storedItem("/f/2d", 2 * 86400)});
        TestSupport::writeFile(StowbayStore::fileURL(), onDisk);
        MemoryUserDefaults defaults;
        AppSettings settings(defaults);
        settings.setKeepOnQuit(keepOnQuit);
        settings.setAutoClear(autoClear);
        StowbayStore store(settings);
        store.purgeExpired();
        QCOMPARE(paths(store.items()).replaceInStrings("/f/", ""), remaining);
        QCOMPARE(store.infos().size(), remaining.size());
        QCOMPARE(storedContents(), onDisk);
    }

    void refreshFollowsMovedFiles_data() {
        // "{}" is the test's folder, "{trash}" the trash; an empty destination deletes the file.
        QTest::addColumn<QString>("moveTo");
        QTest::addColumn<bool>("rewritten"); // a new file of 8 bytes is written at the old place
        QTest::addColumn<bool>("followed");
        QTest::newRow("renamed") << "{}/renamed.txt" << false << true;
        QTest::newRow("moved two folders down") << "{}/x/y/a.txt" << false << true;
        QTest::newRow("moved to another user folder") << "{home}/Music/a.txt" << false << true;
        QTest::newRow("moved to the trash") << "{trash}/a.txt" << false << true;
        QTest::newRow("moved into a hidden folder") << "{home}/.hidden/deep/a.txt" << false << false;
        QTest::newRow("deleted") << "" << false << false;
        QTest::newRow("saved by an editor keeping a backup") << "{}/a.txt~" << true << false;
    }

    void refreshFollowsMovedFiles() {
        QFETCH(QString, moveTo);
        QFETCH(bool, rewritten);
        QFETCH(bool, followed);
        const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files";
        moveTo.replace("{}", m_files).replace("{home}", QDir::homePath()).replace("{trash}", trash);
        StowbayStore store;
        const QString original = makeFile("a.txt", "aaa");
        addAndSettle(store, {"a.txt"});
        QSignalSpy saved(&store, &StowbayStore::saved);
        QSignalSpy infosChanged(&store, &StowbayStore::infosChanged);
        QVERIFY(moveTo.isEmpty()
                    ? QFile::remove(original)
                    : QDir().mkpath(QFileInfo(moveTo).absolutePath()) && QFile::rename(original, moveTo));
        if (rewritten) makeFile("a.txt", "new text");

        const QString expected = followed ? moveTo : original;
        for (int refresh = 0; refresh < 2; ++refresh) {
            store.refresh();
            QVERIFY(infosChanged.wait(10000));
            const StowbayItem item = store.items().first();
            QCOMPARE(item.path, expected);
            QCOMPARE(item.name, expected.section('/', -1));
            const std::optional<qint64> size = followed    ? 3
                                               : rewritten ? std::optional<qint64>(8)
                                                           : std::nullopt;
            QCOMPARE(store.infos().value(item.id).size, size);
            // Only the first refresh of a followed or rewritten file saves (its new bookmark), once.
            if ((followed || rewritten) && refresh == 0) QVERIFY(saved.wait(5000));
            QVERIFY(!saved.wait(800));
            QCOMPARE(paths(*StoredItems::decode(storedContents())), QStringList{expected});
        }
    }
};

// The same program is the writer the kill test starts; it keeps the home folder it is given.
int main(int argc, char **argv) {
    if (argc == 2 && qstrcmp(argv[1], "writer") == 0) runWriter(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "resolve") == 0) { // for the mount test: where a bookmark leads
        QCoreApplication app(argc, argv);
        const std::optional<QString> found =
            FileBookmark::Resolver().resolve(QByteArray::fromBase64(argv[2]));
        QTextStream(stdout) << found.value_or("not found") << Qt::endl;
        return 0;
    }
    TestSupport::isolateHome();
    QApplication app(argc, argv);
    tst_StowbayStore tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_StowbayStore.moc"
