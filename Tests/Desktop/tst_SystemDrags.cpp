// File drags from another process, seen by the drag watcher on the real X server.
#include "AppSettings.h"
#include "DragWatcher.h"
#include "PanelWindows.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "X11DragInput.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>

#include "XTestDriver.h"

class tst_SystemDrags : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void fileDragWithAShakeOpensThePanel();
    void textDragNeverOpens();
    void anyDragOpensOnceAtTheStart();
    void pressesOnThePanelAreThePanelsOwn();
    void fileManagerDragWithAShakeOpensThePanel();

private:
    bool startSource(const char *mode);
    bool startDragInSource();
    void shake(int swings, int travel);

    QProcess source;
    QByteArray sourceOutput;
    std::unique_ptr<XTestDriver> x;
    std::unique_ptr<X11DragInput> input;
    std::unique_ptr<MemoryUserDefaults> defaults;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<DragWatcher> watcher;
    int triggers = 0;
    int ended = 0;
};

// The source's window, in global coordinates.
static const QRect sourceRect(100, 100, 300, 300);

void tst_SystemDrags::initTestCase() {
    QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "the desktop tests need an X display");
    connect(&source, &QProcess::readyReadStandardOutput, this,
            [this] { sourceOutput += source.readAllStandardOutput(); });
}

void tst_SystemDrags::init() {
    x = std::make_unique<XTestDriver>();
    QVERIFY(x->display());
    input = std::make_unique<X11DragInput>();
    QVERIFY(input->isConnected());
    defaults = std::make_unique<MemoryUserDefaults>();
    settings = std::make_unique<AppSettings>(*defaults);
    watcher = std::make_unique<DragWatcher>(*input, *input, *settings);
    triggers = ended = 0;
    watcher->onTrigger = [this] { ++triggers; };
    watcher->onDragEnded = [this] { ++ended; };
    watcher->start();
    x->moveTo(1000, 700);
}

void tst_SystemDrags::cleanup() {
    x->button(false);
    source.kill();
    source.waitForFinished();
    sourceOutput.clear();
    watcher.reset();
    input.reset();
}

bool tst_SystemDrags::startSource(const char *mode) {
    const QString program = qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/stowbay_dragsource";
    source.start(program, {mode, QString::number(sourceRect.x()), QString::number(sourceRect.y()),
                           QString::number(sourceRect.width()), QString::number(sourceRect.height())});
    return QTest::qWaitFor([this] { return sourceOutput.contains("ready"); }, 10000);
}

// Presses inside the source and moves far enough for it to start its drag; true once the drag
// pasteboard has changed hands and its contents are known.
bool tst_SystemDrags::startDragInSource() {
    const qint64 before = input->changeCount();
    x->moveTo(sourceRect.center().x(), sourceRect.center().y());
    x->button(true);
    for (int i = 0; i < 5; ++i)
        x->moveBy(6, 0);
    // A hand keeps moving a little while the drag gets under way.
    for (int i = 0; i < 200; ++i) {
        if (input->changeCount() > before && input->hasFileURLs().has_value()) return true;
        x->moveBy(i % 2 ? -2 : 2, 0);
    }
    return false;
}

void tst_SystemDrags::shake(int swings, int travel) {
    for (int s = 0; s < swings; ++s)
        for (int i = 0; i < 4; ++i)
            x->moveBy((s % 2 ? -travel : travel) / 4, 0);
}

void tst_SystemDrags::fileDragWithAShakeOpensThePanel() {
    QVERIFY(startSource("files"));
    QVERIFY(startDragInSource());
    QCOMPARE(input->hasFileURLs(), std::optional<bool>(true));
    QTRY_VERIFY(watcher->isDragging());
    QCOMPARE(triggers, 0);

    shake(6, 80);
    QTRY_VERIFY(triggers >= 1);
    QCOMPARE(ended, 0);

    x->button(false);
    QTRY_VERIFY_WITH_TIMEOUT(sourceOutput.contains("dropped"), 10000);
    QTRY_COMPARE(ended, 1);
    QVERIFY(!watcher->isDragging());
    QTRY_VERIFY(!watcher->isPolling());
    QCOMPARE(ended, 1);

    // Dragging on the desktop after the drop starts nothing: the pasteboard still holds the files.
    x->moveTo(1000, 700);
    x->button(true);
    shake(6, 80);
    x->button(false);
    QCOMPARE(ended, 1);
    QVERIFY(!watcher->isDragging());
}

