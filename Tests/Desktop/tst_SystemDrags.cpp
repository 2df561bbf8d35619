// Drags from another process, seen by the drag watcher on the real X server.
#include "AppSettings.h"
#include "DragWatcher.h"
#include "PanelWindows.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "X11DragInput.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>

#include "XTestDriver.h"
#include <X11/Xatom.h>

class tst_SystemDrags : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void dragsFromAnotherProcess_data();
    void dragsFromAnotherProcess();
    void pressesOnThePanelAreThePanelsOwn();
    void dragFromAFileManager();
    void contentsAnswers_data();
    void contentsAnswers();

private:
    bool startDragAt(QPoint at);
    void pressAndMove(QPoint at);
    void shake() {
        for (int s = 0; s < 24; ++s)
            x.moveBy((s / 4) % 2 ? -20 : 20, 0);
    }

    XTestDriver x;
    X11DragInput input;
    MemoryUserDefaults defaults;
    AppSettings settings{defaults};
    DragWatcher watcher{input, input, settings};
    QProcess source;
    QByteArray sourceOutput;
    int triggers = 0, ended = 0;
};

void tst_SystemDrags::initTestCase() {
    QVERIFY2(x.display() && input.isConnected(), "the desktop tests need an X display");
    connect(&source, &QProcess::readyReadStandardOutput, this,
            [this] { sourceOutput += source.readAllStandardOutput(); });
    watcher.onTrigger = [this] { ++triggers; };
    watcher.onDragEnded = [this] { ++ended; };
    watcher.start();
}

void tst_SystemDrags::cleanup() {
    x.button(false);
    source.kill();
    source.waitForFinished();
    sourceOutput.clear();
    triggers = ended = 0;
}

void tst_SystemDrags::pressAndMove(QPoint at) {
    x.moveTo(at.x(), at.y());
    x.button(true);
    for (int i = 0; i < 5; ++i)
        x.moveBy(6, 0);
}

// True once a press and a move at `at` have made a drag take the pasteboard with contents known.
// A hand keeps moving a little while the drag gets under way.
bool tst_SystemDrags::startDragAt(QPoint at) {
    const qint64 before = input.changeCount();
    pressAndMove(at);
    for (int i = 0; i < 100; ++i) {
        if (input.changeCount() > before && input.hasFileURLs().has_value()) return true;
        x.moveBy(i % 2 ? -2 : 2, 0);
    }
    return false;
}

void tst_SystemDrags::dragsFromAnotherProcess_data() {
    QTest::addColumn<bool>("files");
    QTest::newRow("files") << true;
    QTest::newRow("text") << false;
}

void tst_SystemDrags::dragsFromAnotherProcess() {
    QFETCH(bool, files);
    source.start(qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/stowbay_dragsource",
                 {files ? "files" : "text", "100", "100", "300", "300"});
    QVERIFY(QTest::qWaitFor([this] { return sourceOutput.contains("ready"); }, 10000));
    // Two drags from the same source: each is new, though the pasteboard's owner stays the same.
    for (int drag = 1; drag <= 2; ++drag) {
        sourceOutput.clear();
        QVERIFY(startDragAt({250, 250}));
        QCOMPARE(input.hasFileURLs(), std::optional<bool>(files));
        shake();
        if (files) QTRY_COMPARE(triggers, drag);
        x.button(false);
        QTRY_VERIFY_WITH_TIMEOUT(sourceOutput.contains("dropped"), 10000);
        QTRY_COMPARE(ended, files ? drag : 0);
    }
    // A shaken press on the desktop after the drop starts nothing: the pasteboard is as it was.
    pressAndMove({1000, 700});
    shake();
    x.button(false);
    QCOMPARE(triggers, files ? 2 : 0);
    QCOMPARE(ended, files ? 2 : 0);
    QVERIFY(!watcher.isDragging());
}

void tst_SystemDrags::pressesOnThePanelAreThePanelsOwn() {
    QWidget panel; // framed by the window manager, like any top-level window
    panel.resize(240, 200);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    PanelWindows::add(panel.winId());
    QList<MouseEvent> events;
    const int token = input.addMonitor([&](const MouseEvent &e) { events.append(e); });
    // Inside the panel, then the same gesture beside it.
    for (const bool inside : {true, false}) {
        events.clear();
        pressAndMove(inside ? panel.mapToGlobal(panel.rect().center())
                            : panel.frameGeometry().bottomRight() + QPoint(40, 40));
        x.button(false);
        QTRY_VERIFY(!events.isEmpty() && events.last().type == MouseEvent::Type::leftMouseUp);
        for (const MouseEvent &e : events)
            QCOMPARE(e.onPanel, inside);
    }
    input.removeMonitor(token);
    PanelWindows::remove(panel.winId());
}

