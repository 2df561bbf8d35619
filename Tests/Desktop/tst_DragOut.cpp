// Drags out of rows into another process and back onto our own windows, drops from another
// process, copied paths read by another process, and revealing files through the file manager's
// D-Bus service, all on the real X server and session bus.
#include "FileDropLoader.h"
#include "InteractionFixture.h"
#include "RowInteractionView.h"
#include "StowbayDragState.h"
#include "TestSupport.h"

#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <atomic>
#include <functional>
#include <thread>

#include "XTestDriver.h"

namespace {

// A Stowbay window that takes file drops the way the panel does.
class DropZone : public QWidget {
public:
    DropZone() {
        setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint);
        setAcceptDrops(true);
        setGeometry(500, 100, 300, 300);
        show();
    }
    std::atomic<int> entered = 0;
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

// Sees the drag events our windows are sent although the drag source refuses them: it puts its
// filter in place once the drag runs, so that it comes before the drag source's own.
class DragEventWatcher : public QObject {
public:
    DragEventWatcher() { startTimer(5); }
    ~DragEventWatcher() { qApp->removeEventFilter(this); }
    std::atomic<bool> seen{false};
    void timerEvent(QTimerEvent *event) override {
        if (!StowbayDragState::internalActive) return;
        killTimer(event->timerId());
        qApp->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *event) override {
        seen = seen || event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove;
        return false;
    }
};

const QRect rowsRect(100, 100, 240, 160); // rows of 40 points
const QRect targetRect(1000, 100, 300, 300);
const QRect sourceRect(100, 500, 300, 300);

QPoint rowCenter(int index) {
    return rowsRect.topLeft() + QPoint(rowsRect.width() / 2, index * 40 + 20);
}
QStringList args(const QRect &r) {
    return {QString::number(r.x()), QString::number(r.y()), QString::number(r.width()),
            QString::number(r.height())};
}

// Presses at `from`, moves in steps to `to`, wiggles there until `arrived` (at most 10 s) and lets go.
bool dragBy(XTestDriver &x, QPoint from, QPoint to, const std::function<bool()> &arrived) {
    x.moveTo(from.x(), from.y());
    x.button(true);
    for (int i = 1; i <= 25; ++i)
        x.moveTo(from.x() + (to.x() - from.x()) * i / 25, from.y() + (to.y() - from.y()) * i / 25);
    for (int i = 0; i < 500 && !arrived(); ++i)
        x.moveTo(to.x() + (i % 2 ? 2 : -2), to.y());
    const bool result = arrived();
    x.moveBy(1, 1);
    x.button(false);
    return result;
}

// The same on a thread of its own: a drag out of our rows runs a nested event loop on the main
// thread, which has to stay free to serve it.
bool dragByHand(QPoint from, QPoint to, const std::function<bool()> &arrived) {
    std::atomic<bool> done{false}, result{false};
    std::thread hand([&] {
        XTestDriver x;
        result = x.display() && dragBy(x, from, to, arrived);
        done = true;
    });
    const bool finished = QTest::qWaitFor([&] { return done.load(); }, 30000);
    hand.join();
    return finished && result;
}

} // namespace

class tst_DragOut : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void dragsOutReachOnlyOtherProcesses();
    void filesDroppedFromAnotherProcessArriveAsFileURLs();
    void copyPathIsOnTheClipboardForOtherProcesses();
    void revealAsksTheFileManagerOnceForAllFiles();

private:
    bool startHelper(const QString &name, const QStringList &args) {
        m_helper.start(qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/" + name, args);
        return QTest::qWaitFor([&] { return m_output.contains("ready"); }, 10000);
    }
    QByteArray outputLine(const QByteArray &start) const {
        return m_output.mid(m_output.indexOf(start) + start.size()).split('\n').first();
    }
    QProcess m_helper;
    QByteArray m_output;
    std::atomic<bool> m_over{false};
};

void tst_DragOut::initTestCase() {
    QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "the desktop tests need an X display");
    connect(&m_helper, &QProcess::readyReadStandardOutput, this, [this] {
        m_output += m_helper.readAllStandardOutput();
        m_over = m_output.contains("over");
    });
}

void tst_DragOut::cleanup() {
    m_helper.kill();
    m_helper.waitForFinished();
    m_output.clear();
}

