// The real stowbay program, started as its own process on the test desktop (with its tray host),
// each start in its own empty home folder.
#include "StowbayItem.h"
#include "TestSupport.h"

#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <csignal>
#include <functional>
#include <optional>

namespace {

enum class Placement { embedded, popup };

// A mapped window of process `pid`, in root coordinates: either one inside another program's
// window (the tray host has taken our icon in) or an override-redirect top-level one (a menu).
std::optional<QRect> windowOf(qint64 pid, Placement placement) {
    Display *display = XOpenDisplay(nullptr);
    if (!display) return std::nullopt;
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", True);
    const Window root = DefaultRootWindow(display);
    std::optional<QRect> found;
    std::function<void(Window, Window)> visit = [&](Window window, Window parent) {
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char *data = nullptr;
        if (pidAtom != None && window != root &&
            XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                               &after, &data) == Success &&
            data && count == 1 && qint64(*reinterpret_cast<unsigned long *>(data)) == pid) {
            XWindowAttributes a;
            Window child;
            int x = 0, y = 0;
            if (XGetWindowAttributes(display, window, &a) && a.map_state == IsViewable && a.width > 4 &&
                (placement == Placement::embedded ? parent != root : parent == root && a.override_redirect) &&
                XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child))
                found = QRect(x, y, a.width, a.height);
        }
        if (data) XFree(data);
        Window rootReturn, parentReturn, *children = nullptr;
        unsigned int n = 0;
        if (!XQueryTree(display, window, &rootReturn, &parentReturn, &children, &n)) return;
        for (unsigned int i = 0; i < n && !found; ++i)
            visit(children[i], window);
        if (children) XFree(children);
    };
    visit(root, None);
    XCloseDisplay(display);
    return found;
}

bool trayIconShown(qint64 pid) {
    return windowOf(pid, Placement::embedded).has_value();
}

// Pointer and keys through XTEST, as a user would.
void click(QPoint at, unsigned int button) {
    Display *display = XOpenDisplay(nullptr);
    XTestFakeMotionEvent(display, -1, at.x(), at.y(), CurrentTime);
    XTestFakeButtonEvent(display, button, True, CurrentTime);
    XTestFakeButtonEvent(display, button, False, CurrentTime);
    XCloseDisplay(display);
}

void pressKey(KeySym keysym) {
    Display *display = XOpenDisplay(nullptr);
    const KeyCode code = XKeysymToKeycode(display, keysym);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    XCloseDisplay(display);
}

// One home folder and the Stowbay processes started in it.
class StowbayHome {
public:
    StowbayHome() {
        for (const char *sub : {"/config", "/data", "/cache", "/runtime"})
            QDir().mkpath(m_dir.path() + sub);
        QFile::setPermissions(m_dir.path() + "/runtime",
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    QString storedFile() const { return m_dir.path() + "/data/Stowbay/stowbay.json"; }
    QString path(const QString &name) const { return m_dir.path() + "/" + name; }

    void setKeepOnQuit(bool keep) {
        QDir().mkpath(m_dir.path() + "/config/Stowbay");
        QFile conf(m_dir.path() + "/config/Stowbay/Stowbay.conf");
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(QByteArray("[General]\nkeepOnQuit=") + (keep ? "true" : "false") + "\n");
    }

    void writeStoredFile(const QByteArray &contents) {
        QDir().mkpath(QFileInfo(storedFile()).absolutePath());
        QFile file(storedFile());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }

    QByteArray storedContents() const {
        QFile file(storedFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    std::unique_ptr<QProcess> start() {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_dir.path());
        env.insert("XDG_CONFIG_HOME", m_dir.path() + "/config");
        env.insert("XDG_DATA_HOME", m_dir.path() + "/data");
        env.insert("XDG_CACHE_HOME", m_dir.path() + "/cache");
        env.insert("XDG_RUNTIME_DIR", m_dir.path() + "/runtime");
        env.insert("QT_QPA_PLATFORM", "xcb");
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), {});
        return process;
    }

private:
    QTemporaryDir m_dir{QDir::tempPath() + "/stowbay-process-XXXXXX"};
};

// Stops a process the test did not get to stop, so no Stowbay outlives the test.
struct Reaper {
    QProcess *process;
    ~Reaper() {
        if (process->state() == QProcess::NotRunning) return;
        process->kill();
        process->waitForFinished(5000);
    }
};

constexpr int startTimeoutMs = 30000;

} // namespace

class tst_StowbayProcess : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void trayIconAppearsInTheTray();
    void aSecondStartLeavesTheRunningOneAlone();
    void quitSignalsRunTheQuitSequence_data();
    void quitSignalsRunTheQuitSequence();
    void quitFromTheTrayMenuRunsTheQuitSequence();
};

void tst_StowbayProcess::initTestCase() {
    QVERIFY2(QFileInfo(qEnvironmentVariable("STOWBAY_STOWBAY_BIN")).isExecutable(), "STOWBAY_STOWBAY_BIN");
    QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs the test desktop");
}

