// The real stowbay program, started as its own process on the test desktop (with its tray host), in
// the test's own home folder.
#include "FileBookmark.h"
#include "SingleInstance.h"
#include "StowbayItem.h"
#include "TestSupport.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <optional>

#include "XTestDriver.h"
#include <X11/Xatom.h>
#include <X11/keysym.h>

namespace {

enum class Kind { trayIcon, menu, panel };

// True when the window says it is a utility window: the panel (the menu, also override-redirect,
// does not).
bool isUtility(Display *display, Window window) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    const Atom utility = XInternAtom(display, "_NET_WM_WINDOW_TYPE_UTILITY", False);
    bool found = false;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_WINDOW_TYPE", False), 0, 8, False,
                           XA_ATOM, &type, &format, &count, &after, &data) == Success &&
        data)
        found = std::find(reinterpret_cast<Atom *>(data), reinterpret_cast<Atom *>(data) + count, utility) !=
                reinterpret_cast<Atom *>(data) + count;
    if (data) XFree(data);
    return found;
}

// A viewable window of process `pid`, in root coordinates: its tray icon (inside the tray host's
// window), its menu or its panel (override-redirect top-level windows).
std::optional<QRect> windowOf(Display *display, qint64 pid, Kind kind) {
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    const Window root = DefaultRootWindow(display);
    std::optional<QRect> found;
    std::function<void(Window, Window)> visit = [&](Window window, Window parent) {
        Atom type;
        int format, x, y;
        unsigned long count, after;
        unsigned char *data = nullptr;
        XWindowAttributes a;
        Window child, *children = nullptr;
        if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                               &after, &data) == Success &&
            data && count == 1 && qint64(*reinterpret_cast<unsigned long *>(data)) == pid &&
            XGetWindowAttributes(display, window, &a) && a.map_state == IsViewable && a.width > 4 &&
            (kind == Kind::trayIcon ? parent != root
                                    : parent == root && a.override_redirect &&
                                          isUtility(display, window) == (kind == Kind::panel)) &&
            XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child))
            found = QRect(x, y, a.width, a.height);
        if (data) XFree(data);
        unsigned int n = 0;
        if (!XQueryTree(display, window, &child, &child, &children, &n)) return;
        for (unsigned int i = 0; i < n && !found; ++i)
            visit(children[i], window);
        if (children) XFree(children);
    };
    visit(root, None);
    return found;
}

constexpr int timeoutMs = 30000;

QString storedFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Stowbay/stowbay.json";
}

QByteArray storedContents() {
    QFile file(storedFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Stores one item, followed by blank lines Stowbay does not write, so a rewrite shows; returns the
// stored item as Stowbay writes it.
QByteArray storeOneItem(bool keepOnQuit) {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Stowbay", "Stowbay")
        .setValue("keepOnQuit", keepOnQuit);
    QDir().mkpath(QFileInfo(storedFile()).absolutePath());
    QFile kept(QFileInfo(storedFile()).absolutePath() + "/kept.txt"), file(storedFile());
    if (!kept.open(QIODevice::WriteOnly) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return {};
    const auto added = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    kept.close(); // with the bookmark Stowbay would renew it to, so only the quit writes
    const QByteArray compact =
        StoredItems::encode({{QUuid::createUuid(), kept.fileName(), FileBookmark::create(kept.fileName()),
                              "kept.txt", added, false}});
    file.write(compact + "\n\n");
    return compact;
}

// True once process `pid` runs a thread whose name starts with `name`.
bool hasThread(qint64 pid, const QByteArray &name) {
    const QString tasks = QString("/proc/%1/task").arg(pid);
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks + "/" + task + "/comm");
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith(name)) return true;
    }
    return false;
}

} // namespace

class tst_StowbayProcess : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY2(QFileInfo(qEnvironmentVariable("STOWBAY_STOWBAY_BIN")).isExecutable(),
                 "STOWBAY_STOWBAY_BIN");
        QVERIFY2(m_x.display(), "needs the test desktop");
    }
    void oneStowbayThatQuitsCleanly_data();
    void oneStowbayThatQuitsCleanly();
    void hostsGoingAway_data();
    void hostsGoingAway();
    void theCommandLine();
    void theSessionEnding();

