// Drags out of rows into another process, drags back onto Stowbay's own windows, drops from
// another process, copied paths read by another process, and revealing files through the file
// manager's D-Bus service, all on the real X server and session bus.
#include "FileDropLoader.h"
#include "InteractionFixture.h"
#include "Pasteboard.h"
#include "RowInteractionView.h"
#include "StowbayDragSource.h"
#include "StowbayDragState.h"
#include "TestSupport.h"

#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "XTestDriver.h"

namespace {

using namespace std::chrono_literals;

// Drives the pointer from a thread of its own: a drag out of our rows runs in a nested event loop
// on the main thread, which has to stay free to serve it.
class PointerThread {
public:
    explicit PointerThread(std::function<void(PointerThread &)> script)
        : m_thread([this, script] {
              m_display = XOpenDisplay(nullptr);
              if (m_display) script(*this);
              if (m_display) XCloseDisplay(m_display);
              done = true;
          }) {}
    ~PointerThread() { m_thread.join(); }

    void moveTo(QPoint p) {
        send([&] { XTestFakeMotionEvent(m_display, -1, p.x(), p.y(), CurrentTime); });
    }
    void button(bool down) {
        send([&] { XTestFakeButtonEvent(m_display, 1, down, CurrentTime); });
    }
    void glide(QPoint from, QPoint to, int steps) {
        for (int i = 1; i <= steps; ++i)
            moveTo(from + (to - from) * i / steps);
    }
    // Keeps the pointer moving a little around `at` until `flag` is set; false after 10 s.
    bool hoverUntil(QPoint at, const std::atomic<bool> &flag) {
        for (int i = 0; i < 500 && !flag; ++i)
            moveTo(at + QPoint(i % 2 ? 2 : -2, 0));
        return flag;
    }

    std::atomic<bool> done{false};

private:
    template <typename F> void send(F request) {
        request();
        XSync(m_display, False);
        std::this_thread::sleep_for(20ms);
    }
    Display *m_display = nullptr;
    std::thread m_thread;
};

// A Stowbay window that takes file drops the way the panel does.
class DropZone : public QWidget {
public:
    DropZone() {
        setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint);
        setAcceptDrops(true);
        setGeometry(500, 100, 300, 300);
    }
    int entered = 0;
    std::optional<QList<QUrl>> delivered;

protected:
    void dragEnterEvent(QDragEnterEvent *event) override {
        ++entered;
        if (event->mimeData()->hasUrls()) event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent *event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent *event) override {
        event->acceptProposedAction();
        FileDropLoader::load(event->mimeData(), [this](QList<QUrl> urls) { delivered = urls; });
    }
};

// Sees the drag events our windows are sent even though they refuse them.
class DragEventWatcher : public QObject {
public:
    std::atomic<bool> seen{false};
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) seen = true;
        return false;
    }
};

const QRect rowsRect(100, 100, 240, 160); // four rows of 40 points
const QRect targetRect(1000, 100, 300, 300);
const QRect sourceRect(100, 500, 300, 300);

} // namespace

class tst_DragOut : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void dragOutDeliversLiveURLsAndSettlesTheStore();
    void dragBackOntoAStowbayWindowIsRefused();
    void filesDroppedFromAnotherProcessArriveAsFileURLs();
    void copyPathIsOnTheClipboardForOtherProcesses();
    void revealAsksTheFileManagerOnceForAllFiles();

private:
    QWidget *showRows(InteractionFixture &f, const QStringList &names);
    bool startHelper(QProcess &process, const QString &name, const QStringList &args);

    std::unique_ptr<QWidget> m_rows;
    QProcess m_helper;
    QByteArray m_output;
    std::atomic<bool> m_over{false};
};

void tst_DragOut::initTestCase() {
    QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "the desktop tests need an X display");
    connect(&m_helper, &QProcess::readyReadStandardOutput, this, [this] {
        m_output += m_helper.readAllStandardOutput();
        if (m_output.contains("over")) m_over = true;
    });
}

void tst_DragOut::cleanup() {
    m_rows.reset();
    m_helper.kill();
    m_helper.waitForFinished();
    m_output.clear();
    m_over = false;
}

