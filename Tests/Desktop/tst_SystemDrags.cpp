// Drags from another process, seen by the drag watcher on the real X server, and the whole gesture
// with the real program.
#include "Input/PanelWindows.h"
#include "Items/StowbayItem.h"
#include "Session/UserDefaults.h"
#include "Settings/AppSettings.h"
#include "TestSupport.h"
#include "Triggers/DragWatcher.h"
#include "X11/X11DragInput.h"

#include <QProcess>
#include <QWidget>

#include "DesktopWindows.h"
#include "XTestDriver.h"
#include <X11/Xatom.h>

namespace {
// A drag source of the test's own, on a connection of its own: it takes the drag pasteboard and
// answers the requests for its contents when and how the test says.
class FakeSource {
public:
    FakeSource() : m_display(XOpenDisplay(nullptr)) {
        m_window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 1, 1, 0, 0, 0);
    }
    ~FakeSource() { XCloseDisplay(m_display); }
    Atom atom(const char *name) { return XInternAtom(m_display, name, False); }
    // Takes the pasteboard, offering `types` in the window's type list, and returns the request
    // for the contents that follows.
    // `meanwhile` runs once the pasteboard is taken, before the watcher can have seen it.
    std::optional<XSelectionRequestEvent> take(const QList<const char *> &types,
                                               const std::function<void()> &meanwhile = {}) {
        QList<Atom> atoms;
        for (const char *type : types)
            atoms << atom(type);
        setProperty(m_window, atom("XdndTypeList"), XA_ATOM, atoms.data(), int(atoms.size()));
        XSetSelectionOwner(m_display, atom("XdndSelection"), m_window, CurrentTime);
        XSync(m_display, False);
        if (meanwhile) meanwhile();
        XEvent event;
        const bool asked =
            QTest::qWaitFor([&] { return XCheckTypedEvent(m_display, SelectionRequest, &event) == True; });
        return asked ? std::optional(event.xselectionrequest) : std::nullopt;
    }
    // Answers `request` with `data` as a list of files ("INCR": the start of a transfer in pieces).
    void answer(const XSelectionRequestEvent &r, const QByteArray &data, bool incr = false) {
        const long size = data.size();
        if (incr)
            setProperty(r.requestor, r.property, atom("INCR"), &size, 1);
        else
            setProperty(r.requestor, r.property, atom("text/uri-list"), data.constData(), int(size));
        XEvent event{};
        event.xselection = {SelectionNotify, 0,        True,       m_display, r.requestor,
                            r.selection,     r.target, r.property, r.time};
        XSendEvent(m_display, r.requestor, False, NoEventMask, &event);
        XSync(m_display, False);
    }

private:
    // Items of 32 bits (passed as longs) for atoms and numbers, else of 8.
    template <class T> void setProperty(Window w, Atom property, Atom type, const T *data, int count) {
        XChangeProperty(m_display, w, property, type, sizeof(T) == 1 ? 8 : 32, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(data), count);
    }

    Display *m_display;
    Window m_window;
};
} // namespace

using namespace DesktopWindows;
using TestSupport::storedContents;

class tst_SystemDrags : public QObject {
    Q_OBJECT
    XTestDriver x;
    X11DragInput input;
    MemoryUserDefaults defaults;
    AppSettings settings{defaults};
    DragWatcher watcher{input, input, settings};
    int triggers = 0, ended = 0;

private slots:
    void initTestCase() {
        QVERIFY2(x.display() && input.isConnected(), "the desktop tests need an X display");
        watcher.onTrigger = [this] { ++triggers; };
        watcher.onDragEnded = [this] { ++ended; };
        watcher.start();
    }
    void cleanup() { x.button(false); }