private:
    // Starts Stowbay; it is killed, if still running, when `owner` goes.
    static QProcess *start(QObject *owner) {
        auto *process = new QProcess(owner);
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), {});
        return process;
    }
    std::optional<QRect> trayIcon(QProcess *p) {
        return windowOf(m_x.display(), p->processId(), Kind::trayIcon);
    }
    // A process may end during an earlier wait, where waitForFinished() would no longer see it.
    static bool finished(QProcess *p) {
        return QTest::qWaitFor([p] { return p->state() == QProcess::NotRunning; }, timeoutMs);
    }

    XTestDriver m_x;
};

void tst_StowbayProcess::oneStowbayThatQuitsCleanly_data() {
    QTest::addColumn<int>("signo"); // 0: "Quit Stowbay" from the menu a click on the tray icon opens
    QTest::addColumn<bool>("keepOnQuit");
    QTest::newRow("SIGTERM, keep items: written out") << int(SIGTERM) << true;
    QTest::newRow("SIGTERM, do not keep: deleted") << int(SIGTERM) << false;
    QTest::newRow("SIGINT, keep items: written out") << int(SIGINT) << true;
    QTest::newRow("tray menu, keep items: written out") << 0 << true;
    QTest::newRow("SIGKILL: untouched, and the lock left behind is taken over") << int(SIGKILL) << true;
}

// A second start leaves at once and the first runs on with its file untouched; every way out of the
// first then runs the quit sequence, except a kill, after which the next start still runs.
void tst_StowbayProcess::oneStowbayThatQuitsCleanly() {
    QFETCH(int, signo);
    QFETCH(bool, keepOnQuit);
    const QByteArray compact = storeOneItem(keepOnQuit);
    QObject processes;
    QProcess *stowbay = start(&processes);
    std::optional<QRect> icon;
    QTRY_VERIFY_WITH_TIMEOUT((icon = trayIcon(stowbay)), timeoutMs);
    const QByteArray before = storedContents();

    QProcess *second = start(&processes);
    QVERIFY(finished(second));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(stowbay->state(), QProcess::Running);
    QCOMPARE(storedContents(), before);

    if (signo) {
        QCOMPARE(::kill(pid_t(stowbay->processId()), signo), 0);
    } else {
        m_x.moveTo(icon->center().x(), icon->center().y());
        m_x.button(true);
        m_x.button(false);
        QTRY_VERIFY_WITH_TIMEOUT(windowOf(m_x.display(), stowbay->processId(), Kind::menu), timeoutMs);
        m_x.chord({XK_Up}); // from no entry, up goes to the last one: "Quit Stowbay"
        m_x.chord({XK_Return});
    }
    QVERIFY(finished(stowbay));
    if (signo == SIGKILL) {
        QCOMPARE(storedContents(), before);
        QProcess *next = start(&processes);
        QTRY_VERIFY_WITH_TIMEOUT(trayIcon(next), timeoutMs);
        next->close();
        return;
    }
    QCOMPARE(stowbay->exitStatus(), QProcess::NormalExit);
    QCOMPARE(stowbay->exitCode(), 0);
    QCOMPARE(storedContents(), keepOnQuit ? compact : QByteArray());
    QCOMPARE(QFile::exists(storedFile()), keepOnQuit);
}

void tst_StowbayProcess::hostsGoingAway_data() {
    QTest::addColumn<bool>("trayHost"); // the tray host goes and comes back; else the X server goes
    QTest::addColumn<bool>("keepOnQuit");
    QTest::newRow("tray host restarted: the icon comes back") << true << true;
    QTest::newRow("X server, keep items: written out") << false << true;
    QTest::newRow("X server, do not keep: deleted") << false << false;
}

// On a display of this test's own, with a tray host: the tray host ends and another one starts, and
// the icon is taken into the new tray; or the X server ends under a running Stowbay (a crash, or the
// session's end), and the quit sequence still runs before the process ends.
void tst_StowbayProcess::hostsGoingAway() {
    QFETCH(bool, trayHost);
    QFETCH(bool, keepOnQuit);
    const QByteArray compact = storeOneItem(keepOnQuit);
    QProcess xvfb;
    xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
    QTRY_VERIFY_WITH_TIMEOUT(xvfb.canReadLine(), timeoutMs);
    const QByteArray display = ":" + xvfb.readLine().trimmed();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromLatin1(display));
    QProcess tray, nextTray, stowbay;
    for (QProcess *p : {&tray, &nextTray, &stowbay})
        p->setProcessEnvironment(environment);
    const QStringList trayArgs{"-c", QFINDTESTDATA("../../scripts/lib/tint2rc")};
    tray.start("tint2", trayArgs);
    stowbay.setProcessChannelMode(QProcess::ForwardedChannels);
    stowbay.start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), {});
    if (trayHost) {
        Display *x = XOpenDisplay(display.constData());
        QVERIFY(x);
        const auto embedded = [&] { return windowOf(x, stowbay.processId(), Kind::trayIcon).has_value(); };
        QTRY_VERIFY_WITH_TIMEOUT(embedded(), timeoutMs);
        tray.kill();
        QVERIFY(finished(&tray));
        QTRY_VERIFY_WITH_TIMEOUT(!embedded(), timeoutMs);
        nextTray.start("tint2", trayArgs);
        QTRY_VERIFY_WITH_TIMEOUT(embedded(), timeoutMs);
        XCloseDisplay(x);
        stowbay.terminate();
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(hasThread(stowbay.processId(), "stowbay.store"), timeoutMs); // launched
        xvfb.kill();
    }
    QVERIFY(finished(&stowbay));
    QCOMPARE(storedContents(), keepOnQuit ? compact : QByteArray());
    QCOMPARE(QFile::exists(storedFile()), keepOnQuit);
}

