// The real stowbay program, started as its own process on the test desktop (with its tray host), in
// the test's own home folder.
#include "DesktopWindows.h"
#include "Files/FileBookmark.h"
#include "Items/StowbayItem.h"
#include "Session/SingleInstance.h"
#include "TestSupport.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>

#include "XTestDriver.h"
#include <X11/keysym.h>

using TestSupport::storedContents;
using TestSupport::storedFilePath;

namespace {

enum class Kind { trayIcon, menu, panel };

// The 32-bit items of `window`'s property `name`: atoms, numbers.
QList<unsigned long> property(Display *display, Window window, const char *name) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    QList<unsigned long> items;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 8, False, AnyPropertyType,
                           &type, &format, &count, &after, &data) == Success &&
        data && format == 32)
        items = {reinterpret_cast<unsigned long *>(data), reinterpret_cast<unsigned long *>(data) + count};
    if (data) XFree(data);
    return items;
}

// A viewable window of process `pid` at or below `window`, in root coordinates: its tray icon (inside
// the tray host's window), its menu or its panel (override-redirect top-level windows; only the panel
// says it is a utility window).
std::optional<QRect> windowOf(Display *display, qint64 pid, Kind kind, Window window = None,
                              Window parent = None) {
    const Window root = DefaultRootWindow(display);
    window = window == None ? root : window;
    XWindowAttributes a;
    Window child, *children = nullptr;
    int x, y;
    const bool utility = property(display, window, "_NET_WM_WINDOW_TYPE")
                             .contains(XInternAtom(display, "_NET_WM_WINDOW_TYPE_UTILITY", False));
    if (property(display, window, "_NET_WM_PID") == QList<unsigned long>{static_cast<unsigned long>(pid)} &&
        XGetWindowAttributes(display, window, &a) && a.map_state == IsViewable && a.width > 4 &&
        (kind == Kind::trayIcon
             ? parent != root
             : parent == root && a.override_redirect && utility == (kind == Kind::panel)) &&
        XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child))
        return QRect(x, y, a.width, a.height);
    unsigned int n = 0;
    std::optional<QRect> found;
    if (XQueryTree(display, window, &child, &child, &children, &n))
        for (unsigned int i = 0; i < n && !found; ++i)
            found = windowOf(display, pid, kind, children[i], window);
    if (children) XFree(children);
    return found;
}

constexpr int timeoutMs = 30000;

// Stores one item, followed by blank lines Stowbay does not write, so a rewrite shows; returns the
// stored item as Stowbay writes it. With `firstStart` the next start is taken for the first one.
QByteArray storeOneItem(bool keepOnQuit, bool firstStart = false) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Stowbay", "Stowbay");
    settings.setValue("keepOnQuit", keepOnQuit);
    if (firstStart) settings.remove("didShowWelcome");
    QDir().mkpath(QFileInfo(storedFilePath()).absolutePath());
    QFile kept(QFileInfo(storedFilePath()).absolutePath() + "/kept.txt"), file(storedFilePath());
    if (!kept.open(QIODevice::WriteOnly) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return {};
    const auto added = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    kept.close(); // with the bookmark Stowbay would renew it to, so only the quit writes
    const QByteArray compact =
        StoredItems::encode({{QUuid::createUuid(), kept.fileName(), FileBookmark::create(kept.fileName()),
                              "kept.txt", added, false}});
    file.write(compact + "\n\n");
    return compact;
}

// The ways out of Stowbay besides signals; below zero, on a display of the test's own.
constexpr int menu = 0, trayHostRestarted = -1, xServerGone = -2, sessionEnds = 1000;

qsizetype welcomes() {
    return DesktopWindows::shown({"--name", "Welcome to Stowbay"}).size();
}

// Runs `stowbay arguments` in `folder`, without a display, to its end: its exit status and output.
int command(const QStringList &arguments, const QString &folder, QByteArray *output = nullptr) {
    QProcess process;
    process.setWorkingDirectory(folder);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), arguments);
    const bool ended = process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit;
    if (output) *output = process.readAll();
    return ended ? process.exitCode() : -1;
}

} // namespace

class tst_StowbayProcess : public QObject {
    Q_OBJECT
    XTestDriver m_x;

