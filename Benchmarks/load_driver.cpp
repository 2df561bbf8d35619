// Drives the real stowbay program on a test desktop (DISPLAY with a window manager and a tray host),
// in homes of its own, the way a hand would: the shortcut opens the panel pinned, files are dragged
// onto it from the test drag source and out of it with "Drag all" into the test drop target.
//
//   stowbay_load_driver soak STOWBAY BIN_DIR [CYCLES=1000]
//     CYCLES drags onto the panel and out again; prints the program's resident memory, open files
//     and the X server's window count before (after a warm-up of 20 cycles) and after.
//   stowbay_load_driver sigterm STOWBAY BIN_DIR [RUNS=100]
//     each run starts the program holding three items, drops two new files on the panel, sends
//     SIGTERM at a random moment of the next 0.7 s and reads the stored file: nothing may be lost.
#include "Items/StowbayItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTest>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>

#include "Desktop/XTestDriver.h"
#include <X11/Xatom.h>
#include <X11/keysym.h>

namespace {

constexpr int timeoutMs = 20000;

// A viewable override-redirect top-level window of process `pid` (the panel or its tab).
std::optional<QRect> panelOf(Display *display, qint64 pid) {
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    const Window root = DefaultRootWindow(display);
    Window parent, *children = nullptr;
    unsigned int n = 0;
    std::optional<QRect> found;
    if (!XQueryTree(display, root, &parent, &parent, &children, &n)) return found;
    for (unsigned int i = 0; i < n && !found; ++i) {
        Atom type;
        int format, x, y;
        unsigned long count, after;
        unsigned char *data = nullptr;
        XWindowAttributes a;
        Window child;
        if (XGetWindowProperty(display, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                               &count, &after, &data) == Success &&
            data && count == 1 && qint64(*reinterpret_cast<unsigned long *>(data)) == pid &&
            XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable &&
            a.override_redirect && a.width >= 16 && a.height >= 16 &&
            XTranslateCoordinates(display, children[i], root, 0, 0, &x, &y, &child))
            found = QRect(x, y, a.width, a.height);
        if (data) XFree(data);
    }
    if (children) XFree(children);
    return found;
}

// A home of its own, with the welcome already seen; `stored` is the stored list, if any.
struct Home {
    QTemporaryDir dir;
    explicit Home(const QByteArray &stored = {}) {
        for (const char *sub : {"/config/Stowbay", "/data/Stowbay", "/cache", "/runtime"})
            QDir().mkpath(dir.path() + sub);
        QFile::setPermissions(dir.path() + "/runtime",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile settings(dir.path() + "/config/Stowbay/Stowbay.conf");
        if (settings.open(QIODevice::WriteOnly)) settings.write("[General]\ndidShowWelcome=true\n");
        if (!stored.isEmpty()) write(storedFile(), stored);
    }
    QString storedFile() const { return dir.path() + "/data/Stowbay/stowbay.json"; }
    QString file(const QString &name) const { return dir.path() + "/" + name; }
    static void write(const QString &path, const QByteArray &bytes) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) file.write(bytes);
    }
    QProcessEnvironment environment() const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("HOME", dir.path());
        e.insert("XDG_CONFIG_HOME", dir.path() + "/config");
        e.insert("XDG_DATA_HOME", dir.path() + "/data");
        e.insert("XDG_CACHE_HOME", dir.path() + "/cache");
        e.insert("XDG_RUNTIME_DIR", dir.path() + "/runtime");
        return e;
    }
};

// A helper process whose output is gathered as it comes.
struct Helper {
    QProcess process;
    QByteArray output;
    Helper() {
        QObject::connect(&process, &QProcess::readyReadStandardOutput,
                         [this] { output += process.readAllStandardOutput(); });
    }
    ~Helper() {
        process.kill();
        process.waitForFinished();
    }
    bool start(const QString &program, const QStringList &args) {
        process.start(program, args);
        return QTest::qWaitFor([&] { return output.contains("ready"); }, timeoutMs);
    }
    // Waits for `text` in the output since the last call, and forgets what came before it.
    bool said(const QByteArray &text) {
        const bool found = QTest::qWaitFor([&] { return output.contains(text); }, timeoutMs);
        output.clear();
        return found;
    }
};

