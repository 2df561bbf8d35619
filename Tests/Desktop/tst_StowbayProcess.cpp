// The real stowbay program, started as its own process on the test desktop (with its tray host), in
// the test's own home folder.
#include "DesktopWindows.h"
#include "Files/FileBookmark.h"
#include "Items/StowbayItem.h"
#include "Session/SingleInstance.h"
#include "Shell/CommandLine.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QImage>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimeZone>
#include <csignal>
#include <fcntl.h>
#include <optional>

#include "XTestDriver.h"
#include <X11/keysym.h>

using namespace DesktopWindows;
using TestSupport::storedContents;
using TestSupport::storedFilePath;

namespace {

constexpr int timeoutMs = 30000;

// How many pixels of `colour` `area` of the screen shows, and their mean row.
std::pair<int, double> pixelsOf(QRect area, QColor colour) {
    const QImage image = area.isEmpty() ? QImage()
                                        : QGuiApplication::primaryScreen()
                                              ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                                              .toImage();
    int count = 0;
    double rows = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour.rgb()) ++count, rows += y;
    return {count, count ? rows / count : -1};
}

// Stores one item for the file `held` (by default kept.txt beside the stored list, with the bookmark
// Stowbay would renew it to, so only the quit writes), followed by blank lines Stowbay does not
// write, so a rewrite shows; returns the stored item as Stowbay writes it. With `firstStart` the next
// start is taken for the first one.
QByteArray storeOneItem(bool keepOnQuit, bool firstStart = false, QString held = {}) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Stowbay", "Stowbay");
    settings.setValue("keepOnQuit", keepOnQuit);
    if (firstStart) settings.remove("didShowWelcome");
    std::optional<QByteArray> bookmark;
    if (held.isEmpty()) {
        TestSupport::writeFile(held = QFileInfo(storedFilePath()).absolutePath() + "/kept.txt", {});
        bookmark = FileBookmark::create(held);
    }
    const auto added = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), QTimeZone::utc());
    const QByteArray compact = StoredItems::encode(
        {{QUuid::createUuid(), held, bookmark, QFileInfo(held).fileName(), added, false}});
    TestSupport::writeFile(storedFilePath(), compact + "\n\n");
    return compact;
}

// The ways out of Stowbay besides signals; below zero, on a display of the test's own.
constexpr int menu = 0, trayHostRestarted = -1, xServerGone = -2, sessionEnds = 1000;

qsizetype welcomes() {
    return shown({"--name", "Welcome to Stowbay"}).size();
}

// Starts `stowbay arguments` in `folder`; it is killed, if still running, when `owner` goes.
QProcess *start(QObject *owner, const QStringList &arguments = {}, const QString &folder = {},
                const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels) {
    auto *process = new QProcess(owner);
    process->setWorkingDirectory(folder);
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(channels);
    process->start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), arguments);
    return process;
}

// A process may end during an earlier wait, where waitForFinished() would no longer see it.
bool finished(QProcess *p) {
    return QTest::qWaitFor([p] { return p->state() == QProcess::NotRunning; }, timeoutMs);
}

// Runs `stowbay arguments` in `folder`, without a display, to its end: its exit status and output.
// A request that reaches `server` is taken and dropped unanswered, and the server closes.
int command(const QStringList &arguments, const QString &folder, QByteArray *output = nullptr,
            QLocalServer *server = nullptr) {
    QObject owner;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    QProcess *process = start(&owner, arguments, folder, environment, QProcess::MergedChannels);
    while (server && server->isListening() && !process->waitForFinished(20))
        if (server->waitForNewConnection(0)) delete server->nextPendingConnection(), server->close();
    const bool ended = finished(process) && process->exitStatus() == QProcess::NormalExit;
    if (output) *output = process->readAll();
    return ended ? process->exitCode() : -1;
}

} // namespace

class tst_StowbayProcess : public QObject {
    Q_OBJECT
    XTestDriver m_x;

private slots:
    void initTestCase() {
        QVERIFY2(QFileInfo(qEnvironmentVariable("STOWBAY_STOWBAY_BIN")).isExecutable(),
                 "STOWBAY_STOWBAY_BIN");
        QVERIFY2(m_x.display(), "needs the test desktop");
    }