    // Starts Stowbay; it is killed, if still running, when `owner` goes.
    static QProcess *
    start(QObject *owner, const QStringList &arguments = {}, const QString &folder = {},
          const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment()) {
        auto *process = new QProcess(owner);
        process->setWorkingDirectory(folder);
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), arguments);
        return process;
    }
    // A process may end during an earlier wait, where waitForFinished() would no longer see it.
    static bool finished(QProcess *p) {
        return QTest::qWaitFor([p] { return p->state() == QProcess::NotRunning; }, timeoutMs);
    }

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
        QTest::newRow("X server gone, do not keep: deleted") << xServerGone << false;
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
        Display *x = way < 0 ? XOpenDisplay(qPrintable(environment.value("DISPLAY"))) : m_x.display();
        QVERIFY(x);
        QObject processes;
        QProcess *stowbay = start(&processes, {}, {}, environment);
        const auto icon = [&] { return windowOf(x, stowbay->processId(), Kind::trayIcon); };
        QTRY_VERIFY_WITH_TIMEOUT(icon(), timeoutMs);
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
            // A click on the icon shows the panel and folds it again; the menu is on the context click.
            const QPoint at = icon()->center();
            const auto panelWidth = [&] {
                return windowOf(x, stowbay->processId(), Kind::panel).value_or(QRect()).width();
            };
            m_x.moveTo(at.x(), at.y());
            for (const int width : {240, 16}) { // the panel, then the tab
                m_x.button(true);
                m_x.button(false);
                QTRY_COMPARE_WITH_TIMEOUT(panelWidth(), width, timeoutMs);
            }
            m_x.button(true, 3);
            m_x.button(false, 3);
            QTRY_VERIFY_WITH_TIMEOUT(windowOf(x, stowbay->processId(), Kind::menu), timeoutMs);
            m_x.chord({XK_Up}); // from no entry, up goes to the last one: "Quit Stowbay"
            m_x.chord({XK_Return});
        } else if (way == trayHostRestarted) {
            tray.kill();
            QVERIFY(finished(&tray));
            QTRY_VERIFY_WITH_TIMEOUT(!icon(), timeoutMs);
            tray.start("tint2", trayArgs);
            QTRY_VERIFY_WITH_TIMEOUT(icon(), timeoutMs);
            stowbay->terminate();
        }
        if (way < 0) XCloseDisplay(x); // before its X server goes
        if (way == xServerGone) xvfb.kill();
        QVERIFY(finished(stowbay));
        if (way == SIGKILL) {
            QCOMPARE(storedContents(), before);
            QProcess *next = start(&processes);
            QTRY_VERIFY_WITH_TIMEOUT(windowOf(x, next->processId(), Kind::trayIcon), timeoutMs);
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
    // becomes Stowbay) to quit, while careless programs write to the same socket.
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
        // With none running, `add` starts Stowbay in the background and returns once it holds the file.
        QProcess *first = start(&processes, {"add", "plain.txt"}, dir);
        QVERIFY(finished(first) && first->exitCode() == 0);
        qint64 stowbay = 0; // found by its panel
        QTRY_VERIFY_WITH_TIMEOUT(
            (stowbay = DesktopWindows::run(
                           "xdotool", {"search", "--onlyvisible", "--classname", "^stowbay$", "getwindowpid"})
                           .toLongLong()) &&
                windowOf(m_x.display(), stowbay, Kind::trayIcon) &&
                windowOf(m_x.display(), stowbay, Kind::panel),
            timeoutMs);

        QLocalSocket garbage, huge, silent; // careless programs on the same socket
        for (QLocalSocket *client : {&garbage, &huge, &silent})
            client->connectToServer(SingleInstance().socketPath());
        garbage.write("garbage\n");
        huge.write("STOWBAY 1 request 16777216\n" + QByteArray(16 << 20, '{'));
        QVERIFY(garbage.flush() && huge.flush());
        QByteArray out;
        QCOMPARE(command({"add", "with space.txt", "new\nline.txt", "missing.txt", "folder", "plain.txt"},
                         dir, &out),
                 1);
        QVERIFY2(out.contains("3 added, 1 refused") && out.contains("missing.txt: no such file"), out);

        QStringList held;
        for (const QString &name : files.first(4))
            held << dir + name;
        QCOMPARE(command({"list", "-0"}, dir, &out), 0);
        QCOMPARE(out, QFile::encodeName(held.join('\0') + '\0'));
        QCOMPARE(command({"list"}, dir, &out), 0);
        QCOMPARE(out, QFile::encodeName(held.join('\n') + '\n'));

        QCOMPARE(command(QStringList{"add"} + files.mid(4), dir, &out), 0);
        QVERIFY2(out.startsWith("96 added, 5 refused"), out);
        QCOMPARE(command({"clear"}, dir), 0);
        QCOMPARE(command({"list"}, dir, &out), 0);
        QCOMPARE(out, QByteArray());
        QCOMPARE(command({"add", "f100"}, dir), 0);
        QCOMPARE(command({"quit"}, dir), 0); // returns once Stowbay has ended
        const auto stored = StoredItems::decode(storedContents());
        QVERIFY(stored && stored->size() == 1 && stored->first().path == dir + "f100");

        // With none running, only a start that would become Stowbay needs the display; it says why.
        const QList<std::tuple<QStringList, int, QByteArray>> alone{
            {{"list"}, 3, "not running"},        {{"--help"}, 0, "add FILE..."},
            {{"--version"}, 0, "Stowbay 0."},    {{"lsit"}, 2, "unknown command"},
            {{"show"}, 1, "DISPLAY is not set"}, {{}, 1, "did not answer"}};
        for (const auto &[arguments, status, says] : alone) {
            const int lock =
                ::open(QFile::encodeName(SingleInstance().lockPath()), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (arguments.isEmpty()) QVERIFY(::flock(lock, LOCK_EX | LOCK_NB) == 0); // held, no socket
            QCOMPARE(command(arguments, dir, &out), status);
            ::close(lock);
            QVERIFY2(out.contains(says), out);
        }
    }
};

STOWBAY_TEST_MAIN(tst_StowbayProcess)
#include "tst_StowbayProcess.moc"