// A GTK program as the drag source: it owns the pasteboard differently from a Qt one.
void tst_SystemDrags::dragFromAFileManager() {
    const QString pcmanfm = QStandardPaths::findExecutable("pcmanfm");
    if (pcmanfm.isEmpty()) QSKIP("pcmanfm is not installed");
    QTemporaryDir dir;
    const QString folder = dir.filePath("stowbay-drag-files");
    QVERIFY(QDir().mkpath(folder));
    QFile file(folder + "/report.txt");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QProcess manager;
    manager.start(pcmanfm, {"--no-desktop", folder});
    QProcess find;
    find.start("xdotool", {"search", "--sync", "--onlyvisible", "--name", "stowbay-drag-files",
                           "getwindowgeometry", "--shell"});
    QVERIFY(find.waitForFinished(20000));
    const QString geometry = QString::fromLatin1(find.readAllStandardOutput());
    const auto field = [&](const char *name) {
        return QRegularExpression(QString("%1=(\\d+)").arg(name)).match(geometry).captured(1).toInt();
    };
    const QPoint origin(field("X"), field("Y"));

    // The one icon sits near the top left of the folder view, right of the side pane: look for the
    // spot where a press and a short move start a drag.
    bool started = false;
    for (int dy = 95; dy <= 125 && !started; dy += 15)
        for (int dx = 205; dx >= 175 && !started; dx -= 15)
            if (!(started = startDragAt(origin + QPoint(dx, dy)))) x.button(false);
    QVERIFY2(started, qPrintable("no drag could be started in the file manager at " + geometry));
    QCOMPARE(input.hasFileURLs(), std::optional<bool>(true));
    shake();
    QTRY_VERIFY(triggers >= 1);
    x.button(false);
    QTRY_COMPARE(ended, 1);
    QVERIFY(QFile::exists(file.fileName()));
    manager.kill();
    manager.waitForFinished();
}

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
    std::optional<XSelectionRequestEvent> take(const QList<const char *> &types) {
        QList<Atom> atoms;
        for (const char *type : types)
            atoms << atom(type);
        XChangeProperty(m_display, m_window, atom("XdndTypeList"), XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char *>(atoms.data()), int(atoms.size()));
        XSetSelectionOwner(m_display, atom("XdndSelection"), m_window, CurrentTime);
        XSync(m_display, False);
        std::optional<XSelectionRequestEvent> request;
        const bool asked = QTest::qWaitFor([&] {
            while (!request && XPending(m_display)) {
                XEvent event;
                XNextEvent(m_display, &event);
                if (event.type == SelectionRequest) request = event.xselectionrequest;
            }
            return request.has_value();
        });
        return asked ? request : std::nullopt;
    }
    // Answers `request` with `data` of the given type ("INCR": the start of a transfer in pieces).
    void answer(const XSelectionRequestEvent &request, const QByteArray &data, const char *type) {
        const bool incr = QByteArray(type) == "INCR";
        const long size = data.size();
        XChangeProperty(m_display, request.requestor, request.property, atom(type), incr ? 32 : 8,
                        PropModeReplace,
                        incr ? reinterpret_cast<const unsigned char *>(&size)
                             : reinterpret_cast<const unsigned char *>(data.constData()),
                        incr ? 1 : int(data.size()));
        XEvent event{};
        event.xselection = {SelectionNotify,
                            0,
                            True,
                            m_display,
                            request.requestor,
                            request.selection,
                            request.target,
                            request.property,
                            request.time};
        XSendEvent(m_display, request.requestor, False, NoEventMask, &event);
        XSync(m_display, False);
    }

private:
    Display *m_display;
    Window m_window;
};
} // namespace

void tst_SystemDrags::contentsAnswers_data() {
    QTest::addColumn<QByteArray>("first");  // the first drag's owner: "" no first drag, "never" answers,
                                            // "late" answers with files once the second drag began
    QTest::addColumn<QByteArray>("second"); // the second drag's answer: "files", "text", "large"
    QTest::addColumn<int>("files");         // what the second drag holds: 1 files, 0 not, -1 not known
    QTest::newRow("a late answer belongs to the earlier drag")
        << QByteArray("late") << QByteArray("text") << 0;
    QTest::newRow("a source gone mid-answer shifts nothing")
        << QByteArray("never") << QByteArray("files") << 1;
    QTest::newRow("a list sent in pieces is not files by its types")
        << QByteArray() << QByteArray("large") << -1;
}

// Each answer about a drag's contents is that drag's, whatever came before it or comes late.
void tst_SystemDrags::contentsAnswers() {
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(int, files);
    const QByteArray fileList = "file:///tmp/report.txt\r\n";
    FakeSource earlier, source;
    const qint64 before = input.changeCount();
    std::optional<XSelectionRequestEvent> early;
    if (!first.isEmpty()) QVERIFY((early = earlier.take({"text/uri-list"})));
    const auto request = source.take({"text/uri-list", "text/plain"});
    QVERIFY(request);
    if (second == "large")
        source.answer(*request, QByteArray(1 << 20, 'x'), "INCR");
    else
        source.answer(*request, second == "files" ? fileList : "a few words", "text/uri-list");
    if (first == "late") earlier.answer(*early, fileList, "text/uri-list");
    // Everything sent so far has reached the watcher's connection: handle it now.
    XSync(x.display(), False);
    XSync(static_cast<Display *>(input.nativeDisplay()), False);
    input.processEvents();
    QCOMPARE(input.changeCount(), before + (first.isEmpty() ? 1 : 2));
    const std::optional<bool> held = input.hasFileURLs();
    QCOMPARE(held ? int(*held) : -1, files);
}

STOWBAY_TEST_MAIN(tst_SystemDrags)
#include "tst_SystemDrags.moc"