bool tst_DragOut::startHelper(QProcess &process, const QString &name, const QStringList &args) {
    process.start(qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/" + name, args);
    return QTest::qWaitFor([&] { return m_output.contains("ready"); }, 10000);
}

QWidget *tst_DragOut::showRows(InteractionFixture &f, const QStringList &names) {
    m_rows = std::make_unique<QWidget>();
    m_rows->setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                           Qt::WindowStaysOnTopHint);
    m_rows->setGeometry(rowsRect);
    for (int i = 0; i < names.size(); ++i) {
        auto *row = new QWidget(m_rows.get());
        row->setGeometry(0, i * 40, rowsRect.width(), 40);
        RowInteractionView::cover(row, f.id(names.at(i)), f.interaction.get());
    }
    m_rows->show();
    if (!QTest::qWaitForWindowExposed(m_rows.get())) return nullptr;
    return m_rows.get();
}

static QPoint rowCenter(int index) {
    return rowsRect.topLeft() + QPoint(rowsRect.width() / 2, index * 40 + 20);
}

void tst_DragOut::dragOutDeliversLiveURLsAndSettlesTheStore() {
    InteractionFixture f({"A", "B", "C", "D"});
    f.settings.setAfterDrag(AfterDrag::remove);
    f.store->setPinned({f.id("B")}, true);
    f.interaction->setSelection(f.idSet({"C", "A", "B"}));
    QVERIFY(showRows(f, {"A", "B", "C", "D"}));
    QVERIFY(startHelper(m_helper, "stowbay_droptarget",
                        {QString::number(targetRect.x()), QString::number(targetRect.y()),
                         QString::number(targetRect.width()), QString::number(targetRect.height())}));

    QSignalSpy ended(&StowbayDragState::center(), &StowbayDragState::stowbayInternalDragEnded);
    QStringList itemsWhenAnnounced;
    QObject context;
    connect(&StowbayDragState::center(), &StowbayDragState::stowbayInternalDragEnded, &context, [&] {
        for (const StowbayItem &item : f.store->items())
            itemsWhenAnnounced << item.name;
    });
    bool internalDuringDrag = false;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] { internalDuringDrag |= StowbayDragState::internalActive; });
    probe.start(10);

    bool overTarget = false;
    PointerThread hand([&](PointerThread &p) {
        p.moveTo(rowCenter(2));
        p.button(true);
        p.glide(rowCenter(2), rowCenter(2) + QPoint(12, 0), 4);
        p.glide(rowCenter(2) + QPoint(12, 0), targetRect.center(), 25);
        overTarget = p.hoverUntil(targetRect.center(), m_over);
        p.button(false);
    });
    QTRY_VERIFY_WITH_TIMEOUT(hand.done, 30000);
    QVERIFY(overTarget);
    QTRY_VERIFY_WITH_TIMEOUT(m_output.contains("drop "), 10000);
    QTRY_COMPARE(ended.count(), 1);

    const QByteArray line = m_output.mid(m_output.indexOf("drop ")).split('\n').first();
    const QList<QByteArray> fields = line.split(' ');
    QCOMPARE(fields.value(1).toInt(), int(Qt::CopyAction));
    QCOMPARE(fields.value(2).toInt(), int(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction));
    QList<QUrl> urls;
    for (const QByteArray &field : fields.mid(3))
        urls << QUrl::fromEncoded(field);
    QCOMPARE(urls, (QList<QUrl>{QUrl::fromLocalFile(f.path("A")), QUrl::fromLocalFile(f.path("B")),
                                QUrl::fromLocalFile(f.path("C"))}));

    QVERIFY(internalDuringDrag);
    QVERIFY(!StowbayDragState::internalActive);
    QCOMPARE(itemsWhenAnnounced, (QStringList{"B", "D"}));
    QCOMPARE(f.store->items().size(), 2);
}

void tst_DragOut::dragBackOntoAStowbayWindowIsRefused() {
    InteractionFixture f({"A", "B"});
    f.settings.setAfterDrag(AfterDrag::remove);
    QVERIFY(showRows(f, {"A", "B"}));
    DropZone zone;
    zone.show();
    QVERIFY(QTest::qWaitForWindowExposed(&zone));

    // Installed once the drag runs, so that it sees the events before the drag source refuses them.
    DragEventWatcher watcher;
    QTimer install;
    connect(&install, &QTimer::timeout, this, [&] {
        if (!StowbayDragState::internalActive) return;
        qApp->installEventFilter(&watcher);
        install.stop();
    });
    install.start(5);

    QSignalSpy ended(&StowbayDragState::center(), &StowbayDragState::stowbayInternalDragEnded);
    bool reached = false;
    const QPoint zoneCenter = zone.geometry().center();
    PointerThread hand([&](PointerThread &p) {
        p.moveTo(rowCenter(0));
        p.button(true);
        p.glide(rowCenter(0), zoneCenter, 25);
        reached = p.hoverUntil(zoneCenter, watcher.seen);
        for (int i = 0; i < 10; ++i) // the drop zone would have answered by now
            p.moveTo(zoneCenter + QPoint(i, 0));
        p.button(false);
    });
    QTRY_VERIFY_WITH_TIMEOUT(hand.done, 30000);
    QTRY_COMPARE(ended.count(), 1);
    qApp->removeEventFilter(&watcher);
    QVERIFY(reached);
    QCOMPARE(zone.entered, 0);
    QTest::qWait(100);
    QVERIFY(!zone.delivered.has_value());
    QCOMPARE(f.store->items().size(), 2);
}