void tst_DragOut::dragsOutReachOnlyOtherProcesses() {
    InteractionFixture f(words("A B C D"));
    f.settings.setAfterDrag(AfterDrag::remove);
    f.store->setPinned({f.id("B")}, true);
    f.interaction->setSelection(f.set({"C", "A", "B"}));
    QWidget rows;
    rows.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint);
    rows.setGeometry(rowsRect);
    for (int i = 0; i < 4; ++i) {
        auto *row = new QWidget(&rows);
        row->setGeometry(0, i * 40, rowsRect.width(), 40);
        RowInteractionView::cover(row, f.id(QString(QChar('A' + i))), f.interaction.get());
    }
    rows.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rows));
    QVERIFY(startHelper("stowbay_droptarget", args(targetRect)));
    QList<QStringList> itemsWhenAnnounced;
    connect(&StowbayDragState::center(), &StowbayDragState::stowbayInternalDragEnded, &rows,
            [&] { itemsWhenAnnounced << f.names(); });

    // Into another process: the live URLs in store order; unpinned items go, and only then the end
    // of the drag is announced.
    QVERIFY(dragByHand(rowCenter(2), targetRect.center(), [&] { return m_over.load(); }));
    QTRY_VERIFY_WITH_TIMEOUT(m_output.contains("drop "), 10000);
    QCOMPARE(outputLine("drop "), QUrl::toStringList(f.urls({"A", "B", "C"})).join(' ').toUtf8());
    QTRY_COMPARE(itemsWhenAnnounced, (QList<QStringList>{{"B", "D"}}));

    // Onto one of our own windows: refused, so D stays.
    DropZone zone;
    QVERIFY(QTest::qWaitForWindowExposed(&zone));
    DragEventWatcher watcher;
    QVERIFY(dragByHand(rowCenter(3), zone.geometry().center(), [&] { return watcher.seen.load(); }));
    QTRY_COMPARE(itemsWhenAnnounced.size(), 2);
    QCOMPARE(zone.entered.load(), 0);
    QCOMPARE(f.names(), QStringList({"B", "D"}));
}

void tst_DragOut::filesDroppedFromAnotherProcessArriveAsFileURLs() {
    DropZone zone;
    QVERIFY(QTest::qWaitForWindowExposed(&zone));
    QVERIFY(startHelper("stowbay_dragsource", QStringList{"files"} + args(sourceRect)));
    XTestDriver x;
    QVERIFY(dragBy(x, sourceRect.center(), zone.geometry().center(), [&] { return zone.entered > 0; }));
    QTRY_VERIFY_WITH_TIMEOUT(zone.delivered.has_value(), 10000);
    QStringList names;
    for (const QUrl &url : *zone.delivered)
        names << (url.isLocalFile() ? url.fileName() : url.toString());
    names.sort();
    QCOMPARE(names, QStringList({"photo.png", "report.txt"}));
}

void tst_DragOut::copyPathIsOnTheClipboardForOtherProcesses() {
    InteractionFixture f({"A", "B b", "C"});
    QVERIFY(f.deleteFile("C"));
    f.interaction->setSelection(f.set({"C", "A", "B b"}));
    RowInteractionView row;
    row.setRowID(f.id("A"));
    row.setInteraction(f.interaction.get());
    const std::unique_ptr<QMenu> menu = row.menu();
    QCOMPARE(menu->actions().at(3)->text(), QString("Copy Path"));
    menu->actions().at(3)->trigger();

    // Asked while our event loop runs: the clipboard's owner has to answer.
    QProcess xclip;
    QSignalSpy finished(&xclip, &QProcess::finished);
    xclip.start("xclip", {"-selection", "clipboard", "-o"});
    QVERIFY(finished.wait(10000));
    QCOMPARE(QString::fromUtf8(xclip.readAllStandardOutput()),
             QStringList({f.path("A"), f.path("B b"), f.path("C")}).join('\n'));
}

void tst_DragOut::revealAsksTheFileManagerOnceForAllFiles() {
    InteractionFixture f(words("A B C"));
    QVERIFY(f.deleteFile("B"));
    StowbayInteraction interaction(*f.store, f.settings); // the desktop's own workspace
    interaction.setSelection(f.set({"C", "B", "A"}));
    QVERIFY(startHelper("stowbay_filemanager1", {}));
    RowInteractionView row;
    row.setRowID(f.id("A"));
    row.setInteraction(&interaction);
    row.menuReveal();
    QTRY_VERIFY_WITH_TIMEOUT(m_output.contains("ShowItems"), 10000);
    QTest::qWait(200); // a second call would have arrived by now
    QCOMPARE(m_output.count("ShowItems"), 1);
    QCOMPARE(outputLine("ShowItems "), QUrl::toStringList(f.urls({"A", "C"})).join(' ').toUtf8());
}

STOWBAY_TEST_MAIN(tst_DragOut)
#include "tst_DragOut.moc"