void tst_SystemDrags::textDragNeverOpens() {
    QVERIFY(startSource("text"));
    QVERIFY(startDragInSource());
    QCOMPARE(input->hasFileURLs(), std::optional<bool>(false));
    shake(8, 80);
    x->button(false);
    QTRY_VERIFY_WITH_TIMEOUT(sourceOutput.contains("dropped"), 10000);
    QCOMPARE(triggers, 0);
    QCOMPARE(ended, 0);
    QVERIFY(!watcher->isDragging());
    QCOMPARE(watcher->lastUpCount(), input->changeCount());
}

void tst_SystemDrags::anyDragOpensOnceAtTheStart() {
    settings->setOpenMode(OpenMode::anyDrag);
    QVERIFY(startSource("files"));
    QVERIFY(startDragInSource());
    QTRY_COMPARE(triggers, 1);
    shake(6, 80);
    x->button(false);
    QTRY_COMPARE(ended, 1);
    QCOMPARE(triggers, 1);

    // The same source, a second drag: a new change count even though the owner stays the same.
    sourceOutput.clear();
    QVERIFY(startDragInSource());
    QTRY_COMPARE(triggers, 2);
    x->button(false);
    QTRY_COMPARE(ended, 2);
}

void tst_SystemDrags::pressesOnThePanelAreThePanelsOwn() {
    QWidget panel; // framed by the window manager, like any top-level window
    panel.resize(240, 200);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    PanelWindows::add(panel.winId());

    QList<MouseEvent> events;
    const int token = input->addMonitor([&](const MouseEvent &e) { events.append(e); });
    const QPoint inside = panel.mapToGlobal(panel.rect().center());
    x->moveTo(inside.x(), inside.y());
    x->button(true);
    for (int i = 0; i < 4; ++i)
        x->moveBy(5, 0);
    x->button(false);
    QTRY_VERIFY(!events.isEmpty() && events.last().type == MouseEvent::Type::leftMouseUp);
    for (const MouseEvent &e : events)
        QVERIFY(e.onPanel);

    // The same gesture beside the panel is anybody's.
    events.clear();
    const QPoint outside = panel.frameGeometry().bottomRight() + QPoint(40, 40);
    x->moveTo(outside.x(), outside.y());
    x->button(true);
    for (int i = 0; i < 4; ++i)
        x->moveBy(5, 0);
    x->button(false);
    QTRY_VERIFY(!events.isEmpty() && events.last().type == MouseEvent::Type::leftMouseUp);
    for (const MouseEvent &e : events)
        QVERIFY(!e.onPanel);

    input->removeMonitor(token);
    PanelWindows::remove(panel.winId());
}

// The top-level window titled `title`, and where its contents begin on the screen.
static std::optional<QPoint> windowOrigin(Display *display, const QByteArray &title) {
    std::function<std::optional<Window>(Window, int)> find = [&](Window window,
                                                                 int depth) -> std::optional<Window> {
        char *name = nullptr;
        if (XFetchName(display, window, &name) && name) {
            const bool match = title == name;
            XFree(name);
            if (match) return window;
        }
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (depth == 0 || !XQueryTree(display, window, &root, &parent, &children, &count))
            return std::nullopt;
        std::optional<Window> found;
        for (unsigned i = 0; i < count && !found; ++i)
            found = find(children[i], depth - 1);
        if (children) XFree(children);
        return found;
    };
    const std::optional<Window> window = find(DefaultRootWindow(display), 3);
    if (!window) return std::nullopt;
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display, *window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    return QPoint(x, y);
}

void tst_SystemDrags::fileManagerDragWithAShakeOpensThePanel() {
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
    std::optional<QPoint> origin;
    QTRY_VERIFY_WITH_TIMEOUT((origin = windowOrigin(x->display(), "stowbay-drag-files")).has_value(), 15000);

    // The one icon sits near the top left of the folder view, right of the side pane; look for
    // the spot where a press and a short move start a drag.
    bool started = false;
    for (int dy = 95; dy <= 125 && !started; dy += 15) {
        for (int dx = 205; dx >= 175 && !started; dx -= 15) {
            const qint64 before = input->changeCount();
            x->moveTo(origin->x() + dx, origin->y() + dy);
            x->button(true);
            for (int i = 0; i < 4; ++i)
                x->moveBy(5, 0);
            started = QTest::qWaitFor([&] { return input->changeCount() > before; }, 500);
            if (!started) x->button(false);
        }
    }
    QVERIFY2(started, "no drag could be started in the file manager");
    QTRY_COMPARE(input->hasFileURLs(), std::optional<bool>(true));
    QTRY_VERIFY(watcher->isDragging());

    shake(6, 80);
    QTRY_VERIFY(triggers >= 1);
    x->button(false);
    QTRY_COMPARE(ended, 1);
    QVERIFY(QFile::exists(file.fileName()));

    manager.kill();
    manager.waitForFinished();
}

STOWBAY_TEST_MAIN(tst_SystemDrags)
#include "tst_SystemDrags.moc"