void tst_DragOut::filesDroppedFromAnotherProcessArriveAsFileURLs() {
    DropZone zone;
    zone.show();
    QVERIFY(QTest::qWaitForWindowExposed(&zone));
    QVERIFY(startHelper(m_helper, "stowbay_dragsource",
                        {"files", QString::number(sourceRect.x()), QString::number(sourceRect.y()),
                         QString::number(sourceRect.width()), QString::number(sourceRect.height())}));
    XTestDriver x;
    x.moveTo(sourceRect.center().x(), sourceRect.center().y());
    x.button(true);
    for (int i = 1; i <= 20; ++i) {
        const QPoint p = sourceRect.center() + (zone.geometry().center() - sourceRect.center()) * i / 20;
        x.moveTo(p.x(), p.y());
    }
    for (int i = 0; i < 500 && zone.entered == 0; ++i)
        x.moveTo(zone.geometry().center().x() + (i % 2 ? 2 : -2), zone.geometry().center().y());
    QVERIFY(zone.entered > 0);
    x.moveBy(1, 1);
    x.button(false);
    QTRY_VERIFY_WITH_TIMEOUT(zone.delivered.has_value(), 10000);
    QCOMPARE(zone.delivered->size(), 2);
    QStringList names;
    for (const QUrl &url : *zone.delivered) {
        QVERIFY(url.isLocalFile());
        names << url.fileName();
    }
    names.sort();
    QCOMPARE(names, (QStringList{"photo.png", "report.txt"}));
}

void tst_DragOut::copyPathIsOnTheClipboardForOtherProcesses() {
    InteractionFixture f({"A", "B b", "C"});
    QVERIFY(f.deleteFile("C"));
    f.interaction->setSelection(f.idSet({"C", "A", "B b"}));
    QVERIFY(showRows(f, {"A", "B b", "C"}));
    auto *row = m_rows->findChildren<RowInteractionView *>().first();
    std::unique_ptr<QMenu> menu = row->menu();
    QVERIFY(menu);
    QAction *copy = menu->actions().at(3);
    QCOMPARE(copy->text(), QString("Copy Path"));
    copy->trigger();

    // Asked while our event loop runs: the clipboard's owner has to answer.
    QProcess xclip;
    QSignalSpy finished(&xclip, &QProcess::finished);
    xclip.start("xclip", {"-selection", "clipboard", "-o"});
    QVERIFY(finished.wait(10000));
    QCOMPARE(QString::fromUtf8(xclip.readAllStandardOutput()),
             QStringList({f.path("A"), f.path("B b"), f.path("C")}).join('\n'));
}

void tst_DragOut::revealAsksTheFileManagerOnceForAllFiles() {
    InteractionFixture f({"A", "B", "C"});
    QVERIFY(f.deleteFile("B"));
    StowbayInteraction interaction(*f.store, f.settings); // the desktop's own workspace
    interaction.setSelection(f.idSet({"C", "B", "A"}));
    QVERIFY(startHelper(m_helper, "stowbay_filemanager1", {}));
    RowInteractionView row;
    row.setRowID(f.id("A"));
    row.setInteraction(&interaction);
    row.menuReveal();
    QTRY_VERIFY_WITH_TIMEOUT(m_output.contains("ShowItems"), 10000);
    QTest::qWait(200);
    QCOMPARE(m_output.count("ShowItems"), 1);
    const QByteArray line = m_output.mid(m_output.indexOf("ShowItems")).split('\n').first();
    QCOMPARE(line, "ShowItems " + QUrl::fromLocalFile(f.path("A")).toEncoded() + ' ' +
                       QUrl::fromLocalFile(f.path("C")).toEncoded());
}

STOWBAY_TEST_MAIN(tst_DragOut)
#include "tst_DragOut.moc"