    void dragsFromAnotherProcess_data() {
        QTest::addColumn<bool>("files");
        QTest::newRow("files") << true;
        QTest::newRow("text") << false;
    }
    // Two drags from the same source, shaken: each is new, though the pasteboard's owner stays the
    // same, and only files open the panel. After the drop a shaken press starts nothing; its events
    // are the panel's own when it went down on the panel, and only then.
    void dragsFromAnotherProcess() {
        QFETCH(bool, files);
        triggers = ended = 0;
        QProcess source;
        QByteArray output;
        connect(&source, &QProcess::readyReadStandardOutput, this,
                [&] { output += source.readAllStandardOutput(); });
        source.start(qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/stowbay_dragsource",
                     {files ? "files" : "text", "100", "100", "300", "300"});
        QVERIFY(QTest::qWaitFor([&] { return output.contains("ready"); }, 10000));
        for (int drag = 1; drag <= 2; ++drag) {
            output.clear();
            QVERIFY(startDragAt(x, input, {250, 250}));
            QCOMPARE(input.hasFileURLs(), std::optional<bool>(files));
            x.shake();
            if (files) QTRY_COMPARE(triggers, drag);
            x.button(false);
            QTRY_VERIFY_WITH_TIMEOUT(output.contains("dropped"), 10000);
            QTRY_COMPARE(ended, files ? drag : 0);
        }

        QWidget panel; // framed by the window manager, like any top-level window
        panel.setGeometry(700, 300, 240, 200);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        PanelWindows::add(panel.winId());
        QList<MouseEvent> events;
        const int token = input.addMonitor([&](const MouseEvent &e) { events.append(e); });
        for (const bool inside : {true, false}) {
            events.clear();
            const QPoint at = inside ? panel.mapToGlobal(panel.rect().center())
                                     : panel.frameGeometry().bottomRight() + QPoint(40, 40);
            x.moveTo(at.x(), at.y());
            x.button(true);
            x.shake();
            x.button(false);
            QTRY_VERIFY(!events.isEmpty() && events.last().type == MouseEvent::Type::leftMouseUp);
            for (const MouseEvent &e : events)
                QCOMPARE(e.onPanel, inside);
        }
        input.removeMonitor(token);
        PanelWindows::remove(panel.winId());
        QCOMPARE(triggers, files ? 2 : 0);
        QCOMPARE(ended, files ? 2 : 0);
        QVERIFY(!watcher.isDragging());
        source.kill();
        source.waitForFinished();
    }

