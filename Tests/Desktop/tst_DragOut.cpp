// Drags out of rows into another process and back onto our own windows, drops from another
// process, copied paths read by another process, and revealing files through the file manager's
// D-Bus service, all on the real X server and session bus.
#include "FileDropLoader.h"
#include "InteractionFixture.h"
#include "RowInteractionView.h"
#include "StowbayDragState.h"
#include "TestSupport.h"

#include <QDropEvent>
#include <QMimeData>
#include <QProcess>
#include <atomic>
#include <functional>
#include <thread>

#include "XTestDriver.h"

namespace {

// Shows `window` on top, without a frame, at `rect`.
bool place(QWidget &window, const QRect &rect) {
    window.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                          Qt::WindowStaysOnTopHint);
    window.setGeometry(rect);
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

// A Stowbay window that takes file drops the way the panel does.
class DropZone : public QWidget {
public:
    DropZone() { setAcceptDrops(true); }
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

const QRect rowsRect(100, 100, 240, 160);
const QRect targetRect(1000, 100, 300, 300);
const QRect sourceRect(100, 500, 300, 300);
const QRect zoneRect(500, 100, 300, 300);

QStringList args(const QRect &r) {
    return {QString::number(r.x()), QString::number(r.y()), QString::number(r.width()),
            QString::number(r.height())};
}

// Helper output lines as the helpers write them: "drop <url> <url>", "ShowItems <url> <url>".
QByteArray line(const QByteArray &start, const QList<QUrl> &urls) {
    return start + ' ' + QUrl::toStringList(urls).join(' ').toUtf8() + '\n';
}

} // namespace

class tst_DragOut : public QObject {
    Q_OBJECT
private:
    bool startHelper(const QString &name, const QStringList &args) {
        m_helper.start(qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/" + name, args);
        return QTest::qWaitFor([&] { return m_output.contains("ready"); }, 10000);
    }
    QProcess m_helper;
    QByteArray m_output;
    std::atomic<bool> m_over{false};

private slots:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "the desktop tests need an X display");
        connect(&m_helper, &QProcess::readyReadStandardOutput, this, [this] {
            m_output += m_helper.readAllStandardOutput();
            m_over = m_output.contains("over");
        });
    }

    void cleanup() {
        m_helper.kill();
        m_helper.waitForFinished();
        m_output.clear();
    }

    // The files' names arrive as they are, with a tab, a newline, a leading dash, right-to-left text.
    void dragsOutReachOnlyOtherProcesses() {
        const QString A = "-A\tfile", B = "B", C = "C\nשלום", D = "D";
        InteractionFixture f({A, B, C, D});
        f.settings.setAfterDrag(AfterDrag::remove);
        f.store->setPinned({f.id(B)}, true);
        f.interaction->setSelection(f.set({C, A, B}));
        QWidget rows; // rows of 40 points
        for (int i = 0; i < 4; ++i) {
            auto *row = new QWidget(&rows);
            row->setGeometry(0, i * 40, rowsRect.width(), 40);
            RowInteractionView::cover(row, f.id(QStringList{A, B, C, D}[i]), f.interaction.get());
        }
        QVERIFY(place(rows, rowsRect));
        QVERIFY(startHelper("stowbay_droptarget", args(targetRect)));
        QList<QStringList> itemsWhenAnnounced;
        connect(&StowbayDragState::center(), &StowbayDragState::stowbayInternalDragEnded, &rows,
                [&] { itemsWhenAnnounced << f.names(); });

        // C's row into another process: the live URLs in store order; unpinned items go, and only then
        // the end of the drag is announced.
        QVERIFY(dragByHand(rowsRect.topLeft() + QPoint(100, 100), targetRect.center(),
                           [&] { return m_over.load(); }));
        QTRY_VERIFY2_WITH_TIMEOUT(m_output.contains(line("drop", f.urls({A, B, C}))), m_output.constData(),
                                  10000);
        QTRY_COMPARE(itemsWhenAnnounced, (QList<QStringList>{{B, D}}));

        // D's row onto one of our own windows: refused, so D stays.
        DropZone zone;
        QVERIFY(place(zone, zoneRect));
        DragEventWatcher watcher;
        QVERIFY(dragByHand(rowsRect.topLeft() + QPoint(100, 140), zoneRect.center(),
                           [&] { return watcher.seen.load(); }));
        QTRY_COMPARE(itemsWhenAnnounced.size(), 2);
        QCOMPARE(zone.entered.load(), 0);
        QCOMPARE(f.names(), QStringList({B, D}));
    }

    // Whatever their names: a newline, a tab, a leading dash, right-to-left text, 255 bytes, a path
    // of about 4,000 bytes.
    void filesDroppedFromAnotherProcessArriveAsFileURLs() {
        DropZone zone;
        QVERIFY(place(zone, zoneRect));
        const QStringList paths{
            "/tmp/report.txt",
            "/tmp/line\nbreak",
            "/tmp/tab\tstop",
            "/tmp/-rf",
            "/tmp/שלום.txt",
            "/tmp" + QString("/" + QString(245, 'f')).repeated(15) + "/" + QString(255, 'n')};
        QVERIFY(startHelper("stowbay_dragsource", QStringList{"files"} + args(sourceRect) + paths));
        QVERIFY(dragByHand(sourceRect.center(), zoneRect.center(), [&] { return zone.entered > 0; }));
        QTRY_VERIFY_WITH_TIMEOUT(zone.delivered.has_value(), 10000);
        QList<QUrl> urls;
        for (const QString &path : paths)
            urls << QUrl::fromLocalFile(path);
        QCOMPARE(*zone.delivered, urls);
    }

    // With the desktop's own workspace and clipboard; D's file is missing.
    void copyPathAndRevealReachOtherProcesses() {
        InteractionFixture f({"A", "B b", "C", "D"});
        QVERIFY(QFile::remove(f.path("D")) && f.refreshed());
        StowbayInteraction interaction(*f.store, f.settings);
        interaction.copyPaths(f.ids({"A", "B b", "D"}));
        // Asked while our event loop runs: the clipboard's owner has to answer.
        QProcess xclip;
        QSignalSpy finished(&xclip, &QProcess::finished);
        xclip.start("xclip", {"-selection", "clipboard", "-o"});
        QVERIFY(finished.wait(10000));
        QCOMPARE(QString::fromUtf8(xclip.readAllStandardOutput()),
                 QStringList({f.path("A"), f.path("B b"), f.path("D")}).join('\n'));

        // Reveal asks the file manager once, for all files there are.
        QVERIFY(startHelper("stowbay_filemanager1", {}));
        interaction.setSelection(f.set({"D", "C", "A"}));
        RowInteractionView row;
        row.setRowID(f.id("A"));
        row.setInteraction(&interaction);
        row.menuReveal();
        QTRY_VERIFY2_WITH_TIMEOUT(m_output.contains(line("ShowItems", f.urls({"A", "C"}))),
                                  m_output.constData(), 10000);
    }
};

STOWBAY_TEST_MAIN(tst_DragOut)
#include "tst_DragOut.moc"