void tst_StowbayProcess::trayIconAppearsInTheTray() {
    StowbayHome home;
    auto stowbay = home.start();
    Reaper reaper{stowbay.get()};
    QVERIFY(stowbay->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(trayIconShown(stowbay->processId()), startTimeoutMs);
    QCOMPARE(stowbay->state(), QProcess::Running);
    stowbay->terminate();
    QVERIFY(stowbay->waitForFinished(startTimeoutMs));
}

void tst_StowbayProcess::aSecondStartLeavesTheRunningOneAlone() {
    StowbayHome home;
    QFile kept(home.path("kept.txt"));
    QVERIFY(kept.open(QIODevice::WriteOnly));
    const StowbayItem item{QUuid::createUuid(),
                           kept.fileName(),
                           std::nullopt,
                           "kept.txt",
                           QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC),
                           false};
    home.writeStoredFile(StoredItems::encode({item}));

    auto first = home.start();
    Reaper firstReaper{first.get()};
    QTRY_VERIFY_WITH_TIMEOUT(trayIconShown(first->processId()), startTimeoutMs);
    const QByteArray before = home.storedContents();

    auto second = home.start();
    Reaper secondReaper{second.get()};
    QVERIFY(second->waitForFinished(startTimeoutMs));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);

    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(home.storedContents(), before);

    first->terminate();
    QVERIFY(first->waitForFinished(startTimeoutMs));
    QCOMPARE(first->exitCode(), 0);
    QCOMPARE(StoredItems::decode(home.storedContents()).value_or(QList<StowbayItem>{}),
             QList<StowbayItem>{item});
}

void tst_StowbayProcess::quitSignalsRunTheQuitSequence_data() {
    QTest::addColumn<int>("signo");
    QTest::addColumn<bool>("keepOnQuit");
    QTest::newRow("SIGTERM, keep items: written out") << int(SIGTERM) << true;
    QTest::newRow("SIGTERM, do not keep: deleted") << int(SIGTERM) << false;
    QTest::newRow("SIGINT, keep items: written out") << int(SIGINT) << true;
    QTest::newRow("SIGINT, do not keep: deleted") << int(SIGINT) << false;
}

void tst_StowbayProcess::quitSignalsRunTheQuitSequence() {
    QFETCH(int, signo);
    QFETCH(bool, keepOnQuit);
    StowbayHome home;
    home.setKeepOnQuit(keepOnQuit);
    QFile kept(home.path("kept.txt"));
    QVERIFY(kept.open(QIODevice::WriteOnly));
    const StowbayItem item{QUuid::createUuid(),
                           kept.fileName(),
                           std::nullopt,
                           "kept.txt",
                           QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC),
                           false};
    // Laid out differently from how Stowbay writes it, so a rewrite at quit shows.
    const QByteArray compact = StoredItems::encode({item});
    const QByteArray indented = QJsonDocument::fromJson(compact).toJson(QJsonDocument::Indented);
    QVERIFY(indented != compact);
    home.writeStoredFile(indented);

    auto stowbay = home.start();
    Reaper reaper{stowbay.get()};
    QTRY_VERIFY_WITH_TIMEOUT(trayIconShown(stowbay->processId()), startTimeoutMs);
    QCOMPARE(::kill(pid_t(stowbay->processId()), signo), 0);
    QVERIFY(stowbay->waitForFinished(startTimeoutMs));
    QCOMPARE(stowbay->exitStatus(), QProcess::NormalExit);
    QCOMPARE(stowbay->exitCode(), 0);

    if (keepOnQuit) {
        QCOMPARE(home.storedContents(), compact);
    } else {
        QVERIFY(!QFile::exists(home.storedFile()));
    }
}

void tst_StowbayProcess::quitFromTheTrayMenuRunsTheQuitSequence() {
    StowbayHome home;
    QFile kept(home.path("kept.txt"));
    QVERIFY(kept.open(QIODevice::WriteOnly));
    const StowbayItem item{QUuid::createUuid(),
                           kept.fileName(),
                           std::nullopt,
                           "kept.txt",
                           QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC),
                           false};
    const QByteArray compact = StoredItems::encode({item});
    home.writeStoredFile(QJsonDocument::fromJson(compact).toJson(QJsonDocument::Indented));

    auto stowbay = home.start();
    Reaper reaper{stowbay.get()};
    std::optional<QRect> icon;
    QTRY_VERIFY_WITH_TIMEOUT((icon = windowOf(stowbay->processId(), Placement::embedded)), startTimeoutMs);
    click(icon->center(), Button1);
    QTRY_VERIFY_WITH_TIMEOUT(windowOf(stowbay->processId(), Placement::popup), startTimeoutMs);
    pressKey(XK_Up); // from no entry, up goes to the last one: "Quit Stowbay"
    pressKey(XK_Return);
    QVERIFY(stowbay->waitForFinished(startTimeoutMs));
    QCOMPARE(stowbay->exitStatus(), QProcess::NormalExit);
    QCOMPARE(stowbay->exitCode(), 0);
    QCOMPARE(home.storedContents(), compact);
}

STOWBAY_TEST_MAIN(tst_StowbayProcess)
#include "tst_StowbayProcess.moc"