// Runs `stowbay arguments` in `folder`, without a display, to its end: its exit status and output.
static int command(const QStringList &arguments, const QString &folder, QByteArray *output = nullptr) {
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

// The command line, from a text console, against a running Stowbay, from start (the first command
// becomes Stowbay) to quit, while careless programs write to the same socket.
void tst_StowbayProcess::theCommandLine() {
    storeOneItem(true);
    QFile::remove(storedFile());
    QTemporaryDir folder;
    const QString dir = folder.path() + "/";
    QStringList files{"plain.txt", "with space.txt", "new\nline.txt", "folder"};
    QDir(dir).mkdir("folder");
    for (int i = 0; i <= 100; ++i)
        files << QString("f%1").arg(i, 3, 10, QChar('0'));
    for (const QString &name : files)
        if (name != "folder") QFile(dir + name).open(QIODevice::WriteOnly);
    QObject processes;
    auto *stowbay = new QProcess(&processes);
    stowbay->setWorkingDirectory(dir);
    stowbay->start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), {"add", "plain.txt"});
    QTRY_VERIFY_WITH_TIMEOUT(trayIcon(stowbay) && windowOf(m_x.display(), stowbay->processId(), Kind::panel),
                             timeoutMs); // the panel shows

    QLocalSocket garbage, huge, silent; // careless programs on the same socket
    for (QLocalSocket *client : {&garbage, &huge, &silent})
        client->connectToServer(SingleInstance().socketPath());
    garbage.write("garbage\n");
    huge.write("STOWBAY 1 request 16777216\n" + QByteArray(16 << 20, '{'));
    QVERIFY(garbage.flush() && huge.flush());
    QByteArray out;
    QCOMPARE(
        command({"add", "with space.txt", "new\nline.txt", "missing.txt", "folder", "plain.txt"}, dir, &out),
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
    QVERIFY(finished(stowbay));
    const auto stored = StoredItems::decode(storedContents());
    QVERIFY(stored && stored->size() == 1 && stored->first().path == dir + "f100");
    QCOMPARE(command({"list"}, dir), 3);
}

// A checkpoint, or a logout another program then cancels, asks Stowbay to save just as a logout does:
// it runs on, and only the session's real end quits it, with the list written out.
void tst_StowbayProcess::theSessionEnding() {
    const QByteArray compact = storeOneItem(true);
    QProcess manager, stowbay;
    const auto expect = [&manager](const QByteArray &line) {
        return QTest::qWaitFor([&] { return manager.canReadLine() && manager.readLine().trimmed() == line; },
                               timeoutMs);
    };
    manager.start(qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/stowbay_sessionmanager", {});
    QTRY_VERIFY_WITH_TIMEOUT(manager.canReadLine(), timeoutMs);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SESSION_MANAGER", QString::fromLatin1(manager.readLine().trimmed()));
    stowbay.setProcessEnvironment(environment);
    stowbay.start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), {});
    QVERIFY(expect("registered"));
    manager.write("checkpoint\n");
    QVERIFY(expect("hint 3") && expect("saved")); // never restarted by the session: autostart brings it back
    QCOMPARE(command({"list"}, QDir::tempPath()), 0);
    QCOMPARE(stowbay.state(), QProcess::Running);
    manager.write("logout\n");
    QVERIFY(expect("saved") && finished(&stowbay));
    QCOMPARE(storedContents(), compact);
    manager.closeWriteChannel();
    QVERIFY(finished(&manager));
}

STOWBAY_TEST_MAIN(tst_StowbayProcess)
#include "tst_StowbayProcess.moc"
