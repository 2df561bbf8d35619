// Dropped data becomes local file URLs, later and on the main thread; row icons come from the
// workspace once per path and existence state.
#include "FileDropLoader.h"
#include "IconCache.h"
#include "TestSupport.h"
#include "Workspace.h"

#include <QMimeData>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>

namespace {

class CountingWorkspace : public Workspace {
public:
    void open(const QUrl &) override {}
    void activateFileViewerSelecting(const QList<QUrl> &) override {}
    QIcon icon(const QString &path) override {
        ++fileIcons[path];
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::blue);
        return QIcon(pixmap);
    }
    QIcon genericDocumentIcon() override {
        ++genericIcons;
        return generic;
    }
    QHash<QString, int> fileIcons;
    int genericIcons = 0;
    QIcon generic = [] {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::gray);
        return QIcon(pixmap);
    }();
};

} // namespace

class tst_DropIntake : public QObject {
    Q_OBJECT
private slots:
    void keepsOnlyLocalFileURLs_data();
    void keepsOnlyLocalFileURLs();
    void deliversOnceLaterOnTheMainThread_data();
    void deliversOnceLaterOnTheMainThread();
    void deliversOnTheMainThreadWhenLoadedElsewhere();
    void iconsAreCachedPerPathAndExistence();
    void desktopIconsFollowTheFileType();
};

void tst_DropIntake::keepsOnlyLocalFileURLs_data() {
    QTest::addColumn<QByteArray>("uriList");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("three files") << QByteArray("file:///tmp/a\r\nfile:///tmp/b%20c\r\nfile:///tmp/d\r\n")
                                 << QStringList{"/tmp/a", "/tmp/b c", "/tmp/d"};
    QTest::newRow("a web address among files")
        << QByteArray("https://example.org/x\r\nfile:///tmp/a\r\n") << QStringList{"/tmp/a"};
    QTest::newRow("another host's file") << QByteArray("file://fileserver/share/a\r\n") << QStringList{};
    QTest::newRow("localhost names this machine")
        << QByteArray("file://localhost/tmp/a\r\n") << QStringList{"/tmp/a"};
    QTest::newRow("this machine by name")
        << ("file://" + QSysInfo::machineHostName().toUtf8() + "/tmp/a\r\n") << QStringList{"/tmp/a"};
    QTest::newRow("a line that is no URL")
        << QByteArray("::not a url::\r\nfile:///tmp/a\r\n") << QStringList{"/tmp/a"};
    QTest::newRow("relative file URL") << QByteArray("file:tmp/a\r\n") << QStringList{};
    QTest::newRow("comment lines") << QByteArray("# dragged\r\nfile:///tmp/a\r\n") << QStringList{"/tmp/a"};
}

void tst_DropIntake::keepsOnlyLocalFileURLs() {
    QFETCH(QByteArray, uriList);
    QFETCH(QStringList, expected);
    QMimeData data;
    data.setData("text/uri-list", uriList);
    std::optional<QList<QUrl>> delivered;
    FileDropLoader::load(&data, [&](QList<QUrl> urls) { delivered = urls; });
    QTRY_VERIFY(delivered.has_value());
    QStringList paths;
    for (const QUrl &url : *delivered) {
        QVERIFY(url.isLocalFile());
        QVERIFY(url.host().isEmpty());
        paths << url.toLocalFile();
    }
    QCOMPARE(paths, expected);
}

void tst_DropIntake::deliversOnceLaterOnTheMainThread_data() {
    QTest::addColumn<bool>("withFiles");
    QTest::newRow("files") << true;
    QTest::newRow("plain text only") << false;
}

void tst_DropIntake::deliversOnceLaterOnTheMainThread() {
    QFETCH(bool, withFiles);
    QMimeData data;
    if (withFiles)
        data.setUrls({QUrl::fromLocalFile("/tmp/a")});
    else
        data.setText("some selected words");
    int calls = 0;
    bool onMainThread = false;
    FileDropLoader::load(&data, [&](QList<QUrl> urls) {
        ++calls;
        onMainThread = QThread::currentThread() == qApp->thread();
        QCOMPARE(urls.size(), withFiles ? 1 : 0);
    });
    QCOMPARE(calls, 0);
    QTRY_COMPARE(calls, 1);
    QVERIFY(onMainThread);
    QCoreApplication::processEvents();
    QCOMPARE(calls, 1);
}

void tst_DropIntake::deliversOnTheMainThreadWhenLoadedElsewhere() {
    std::optional<bool> onMainThread;
    QThread *worker = QThread::create([&] {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile("/tmp/a")});
        FileDropLoader::load(&data,
                             [&](QList<QUrl>) { onMainThread = QThread::currentThread() == qApp->thread(); });
    });
    worker->start();
    QTRY_VERIFY(onMainThread.has_value());
    QVERIFY(*onMainThread);
    worker->wait();
    delete worker;
}

void tst_DropIntake::iconsAreCachedPerPathAndExistence() {
    CountingWorkspace workspace;
    Workspace::setShared(&workspace);
    const QString path = "/tmp/stowbay-icon-test/report.pdf";
    const QIcon own = IconCache::icon(path, true);
    const QIcon missing = IconCache::icon(path, false);
    QVERIFY(own.cacheKey() != missing.cacheKey());
    QCOMPARE(missing.cacheKey(), workspace.generic.cacheKey());
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(IconCache::icon(path, true).cacheKey(), own.cacheKey());
        QCOMPARE(IconCache::icon(path, false).cacheKey(), missing.cacheKey());
    }
    QCOMPARE(workspace.fileIcons.value(path), 1);
    QCOMPARE(workspace.genericIcons, 1);
    QCOMPARE(IconCache::icon("/tmp/stowbay-icon-test/other", false).cacheKey(), missing.cacheKey());
    Workspace::setShared(nullptr);
}

void tst_DropIntake::desktopIconsFollowTheFileType() {
    QTemporaryDir dir;
    QFile text(dir.filePath("notes.txt"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("hello\n");
    text.close();
    QFile app(dir.filePath("editor.desktop"));
    QVERIFY(app.open(QIODevice::WriteOnly));
    app.write("[Desktop Entry]\nType=Application\nName=Editor\nIcon=accessories-text-editor\nExec=true\n");
    app.close();

    DesktopWorkspace workspace;
    const QIcon folder = workspace.icon(dir.path());
    const QIcon document = workspace.icon(text.fileName());
    const QIcon application = workspace.icon(app.fileName());
    const QIcon generic = workspace.genericDocumentIcon();
    for (const QIcon &icon : {folder, document, application, generic})
        QVERIFY(!icon.isNull());
    QCOMPARE(folder.name(), QString("folder"));
    QVERIFY2(document.name().startsWith("text-"), qPrintable(document.name()));
    QCOMPARE(application.name(), QString("accessories-text-editor"));
    QCOMPARE(workspace.genericDocumentIcon().cacheKey(), generic.cacheKey());
}

STOWBAY_TEST_MAIN(tst_DropIntake)
#include "tst_DropIntake.moc"