    void oneStowbayThatQuitsCleanly_data() {
        QTest::addColumn<int>("way"); // a signal, or one of the other ways out
        QTest::addColumn<bool>("keepOnQuit");
        QTest::newRow("SIGTERM, keep items: written out") << int(SIGTERM) << true;
        QTest::newRow("SIGTERM, do not keep: deleted") << int(SIGTERM) << false;
        QTest::newRow("SIGINT, keep items: written out") << int(SIGINT) << true;
        QTest::newRow("tray menu, keep items: written out") << menu << true;
        QTest::newRow("SIGKILL at the first start: untouched, the lock taken over, no second welcome")
            << int(SIGKILL) << true;
        QTest::newRow("tray host restarted: the icon comes back") << trayHostRestarted << true;
        QTest::newRow("X server gone, keep items: written out") << xServerGone << true;
        QTest::newRow("session: a checkpoint ends nothing, the logout writes out") << sessionEnds << true;
    }

    // A second start leaves at once and the first runs on with its file untouched; every way out of
    // the first then runs the quit sequence, except a kill, after which the next start still runs. A
    // kill comes at the first start, with the welcome open, and the next start does not show it again.
    // On a display of the test's own, the tray host ends and another one takes the icon in; or the X
    // server ends under Stowbay (a crash, or the session's end), and the quit sequence still runs.
    // A checkpoint, or a logout another program then cancels, asks for a save just as a logout does:
    // only the session manager's "die" ends Stowbay.
    void oneStowbayThatQuitsCleanly() {
        QFETCH(int, way);
        QFETCH(bool, keepOnQuit);
        const QByteArray compact = storeOneItem(keepOnQuit, way == SIGKILL);
        QProcess xvfb, tray;
        const QStringList trayArgs{"-c", QFINDTESTDATA("../../scripts/lib/tint2rc")};
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (way < 0) {
            xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
            QTRY_VERIFY_WITH_TIMEOUT(xvfb.canReadLine(), timeoutMs);
            environment.insert("DISPLAY", ":" + QString::fromLatin1(xvfb.readLine().trimmed()));
            tray.setProcessEnvironment(environment);
            tray.start("tint2", trayArgs);
        }
        QProcess manager; // prints where it listens, then what its one client does
        const auto next = [&manager](const QByteArray &line) {
            return QTest::qWaitFor(
                [&] { return manager.canReadLine() && manager.readLine().trimmed() == line; }, timeoutMs);
        };
        if (way == sessionEnds) {
            manager.start(qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/stowbay_sessionmanager", {});
            QTRY_VERIFY_WITH_TIMEOUT(manager.canReadLine(), timeoutMs);
            environment.insert("SESSION_MANAGER", QString::fromLatin1(manager.readLine().trimmed()));
        }
        // Without its X server the toolkit ends the process from inside its event loop, its own
        // objects (fonts, windows) still held: what it leaves then is not Stowbay's to free.
        if (way == xServerGone) environment.insert("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=1");
        // Its windows are looked for on its own display.
        const QByteArray display = qgetenv("DISPLAY");
        const auto restore = qScopeGuard([&] { qputenv("DISPLAY", display); });
        qputenv("DISPLAY", environment.value("DISPLAY").toLocal8Bit());
        QObject processes;
        QProcess *stowbay = start(&processes, {}, {}, environment);
        const auto icon = [&] { return windowOf(stowbay->processId(), Kind::trayIcon); };
        // A tray host on a display with no window manager (tint2) shows only after some 15 s.
        const int trayMs = way < 0 ? 2 * timeoutMs : timeoutMs;
        QTRY_VERIFY_WITH_TIMEOUT(icon(), trayMs);
        if (way == SIGKILL) QTRY_COMPARE_WITH_TIMEOUT(welcomes(), 1, timeoutMs);
        const QByteArray before = storedContents();

        QProcess *second = start(&processes, {}, {}, environment);
        QVERIFY(finished(second));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(stowbay->state(), QProcess::Running);
        QCOMPARE(storedContents(), before);

        if (way == sessionEnds) {
            QVERIFY(next("registered"));
            manager.write("checkpoint\n");
            QVERIFY(next("hint 3") && next("saved")); // never restarted by the session: autostart brings it
            QCOMPARE(command({"list"}, QDir::tempPath()), 0);
            QCOMPARE(stowbay->state(), QProcess::Running);
            manager.write("logout\n");
            QVERIFY(next("saved"));
        } else if (way > 0) {
            QCOMPARE(::kill(pid_t(stowbay->processId()), way), 0);
        } else if (way == menu) {
            // A click on the icon shows the panel, a second folds it; the menu is on the context click.
            for (const int width : {240, 16, 0}) { // the panel, the tab, then the menu
                m_x.click(icon()->center(), width ? 1 : 3);
                if (width)
                    QTRY_COMPARE_WITH_TIMEOUT(
                        windowOf(stowbay->processId(), Kind::panel).value_or(QRect()).width(), width,
                        timeoutMs);
            }
            QTRY_VERIFY_WITH_TIMEOUT(windowOf(stowbay->processId(), Kind::menu), timeoutMs);
            m_x.chord({XK_Up}); // from no entry, up goes to the last one: "Quit Stowbay"
            m_x.chord({XK_Return});
        } else if (way == trayHostRestarted) {
            tray.kill();
            QVERIFY(finished(&tray));
            QTRY_VERIFY_WITH_TIMEOUT(!icon(), timeoutMs);
            tray.start("tint2", trayArgs);
            QTRY_VERIFY_WITH_TIMEOUT(icon(), trayMs);
            stowbay->terminate();
        }
        if (way == xServerGone) xvfb.kill();
        QVERIFY(finished(stowbay));
        if (way == SIGKILL) {
            QCOMPARE(storedContents(), before);
            QProcess *next = start(&processes);
            QTRY_VERIFY_WITH_TIMEOUT(windowOf(next->processId(), Kind::trayIcon), timeoutMs);
            QTest::qWait(1000); // launch has finished: a welcome would be up
            QCOMPARE(welcomes(), 0);
            return;
        }
        QCOMPARE(stowbay->exitStatus(), QProcess::NormalExit);
        QCOMPARE(stowbay->exitCode(), way == xServerGone ? 1 : 0); // the toolkit ends with 1 when X goes
        QCOMPARE(storedContents(), keepOnQuit ? compact : QByteArray());
        QCOMPARE(QFile::exists(storedFilePath()), keepOnQuit);
    }

    // The command line, from a text console, against a running Stowbay, from start (the first command
    // becomes Stowbay) to quit, then alone. (Careless programs on the socket are its unit test's.)
    void theCommandLine() {
        storeOneItem(true);
        QFile::remove(storedFilePath());
        QTemporaryDir folder;
        const QString dir = folder.path() + "/";
        QStringList files{"plain.txt", "with space.txt", "new\nline.txt", "folder"};
        QDir(dir).mkdir("folder");
        for (int i = 0; i <= 100; ++i)
            files << QString("f%1").arg(i, 3, 10, QChar('0'));
        for (const QString &name : files)
            if (name != "folder") QFile(dir + name).open(QIODevice::WriteOnly);
        QObject processes;
        // With none running, `add` starts Stowbay in the background and returns once it holds the file;
        // typed in a terminal that then closes, the Stowbay it started outlives the hang-up.
        QProcess terminal;
        terminal.setWorkingDirectory(dir);
        terminal.start("script",
                       {"-qec", qEnvironmentVariable("STOWBAY_STOWBAY_BIN") + " add plain.txt", "/dev/null"});
        QVERIFY(finished(&terminal) && terminal.exitCode() == 0);
        qint64 stowbay = 0; // found by its panel
        QTRY_VERIFY_WITH_TIMEOUT(
            (stowbay = run("xdotool", {"search", "--onlyvisible", "--classname", "^stowbay$", "getwindowpid"})
                           .toLongLong()) &&
                windowOf(stowbay, Kind::trayIcon) && windowOf(stowbay, Kind::panel),
            timeoutMs);

        QByteArray out;
        const QString uri = QUrl::fromLocalFile(dir + "with space.txt").toString(QUrl::FullyEncoded);
        QCOMPARE(command({"add", uri, "new\nline.txt", "missing.txt", "folder", "plain.txt"}, dir, &out), 1);
        QVERIFY2(out.contains("3 added, 1 held already\n") && out.contains("missing.txt: no such file"), out);

        const QStringList held = files.first(4).replaceInStrings(QRegularExpression("^"), dir);
        QCOMPARE(command({"list", "-0"}, dir, &out), 0);
        QCOMPARE(out, QFile::encodeName(held.join('\0') + '\0'));
        QCOMPARE(command({"list"}, dir, &out), 0);
        QCOMPARE(out, QFile::encodeName(held.join('\n') + '\n'));

        QCOMPARE(command(QStringList{"add"} + files.mid(4), dir, &out), 1);
        QVERIFY2(out.startsWith("96 added, 5 refused: Stowbay holds at most 100 items"), out);
        QCOMPARE(command({"clear"}, dir), 0);
        QCOMPARE(command({"quit"}, dir), 0); // within the save delay; returns once Stowbay has ended
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(stowbay), 0) != 0, timeoutMs);
        QCOMPARE(StoredItems::decode(storedContents()).value_or(QList<StowbayItem>{{}}).size(), 0);
        QProcess *next = start(&processes, {}, dir); // holds nothing
        QTRY_VERIFY_WITH_TIMEOUT(windowOf(next->processId(), Kind::trayIcon), timeoutMs);
        QCOMPARE(command({"list"}, dir, &out), 0);
        QCOMPARE(out, QByteArray());
        QCOMPARE(command({"quit"}, dir), 0);