QStringList place(const QRect &r) {
    return {QString::number(r.x()), QString::number(r.y()), QString::number(r.width()),
            QString::number(r.height())};
}

// Stowbay started in `home`, opened pinned by its shortcut once its launch is over.
struct Stowbay {
    QProcess process;
    XTestDriver x;
    explicit Stowbay(const QString &program, const Home &home, bool holdsItems) {
        process.setProcessEnvironment(home.environment());
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(program, {});
        // With items the tab shows at the end of the launch; without, the launch is given time.
        if (holdsItems)
            (void)QTest::qWaitFor([&] { return panel().has_value(); }, timeoutMs);
        else
            QTest::qWait(2000);
    }
    ~Stowbay() {
        process.kill();
        process.waitForFinished();
    }
    qint64 pid() const { return process.processId(); }
    std::optional<QRect> panel() { return panelOf(x.display(), pid()); }
    // The expanded panel, at rest.
    std::optional<QRect> open() {
        x.chord({XK_Control_L, XK_Alt_L, XK_s});
        std::optional<QRect> last;
        int still = 0;
        (void)QTest::qWaitFor(
            [&] {
                const std::optional<QRect> now = panel();
                still = now && now == last && now->width() == 240 ? still + 1 : 0;
                last = now;
                return still >= 3;
            },
            timeoutMs);
        return still >= 3 ? last : std::nullopt;
    }
};

// Drags from the source's window to `to`, letting the pointer rest there a moment before the drop.
bool dropOn(QPoint from, QPoint to, const std::function<bool()> &arrived = {}) {
    int turns = 0;
    return dragByHand(from, to, [&] { return arrived ? arrived() : ++turns > 8; });
}

qint64 residentKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

