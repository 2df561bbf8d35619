// Dropped data becomes local file URLs, later and on the main thread; row icons come from the
// workspace once per path and existence state.
#include "FileDropLoader.h"
#include "IconCache.h"
#include "InteractionFixture.h"
#include "TestSupport.h"

#include <QMimeData>
#include <QSysInfo>
#include <QThread>

class tst_DropIntake : public QObject {
    Q_OBJECT
private slots:
    void deliversLocalFilesOnceLater_data();
    void deliversLocalFilesOnceLater();
    void iconsAreCachedPerPathAndExistence();
};

void tst_DropIntake::deliversLocalFilesOnceLater_data() {
    QTest::addColumn<QByteArray>("uriList"); // empty: the drop is plain text
    QTest::addColumn<QString>("expected");
    // clang-format off
    QTest::newRow("files") << QByteArray("file:///tmp/a\r\nfile:///tmp/b%20c\r\n") << "/tmp/a /tmp/b c";
    QTest::newRow("a web address") << QByteArray("https://example.org/x\r\nfile:///tmp/a\r\n") << "/tmp/a";
    QTest::newRow("another host's file") << QByteArray("file://fileserver/share/a\r\n") << "";
    QTest::newRow("localhost") << QByteArray("file://localhost/tmp/a\r\n") << "/tmp/a";
    QTest::newRow("this machine") << "file://" + QSysInfo::machineHostName().toUtf8() + "/tmp/a" << "/tmp/a";
    QTest::newRow("no URL, relative, #") << QByteArray("::x::\r\nfile:tmp/a\r\n# a\r\nfile:///b\r\n") << "/b";
    QTest::newRow("plain text only") << QByteArray() << "";
    // clang-format on
}

void tst_DropIntake::deliversLocalFilesOnceLater() {
    QFETCH(QByteArray, uriList);
    QFETCH(QString, expected);
    QList<QList<QUrl>> deliveries;
    bool onMainThread = false;
    {
        QMimeData data; // gone before the delivery
        if (uriList.isEmpty())
            data.setText("some selected words");
        else
            data.setData("text/uri-list", uriList);
        FileDropLoader::load(&data, [&](QList<QUrl> urls) {
            deliveries << urls;
            onMainThread = QThread::currentThread() == qApp->thread();
        });
    }
    QCOMPARE(deliveries.size(), 0);
    QTRY_COMPARE(deliveries.size(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(deliveries.size(), 1);
    QVERIFY(onMainThread);
    QStringList paths;
    for (const QUrl &url : deliveries.first())
        paths << (url.isLocalFile() && url.host().isEmpty() ? url.toLocalFile() : url.toString());
    QCOMPARE(paths.join(' '), expected);
}

void tst_DropIntake::iconsAreCachedPerPathAndExistence() {
    RecordingWorkspace workspace;
    Workspace::setShared(&workspace);
    const QString path = "/tmp/stowbay-icon-test/report.pdf";
    const QIcon own = IconCache::icon(path, true);
    const QIcon missing = IconCache::icon(path, false);
    QVERIFY(own.cacheKey() != missing.cacheKey());
    QCOMPARE(missing.cacheKey(), workspace.generic.cacheKey());
    QCOMPARE(IconCache::icon(path, true).cacheKey(), own.cacheKey());
    QCOMPARE(IconCache::icon(path, false).cacheKey(), missing.cacheKey());
    QCOMPARE(workspace.iconsAsked, QStringList({path, "generic"}));
    QCOMPARE(IconCache::icon("/tmp/stowbay-icon-test/other", false).cacheKey(), missing.cacheKey());
    Workspace::setShared(nullptr);
}

STOWBAY_TEST_MAIN(tst_DropIntake)
#include "tst_DropIntake.moc"