        // With none running, only a start that would become Stowbay needs the display; it says why,
        // and asking one starts none, also with no lock file yet (-1, a fresh login); list reads the
        // stored list, and a lone missing file adds nothing. With the lock held (1), and a socket that
        // takes the request and never answers (2), a start says the running one did not answer; -0
        // sends nothing.
        // clang-format off
        const QList<std::tuple<QStringList, int, QByteArray, int>> alone{
            {{"list"}, 0, "kept.txt\n", -1}, {{"clear"}, 3, "not running", -1}, {{"quit"}, 3, "not running", 0},
            {{"add", "gone"}, 1, "gone: no such file or folder\n", 0},
            {{"--help"}, 0, "add FILE...", 0}, {{"--version"}, 0, "Stowbay 0.", 0},
            {{"lsit"}, 2, "unknown command", 0}, {{"show"}, 1, "DISPLAY is not set", 0},
            {{}, 1, "did not answer", 1}, {{}, 1, "did not answer", 2}, {{"show"}, 1, "did not answer", 2},
            {{"show", "-0"}, 2, "-0 goes with list only", 2}, {{"-0"}, 2, "-0 goes with list only", 2}};
        // clang-format on
        storeOneItem(true);
        for (const auto &[arguments, status, says, held] : alone) {
            if (held < 0) QFile::remove(SingleInstance().lockPath());
            const int lock = ::open(QFile::encodeName(SingleInstance().lockPath()),
                                    O_RDWR | O_CLOEXEC | (held < 0 ? 0 : O_CREAT), 0600);
            flock whole{};
            whole.l_type = F_WRLCK;
            if (held > 0) QCOMPARE(::fcntl(lock, F_OFD_SETLK, &whole), 0);
            QLocalServer server;
            if (held == 2) QVERIFY(server.listen(SingleInstance().socketPath()));
            QCOMPARE(command(arguments, dir, &out, &server), status);
            ::close(lock);
            QVERIFY2(out.contains(says) && !out.contains("added"), out);
            QCOMPARE(server.isListening(), held == 2 && status != 1); // a request came from a start only
        }
    }

    // A held file on a file system that stopped answering holds up neither the panel nor a save:
    // files added beside it are held and written by themselves, and a kill then loses nothing.
    void aHungMountHoldsUpNoSave() {
        QTemporaryDir folder;
        const QString dir = folder.path() + "/", hung = dir + "share/photo.jpg";
        QFile(dir + "plain.txt").open(QIODevice::WriteOnly);
        QFile(dir + "second.txt").open(QIODevice::WriteOnly);
        storeOneItem(true, false, hung);
        QProcess wrapper; // Stowbay, with the hung file system beside it
        wrapper.setWorkingDirectory(dir);
        wrapper.start(qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/stowbay_hungmount",
                      {dir + "share", qEnvironmentVariable("STOWBAY_STOWBAY_BIN")});
        const qint64 pid = wrapper.processId();
        QTRY_VERIFY_WITH_TIMEOUT(windowOf(pid, Kind::panel) || wrapper.state() == QProcess::NotRunning,
                                 timeoutMs);
        if (wrapper.state() == QProcess::NotRunning) QSKIP("no FUSE mount can be made here");

        QByteArray out;
        QCOMPARE(command({"add", "plain.txt"}, dir), 0);
        QCOMPARE(command({"add", "second.txt"}, dir, &out), 0);
        QVERIFY2(out.startsWith("1 added"), out);
        const auto stored = [] {
            return StoredItems::decode(storedContents()).value_or(QList<StowbayItem>{}).size();
        };
        QTRY_COMPARE_WITH_TIMEOUT(stored(), 3, timeoutMs); // the hung file, plain.txt, second.txt
        QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
        QVERIFY(finished(&wrapper));
        QCOMPARE(stored(), 3);
    }

    void thumbnails_data() {
        QTest::addColumn<bool>("service");
        QTest::newRow("no thumbnailer on the bus: images made by Stowbay") << false;
        QTest::newRow("the desktop's thumbnailer on the bus") << true;
    }
    // Rows show their files' thumbnails from the desktop's shared cache, made where missing or
    // stale: by the thumbnailer service when one runs (a document too), else by Stowbay for images,
    // written for every program to use. A file that cannot be read keeps its icon and is recorded
    // as failed, once; the next start takes all of it from the cache.
    void thumbnails() {
        QFETCH(bool, service);
        QTemporaryDir folder;
        const QString dir = folder.path() + "/",
                      cache = qEnvironmentVariable("XDG_CACHE_HOME") + "/thumbnails/";
        QDir(cache).removeRecursively();
        const QStringList images{"red.png", "green.png", "blue.png"};
        const QList<QColor> colours{Qt::red, Qt::green, Qt::blue};
        for (qsizetype i = 0; i < images.size(); ++i) {
            QImage image(300, 200, QImage::Format_RGB32);
            image.fill(colours.at(i));
            QVERIFY(image.save(dir + images.at(i)));
        }
        TestSupport::writeFile(dir + "broken.png", "not an image");
        TestSupport::writeFile(dir + "page.pdf",
                               "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n2 0 obj<<"
                               "/Type/Pages/Kids[3 0 R]/Count 1>>endobj\n3 0 obj<</Type/Page"
                               "/Parent 2 0 R/MediaBox[0 0 99 99]/Contents 4 0 R>>endobj\n4 0 "
                               "obj<</Length 23>>stream\n1 0 1 rg 0 0 99 99 re f\nendstream endobj\n"
                               "trailer<</Root 1 0 R>>\n%%EOF\n"); // all magenta
        const auto uri = [&](const QString &name) { return QUrl::fromLocalFile(dir + name).toEncoded(); };
        const auto md5 = [&](const QString &name) {
            return QCryptographicHash::hash(uri(name), QCryptographicHash::Md5).toHex() + ".png";
        };
        QImage stale(128, 85, QImage::Format_RGB32); // red.png's from before it changed: black
        stale.fill(Qt::black);
        stale.setText("Thumb::URI", uri("red.png"));
        stale.setText("Thumb::MTime", "1");
        QVERIFY(QDir().mkpath(cache + "normal") && stale.save(cache + "normal/" + md5("red.png")));

        QTemporaryDir busFolder; // a session bus of the test's own, which starts no service by itself
        QByteArray conf = TestSupport::contents("/usr/share/dbus-1/session.conf");
        TestSupport::writeFile(busFolder.path() + "/bus.conf",
                               conf.replace("<standard_session_servicedirs />", ""));
        QProcess bus, tumbler;
        bus.start("dbus-daemon",
                  {"--nofork", "--print-address=1", "--config-file=" + busFolder.path() + "/bus.conf"});
        QTRY_VERIFY_WITH_TIMEOUT(bus.canReadLine(), timeoutMs);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromUtf8(bus.readLine().trimmed()));
        if (service) {
            tumbler.setProcessEnvironment(environment);
            tumbler.start("sh", {"-c", "exec /usr/lib/*/tumbler-1/tumblerd"});
            QDBusConnection connection =
                QDBusConnection::connectToBus(environment.value("DBUS_SESSION_BUS_ADDRESS"), "thumbnails");
            QTRY_VERIFY_WITH_TIMEOUT(
                connection.interface()->isServiceRegistered("org.freedesktop.thumbnails.Thumbnailer1"),
                timeoutMs);
            QDBusConnection::disconnectFromBus("thumbnails");
        }
        storeOneItem(true);
        QFile::remove(storedFilePath());

        QDateTime failedAt;
        for (const QStringList &arguments :
             {QStringList{"add"} + images + QStringList{"broken.png", "page.pdf"}, {"show"}}) {
            QObject processes;
            QProcess *stowbay = start(&processes, {}, dir, environment); // in the foreground, then asked
            QTRY_VERIFY_WITH_TIMEOUT(windowOf(stowbay->processId(), Kind::trayIcon), timeoutMs);
            QCOMPARE(command(arguments, dir), 0);
            // Each row's picture, in the rows' order; the document's only from the service.
            const auto shown = [&] {
                const QRect panel = windowOf(stowbay->processId(), Kind::panel).value_or(QRect());
                double above = -1;
                for (const QColor &colour : colours) {
                    const auto [count, row] = pixelsOf(panel, colour);
                    if (count < 200 || row <= above) return false;
                    above = row;
                }
                return (pixelsOf(panel, Qt::magenta).first > 200) == service;
            };
            QTRY_VERIFY_WITH_TIMEOUT(shown(), timeoutMs);
            for (const QString &name : images) {
                const QImage thumbnail(cache + "normal/" + md5(name));
                QCOMPARE(thumbnail.text("Thumb::URI").toUtf8(), uri(name));
                QCOMPARE(thumbnail.text("Thumb::MTime").section('.', 0, 0).toLongLong(),
                         QFileInfo(dir + name).lastModified().toSecsSinceEpoch());
                QVERIFY(service || (QFile::permissions(cache + "normal/" + md5(name)) & 0x7077) ==
                                       (QFile::ReadOwner | QFile::WriteOwner));
            }
            QCOMPARE(QFile::exists(cache + "normal/" + md5("page.pdf")), service);
            const QFileInfo failure(cache + "fail/stowbay-" + CommandLine::version() + "/" +
                                    md5("broken.png"));
            QVERIFY(service || failure.exists());
            if (failedAt.isValid()) QCOMPARE(failure.lastModified(), failedAt); // not tried again
            failedAt = failure.lastModified();
            QCOMPARE(command({"quit"}, dir), 0);
            QVERIFY(finished(stowbay));
        }
        for (QProcess *helper : {&tumbler, &bus})
            helper->terminate(), helper->waitForFinished();
    }
    // At its first start, at twice the scale on a 1440 × 700 screen, shorter than the window: the
    // whole settings window is in the screen's free area, with room for its title bar; Ctrl+W closes
    // it, and Escape closes the welcome.
    void settingsWindowAtTwiceTheScale() {
        QCOMPARE(QProcess::execute("xrandr", {"--setmonitor", "S", "1440/380x700/185+0+0", "screen"}), 0);
        storeOneItem(true, true);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_SCALE_FACTOR", "2");
        QObject processes;
        QVERIFY(finished(start(&processes, {"settings"}, {}, environment))); // Stowbay, in the background
        const auto quit = qScopeGuard([] { command({"quit"}, {}); });
        const auto window = [](const char *name) { return shown({"--name", name}).value(0); };
        QTRY_VERIFY_WITH_TIMEOUT(!window("Stowbay Settings").isEmpty() && welcomes() == 1, timeoutMs);
        const QRect settings = shownAt(window("Stowbay Settings"));
        const int freeBottom = 700 - 32; // above the tray host's bar
        QVERIFY2(settings.top() >= 20 && settings.bottom() < freeBottom,
                 qPrintable(QDebug::toString(settings)));
        const auto closedBy = [&](const char *name, std::initializer_list<KeySym> keys) {
            run("xdotool", {"windowactivate", "--sync", window(name)});
            m_x.chord(keys);
            return QTest::qWaitFor([&] { return window(name).isEmpty(); }, 5000);
        };
        QVERIFY(closedBy("Stowbay Settings", {XK_Control_L, XK_w}));
        QVERIFY(closedBy("Welcome", {XK_Escape}));
        QCOMPARE(QProcess::execute("xrandr", {"--delmonitor", "S"}), 0);
    }
};

STOWBAY_TEST_MAIN(tst_StowbayProcess)
#include "tst_StowbayProcess.moc"