int openFiles(qint64 pid) {
    return int(
        QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

int xWindows() {
    QProcess tree;
    tree.start("xwininfo", {"-root", "-tree"});
    tree.waitForFinished(timeoutMs);
    return int(tree.readAllStandardOutput().count('\n'));
}

const QRect sourceRect(100, 100, 300, 300);
const QRect targetRect(100, 550, 300, 300);

int soak(const QString &program, const QString &bin, int cycles) {
    Home home;
    const QString file = home.file("soaked.txt");
    Home::write(file, "a file dragged a thousand times");
    Helper source, target;
    if (!source.start(bin + "/stowbay_dragsource",
                      QStringList{"files"} + place(sourceRect) + QStringList{file}) ||
        !target.start(bin + "/stowbay_droptarget", place(targetRect)))
        return std::puts("the drag source or the drop target did not start"), 1;
    Stowbay stowbay(program, home, false);
    const std::optional<QRect> empty = stowbay.open();
    if (!empty) return std::puts("the panel did not open"), 1;

    struct Figures {
        qint64 rss;
        int files, windows;
    };
    const auto figures = [&] {
        return Figures{residentKiB(stowbay.pid()), openFiles(stowbay.pid()), xWindows()};
    };
    std::optional<Figures> before;
    const int warmUp = std::min(20, cycles / 10);
    for (int cycle = 0; cycle < cycles; ++cycle) {
        if (cycle == warmUp) before = figures();
        // Onto the panel's header; the panel grows to hold the file.
        if (!dropOn(sourceRect.center(), empty->topLeft() + QPoint(60, 18)) ||
            !source.said("dropped, taken") ||
            !QTest::qWaitFor([&] { return stowbay.panel() && stowbay.panel()->height() != empty->height(); },
                             timeoutMs))
            return std::printf("cycle %d: the drop on the panel did not arrive\n", cycle), 1;
        QTest::qWait(300); // the panel grows in 0.25 s
        // "Drag all", at the foot of the panel, into the other process; the item goes.
        const QRect full = *stowbay.panel();
        std::atomic<bool> over{false};
        QMetaObject::Connection watch =
            QObject::connect(&target.process, &QProcess::readyReadStandardOutput,
                             [&] { over = over || target.output.contains("over"); });
        const bool out = dropOn(QPoint(full.center().x(), full.bottom() - 25), targetRect.center(),
                                [&] { return over.load(); });
        QObject::disconnect(watch);
        if (!out || !target.said("drop ") ||
            !QTest::qWaitFor([&] { return stowbay.panel() && stowbay.panel()->height() == empty->height(); },
                             timeoutMs))
            return std::printf("cycle %d: the drag out did not arrive\n", cycle), 1;
        QTest::qWait(300);
        if ((cycle + 1) % 100 == 0)
            std::printf("%d cycles: resident %lld KiB\n", cycle + 1, qlonglong(residentKiB(stowbay.pid())));
    }
    QTest::qWait(1000);
    const Figures after = figures();
    std::printf("%d drags onto the panel and out again (figures from cycle %d on)\n", cycles, warmUp);
    std::printf("resident memory: %lld KiB -> %lld KiB (%+lld KiB)\n", qlonglong(before->rss),
                qlonglong(after.rss), qlonglong(after.rss - before->rss));
    std::printf("open files: %d -> %d\nX windows: %d -> %d\n", before->files, after.files, before->windows,
                after.windows);
    return 0;
}

int sigterm(const QString &program, const QString &bin, int runs) {
    int kept = 0, missed = 0;
    QStringList lost;
    for (int run = 1; run <= runs; ++run) {
        QList<StowbayItem> seeded;
        Home home;
        for (const char *name : {"one.txt", "two.txt", "three.txt"}) {
            Home::write(home.file(name), name);
            seeded << StowbayItem{QUuid::createUuid(),
                                  home.file(name),
                                  std::nullopt,
                                  name,
                                  QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), QTimeZone::utc()),
                                  false};
        }
        Home::write(home.storedFile(), StoredItems::encode(seeded));
        const QStringList dropped{home.file("dropped one.txt"), home.file("dropped two.txt")};
        for (const QString &file : dropped)
            Home::write(file, "dropped");
        Helper source;
        if (!source.start(bin + "/stowbay_dragsource", QStringList{"files"} + place(sourceRect) + dropped))
            return std::puts("the drag source did not start"), 1;
        Stowbay stowbay(program, home, true);
        const std::optional<QRect> panel = stowbay.open();
        if (!panel) return std::printf("run %d: the panel did not open\n", run), 1;
        const int delay = int(QRandomGenerator::global()->bounded(700));
        if (!dropOn(sourceRect.center(), panel->topLeft() + QPoint(60, 18)) ||
            !source.said("dropped, taken")) {
            ++missed; // the drop never reached the panel: nothing was in flight
            continue;
        }
        QTest::qWait(delay);
        ::kill(pid_t(stowbay.pid()), SIGTERM);
        const bool ended =
            QTest::qWaitFor([&] { return stowbay.process.state() == QProcess::NotRunning; }, timeoutMs);
        QFile stored(home.storedFile());
        const std::optional<QList<StowbayItem>> items =
            stored.open(QIODevice::ReadOnly) ? StoredItems::decode(stored.readAll()) : std::nullopt;
        QStringList paths;
        for (const StowbayItem &item : items.value_or(QList<StowbayItem>{}))
            paths << item.path;
        QStringList expected;
        for (const StowbayItem &item : seeded)
            expected << item.path;
        expected << dropped;
        if (ended && stowbay.process.exitCode() == 0 && paths == expected)
            ++kept;
        else
            lost << QStringLiteral("run %1 (SIGTERM %2 ms after the drop): %3 of 5 kept, exit %4")
                        .arg(run)
                        .arg(delay)
                        .arg(paths.size())
                        .arg(ended ? QString::number(stowbay.process.exitCode()) : QStringLiteral("never"));
    }
    for (const QString &line : std::as_const(lost))
        std::printf("lost: %s\n", qPrintable(line));
    std::printf("SIGTERM with changes in flight: nothing lost in %d of %d runs (%d drops missed the panel)\n",
                kept, runs - missed, missed);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc < 4) return std::puts("usage: stowbay_load_driver soak|sigterm STOWBAY BIN_DIR [COUNT]"), 2;
    const QString mode = argv[1], program = argv[2], bin = argv[3];
    const int count = argc > 4 ? atoi(argv[4]) : mode == "soak" ? 1000 : 100;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (mode == "soak") return soak(program, bin, count);
    if (mode == "sigterm") return sigterm(program, bin, count);
    return 2;
}