    // The whole gesture with the real program, as a person does it: a file dragged out of a real
    // file manager (a GTK program: it owns the pasteboard differently from a Qt one) and shaken opens
    // the panel, the file dropped there is held, the panel folds into the tab after the drag, the
    // pointer on the tab opens it, and "Drag all" into another folder window moves the file there
    // and takes the item off.
    void wholeGesture() {
        constexpr int timeoutMs = 20000;
        QTemporaryDir dir;
        const QString from = dir.filePath("stowbay-from"), to = dir.filePath("stowbay-to");
        TestSupport::writeFile(from + "/report.txt", "quarterly numbers");
        QVERIFY(QDir().mkpath(to));

        QProcess stowbay, fromWindow, toWindow;
        stowbay.setProcessChannelMode(QProcess::ForwardedChannels);
        stowbay.start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), {});
        fromWindow.start("pcmanfm", {"--no-desktop", from});
        const QRect source = placeWindow("stowbay-from", {0, 0});
        toWindow.start("pcmanfm", {"--no-desktop", "--new-win", to});
        const QRect target = placeWindow("stowbay-to", {0, 520});
        QTRY_VERIFY_WITH_TIMEOUT(windowOf(stowbay.processId(), Kind::trayIcon), timeoutMs);
        std::optional<QRect> panel; // as last seen: shown `width` points wide (240 expanded, 16 the tab)
        const auto panelShows = [&](int width) {
            return QTest::qWaitFor(
                [&] {
                    return (panel = windowOf(stowbay.processId(), Kind::panel)) && panel->width() == width;
                },
                timeoutMs);
        };

        const bool started = startDragInFolder(x, input, source);
        if (!started) run("import", {"-window", "root", "/tmp/gesture-fail.png"});
        QVERIFY2(started, "no drag could be started in the file manager");
        QCOMPARE(input.hasFileURLs(), std::optional<bool>(true));
        x.shake();
        QVERIFY2(panelShows(240), "the shake opened no panel");

        // Dropped on the header, and held.
        const QPoint header = panel->topLeft() + QPoint(60, 18);
        x.moveTo(header.x(), header.y());
        for (int i = 0; i < 10; ++i)
            x.moveBy(i % 2 ? -2 : 2, 0);
        x.button(false);
        QTRY_VERIFY_WITH_TIMEOUT(storedContents().contains("report.txt"), timeoutMs);

        // Away from the panel it folds into the tab; the pointer on the tab opens it again.
        x.moveTo(400, 300);
        QVERIFY2(panelShows(16), "no tab after the drag");
        x.moveTo(panel->center().x(), panel->center().y());
        QVERIFY2(panelShows(240), "the tab did not open the panel");
        QVERIFY(panelShows(240)); // at rest

        // "Drag all" into the other folder: the file manager moves the file, and the item goes.
        const QPoint dragAll(panel->center().x(), panel->bottom() - 10 - 15);
        std::atomic<int> wiggles = 0;
        dragByHand(dragAll, target.center() + QPoint(100, 0), [&] { return ++wiggles > 60; });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(to + "/report.txt"), timeoutMs);
        QVERIFY(!QFile::exists(from + "/report.txt"));
        QTRY_COMPARE_WITH_TIMEOUT(StoredItems::decode(storedContents()), std::optional(QList<StowbayItem>()),
                                  timeoutMs);
        for (QProcess *p : {&stowbay, &fromWindow, &toWindow})
            p->kill(), p->waitForFinished();
    }

    void contentsAnswers_data() {
        QTest::addColumn<QByteArray>("first");  // the first drag's owner: "" no first drag, "never" answers,
                                                // "late" answers with files once the second drag began,
                                                // "stale" the moment it began, to a window still there
        QTest::addColumn<QByteArray>("second"); // the second drag's answer: "files", "text", "large"
        QTest::addColumn<int>("files");         // what the second drag holds: 1 files, 0 not, -1 not known
        QTest::newRow("a late answer belongs to the earlier drag")
            << QByteArray("late") << QByteArray("text") << 0;
        QTest::newRow("an answer crossing the next drag belongs to the earlier drag")
            << QByteArray("stale") << QByteArray("text") << 0;
        QTest::newRow("a source gone mid-answer shifts nothing")
            << QByteArray("never") << QByteArray("files") << 1;
        QTest::newRow("a list sent in pieces is not files by its types")
            << QByteArray() << QByteArray("large") << -1;
    }

    // Each answer about a drag's contents is that drag's, whatever came before it or comes late.
    void contentsAnswers() {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(int, files);
        const QByteArray fileList = "file:///tmp/report.txt\r\n";
        FakeSource earlier, source;
        const qint64 before = input.changeCount();
        std::optional<XSelectionRequestEvent> early;
        if (!first.isEmpty()) QVERIFY((early = earlier.take({"text/uri-list"})));
        const auto request = source.take({"text/uri-list", "text/plain"}, [&] {
            if (first == "stale") earlier.answer(*early, fileList);
        });
        QVERIFY(request);
        if (second == "large")
            source.answer(*request, QByteArray(1 << 20, 'x'), true);
        else
            source.answer(*request, second == "files" ? fileList : "a few words");
        if (first == "late") earlier.answer(*early, fileList);
        // Everything sent so far has reached the watcher's connection: handle it now.
        XSync(x.display(), False);
        XSync(static_cast<Display *>(input.nativeDisplay()), False);
        input.processEvents();
        QCOMPARE(input.changeCount(), before + (first.isEmpty() ? 1 : 2));
        const std::optional<bool> held = input.hasFileURLs();
        QCOMPARE(held ? int(*held) : -1, files);
    }
};

STOWBAY_TEST_MAIN(tst_SystemDrags)
#include "tst_SystemDrags.moc"
