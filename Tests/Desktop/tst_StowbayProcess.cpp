// The real stowbay program, started as its own process on the test desktop (with its tray host), in
// the test's own home folder.
#include "FileBookmark.h"
#include "StowbayItem.h"
#include "TestSupport.h"

#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <csignal>
#include <functional>
#include <optional>

#include "XTestDriver.h"
#include <X11/Xatom.h>
#include <X11/keysym.h>

namespace {

// A viewable window of process `pid`, in root coordinates: inside another program's window (the tray
// host has taken our icon in) when `embedded`, else an override-redirect top-level one (a menu).
std::optional<QRect> windowOf(Display *display, qint64 pid, bool embedded) {
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
            (embedded ? parent != root : parent == root && a.override_redirect) &&
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

private:
    // Starts Stowbay; it is killed, if still running, when `owner` goes.
    static QProcess *start(QObject *owner) {
        auto *process = new QProcess(owner);
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), {});
        return process;
    }
    std::optional<QRect> trayIcon(QProcess *p) { return windowOf(m_x.display(), p->processId(), true); }
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
    const QByteArray compact = storeOneItem(keepOnQuit), before = storedContents();
    QObject processes;
    QProcess *stowbay = start(&processes);
    std::optional<QRect> icon;
    QTRY_VERIFY_WITH_TIMEOUT((icon = trayIcon(stowbay)), timeoutMs);

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
        QTRY_VERIFY_WITH_TIMEOUT(windowOf(m_x.display(), stowbay->processId(), false), timeoutMs);
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
        const auto embedded = [&] { return windowOf(x, stowbay.processId(), true).has_value(); };
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

STOWBAY_TEST_MAIN(tst_StowbayProcess)
#include "tst_StowbayProcess.moc"
