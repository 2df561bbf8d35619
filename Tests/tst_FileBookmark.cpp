#include "FileBookmark.h"
#include "TestSupport.h"

#include <QStandardPaths>

// Where a file went after a bookmark of it was made, and where resolving finds it.
class tst_FileBookmark : public QObject {
    Q_OBJECT
private slots:
    void init();
    void findsTheFileAgain_data();
    void findsTheFileAgain();
    void bytesThatAreNoBookmark_data();
    void bytesThatAreNoBookmark();
    void missingFileHasNoBookmark();
    void budgetBoundsTheSearch();
    void manyRenamedFilesShareOneScan();

private:
    QString makeFile(const QString &path, const QByteArray &content = "data");
    QString m_root;
};

void tst_FileBookmark::init() {
    m_root = QDir::homePath() + "/Documents/bookmarks";
    QDir(m_root).removeRecursively();
    QDir().mkpath(m_root);
}

QString tst_FileBookmark::makeFile(const QString &path, const QByteArray &content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(content);
    return path;
}

void tst_FileBookmark::findsTheFileAgain_data() {
    // "{}" is the test's folder, "{trash}" the trash; an empty destination means the file is deleted
    // and the same name is given to a new file.
    QTest::addColumn<QString>("moveTo");
    QTest::addColumn<QString>("found");
    QTest::newRow("still in place") << "{}/a.txt"
                                    << "{}/a.txt";
    QTest::newRow("renamed in its folder") << "{}/b.txt"
                                           << "{}/b.txt";
    QTest::newRow("moved two folders down") << "{}/x/y/a.txt"
                                            << "{}/x/y/a.txt";
    QTest::newRow("moved to another user folder") << "{home}/Music/a.txt"
                                                  << "{home}/Music/a.txt";
    QTest::newRow("moved to the trash") << "{trash}/a.txt"
                                        << "{trash}/a.txt";
    QTest::newRow("moved into a hidden folder is not followed") << "{home}/.hidden/deep/a.txt"
                                                                << "";
    QTest::newRow("replaced by another file of the same name") << ""
                                                               << "";
}

void tst_FileBookmark::findsTheFileAgain() {
    QFETCH(QString, moveTo);
    QFETCH(QString, found);
    const QString trash =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
    for (QString *path : {&moveTo, &found})
        path->replace("{}", m_root).replace("{home}", QDir::homePath()).replace("{trash}", trash);

    const QString original = makeFile(m_root + "/a.txt");
    const std::optional<QByteArray> bookmark = FileBookmark::create(original);
    QVERIFY(bookmark);
    if (moveTo.isEmpty()) {
        // Hold the old file open so the new one cannot reuse its inode.
        QFile old(original);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QVERIFY(QFile::remove(original));
        makeFile(original, "new");
    } else if (moveTo != original) {
        QDir().mkpath(QFileInfo(moveTo).absolutePath());
        QVERIFY(QFile::rename(original, moveTo));
    }
    FileBookmark::Resolver resolver;
    QCOMPARE(resolver.resolve(*bookmark), found.isEmpty() ? std::nullopt : std::optional<QString>(found));
    if (!moveTo.isEmpty()) QFile::remove(moveTo);
}

void tst_FileBookmark::bytesThatAreNoBookmark_data() {
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray good = *FileBookmark::create(QDir::homePath());
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("other bytes") << QByteArray("\x01\x02\x03");
    QTest::newRow("cut short") << good.left(good.size() - 3);
    QTest::newRow("trailing bytes") << good + "x";
    QByteArray version = good;
    version[4] = 9;
    QTest::newRow("unknown version") << version;
}

void tst_FileBookmark::bytesThatAreNoBookmark() {
    QFETCH(QByteArray, bytes);
    FileBookmark::Resolver resolver;
    QCOMPARE(resolver.resolve(bytes), std::nullopt);
}

void tst_FileBookmark::missingFileHasNoBookmark() {
    QCOMPARE(FileBookmark::create(m_root + "/missing"), std::nullopt);
    QCOMPARE(FileBookmark::create("relative/path"), std::nullopt);
    QVERIFY(FileBookmark::create(m_root));
}

void tst_FileBookmark::budgetBoundsTheSearch() {
    for (int i = 0; i < 50; ++i)
        makeFile(QString("%1/crowd/%2").arg(m_root).arg(i));
    // Breadth first: the crowded folder is listed before the one below it that holds the file.
    const QString original = makeFile(m_root + "/a.txt");
    const QByteArray bookmark = *FileBookmark::create(original);
    QDir().mkpath(m_root + "/crowd/sub");
    QVERIFY(QFile::rename(original, m_root + "/crowd/sub/b.txt"));

    FileBookmark::Resolver small(10);
    QCOMPARE(small.resolve(bookmark), std::nullopt);
    QVERIFY(small.entriesScanned() <= 10);
    FileBookmark::Resolver ample;
    QCOMPARE(ample.resolve(bookmark), m_root + "/crowd/sub/b.txt");
}

void tst_FileBookmark::manyRenamedFilesShareOneScan() {
    QList<QByteArray> bookmarks;
    for (int i = 0; i < 100; ++i) {
        const QString path = makeFile(QString("%1/f%2").arg(m_root).arg(i));
        bookmarks << *FileBookmark::create(path);
        QVERIFY(QFile::rename(path, path + ".renamed"));
    }
    FileBookmark::Resolver resolver;
    for (int i = 0; i < 100; ++i)
        QCOMPARE(resolver.resolve(bookmarks[i]), QString("%1/f%2.renamed").arg(m_root).arg(i));
    // The folder was listed once, not once per file.
    QVERIFY2(resolver.entriesScanned() < 200, qPrintable(QString::number(resolver.entriesScanned())));
}

STOWBAY_TEST_MAIN(tst_FileBookmark)
#include "tst_FileBookmark.moc"
