// Drags out of rows into another process and back onto our own windows, and revealing files through
// the file manager's D-Bus service, on the real X server and session bus. (Drops from another process
// are the panel test's; the copied paths' text is the interaction unit test's.)
#include "Interaction/RowInteractionView.h"
#include "Interaction/StowbayDragState.h"
#include "InteractionFixture.h"
#include "TestSupport.h"

#include <QDropEvent>
#include <QMimeData>
#include <QProcess>
#include <atomic>

#include "DesktopWindows.h"
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

// A Stowbay window that takes file drops the way the panel does; counts the drags that reach it.
class DropZone : public QWidget {
public:
    DropZone() { setAcceptDrops(true); }
    std::atomic<int> entered = 0;

protected:
    void dragEnterEvent(QDragEnterEvent *event) override {
        ++entered;
        if (event->mimeData()->hasUrls()) event->acceptProposedAction();
    }
};

const QRect rowsRect(100, 100, 240, 160);
const QRect targetRect(1000, 100, 300, 300); // where the drop target is started below
const QRect zoneRect(500, 100, 300, 300);
const QString dropFolder = "stowbay-drop-folder"; // the name of the folder, and of its window

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
        // A file manager quits when its last window closes.
        for (const QString &id : DesktopWindows::shown({"--name", dropFolder}))
            DesktopWindows::run("xdotool", {"windowclose", id}), m_helper.waitForFinished(10000);
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
        QVERIFY(startHelper("stowbay_droptarget", {"1000", "100", "300", "300"}));
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
        // Qt's drag loop hands our own windows nothing to watch: a while over the window is the drop.
        QVERIFY(dragByHand(rowsRect.topLeft() + QPoint(100, 140), zoneRect.center(),
                           [n = 0]() mutable { return ++n > 40; }));
        QTRY_COMPARE(itemsWhenAnnounced.size(), 2);
        QCOMPARE(zone.entered.load(), 0);
        QCOMPARE(f.names(), QStringList({B, D}));
    }

    // "Drag all" into a folder window: the items go once the target has the files, not before; else
    // they stay, and the panel is told. A drop on a silent target settles when the next drag begins.
    void dropsCountOnlyWhenReceived_data() {
        QTest::addColumn<QStringList>("target"); // a program and its arguments, to which the folder is added
        QTest::addColumn<QStringList>("held");
        QTest::addColumn<QStringList>("arrived"); // in the folder
        const QString helper = qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/stowbay_droptarget";
        QTest::newRow("silent, twice") << QStringList{helper, "silent"} << words("A B") << QStringList();
        QTest::newRow("XDND 4: reads, finishes with no verdict")
            << QStringList{helper, "xdnd4"} << QStringList() << QStringList();
        QTest::newRow("GNOME Files") << words("dbus-run-session -- nautilus --new-window") << QStringList()
                                     << words("A B");
    }
    void dropsCountOnlyWhenReceived() {
        QFETCH(QStringList, target);
        QFETCH(QStringList, held);
        QFETCH(QStringList, arrived);
        InteractionFixture f(words("A B"));
        f.settings.setAfterDrag(AfterDrag::remove);
        const QDir folder(QDir::home().filePath(dropFolder));
        QVERIFY(folder.mkpath("."));
        m_helper.start(target.takeFirst(), target << folder.path());
        const QRect window = DesktopWindows::placeWindow(dropFolder, {700, 100});
        QWidget dragAll;
        RowInteractionView::cover(&dragAll, std::nullopt, f.interaction.get());
        QVERIFY(place(dragAll, rowsRect));
        QSignalSpy notDelivered(&StowbayDragState::center(), &StowbayDragState::dropNotDelivered);

        // GNOME Files refuses drops while it still loads the folder; a refused drag keeps the files.
        for (int drags = 1; f.names().size() == 2 && notDelivered.isEmpty() && drags <= 15; ++drags) {
            QVERIFY(dragByHand(rowsRect.center(), window.center() + QPoint(100, 0),
                               [n = 0]() mutable { return ++n > 40; }));
            if (held.isEmpty()) QTRY_VERIFY_WITH_TIMEOUT(!StowbayDragState::internalActive, 10000);
        }
        QCOMPARE(notDelivered.size(), held.isEmpty() ? 0 : 1); // well within the target's 5 s
        QTRY_VERIFY_WITH_TIMEOUT(!StowbayDragState::internalActive, 10000);
        QCOMPARE(f.names(), held);
        QCOMPARE(notDelivered.size(), held.isEmpty() ? 0 : 2);
        QTRY_COMPARE(folder.entryList(QDir::Files), arrived);
    }

    // Reveal asks the desktop's file manager, over the session bus, once for all files there are.
    void revealReachesTheFileManager() {
        InteractionFixture f(words("A B C D"));
        QVERIFY(QFile::remove(f.path("D")) && f.refreshed());
        QVERIFY(startHelper("stowbay_droptarget", {"filemanager1"}));
        StowbayInteraction interaction(*f.store, f.settings); // with the desktop's own workspace
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
