// The panel on the real X server, read back by other X clients: where it stands at each edge, the
// frames of a slide, the tab, a drop from another process, the keyboard, the clipboard with a file
// manager, what a screen reader reads, drags out of rows into another process and onto our own
// windows, revealing files through the file manager's D-Bus service, the settings window and the
// global shortcut, and two screens.
#include "Files/Pasteboard.h"
#include "Files/PreviewPanel.h"
#include "Input/MouseMonitor.h"
#include "Interaction/RowInteractionView.h"
#include "Interaction/StowbayDragState.h"
#include "InteractionFixture.h"
#include "Panel/StowbayPanelController.h"
#include "Settings/HotkeyRecorder.h"
#include "Settings/SettingsView.h"
#include "Shell/AppDelegate.h"
#include "TestSupport.h"
#include "Triggers/HotKeyManager.h"
#include "Views/StowbayContentView.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QClipboard>
#include <QDropEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QScopeGuard>
#include <QScreen>

// Writes down the keys that reach the program's windows: the ones no grab takes.
class KeysSeen : public QObject {
public:
    QList<int> keys;
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::KeyPress) keys << static_cast<QKeyEvent *>(event)->key();
        return false;
    }
};

// Xlib after Qt: its macros (KeyPress) would break Qt's names.
#include "DesktopWindows.h"
#include "XTestDriver.h"
#include <X11/keysym.h>

Q_DECLARE_METATYPE(StowbayEdge)
Q_DECLARE_METATYPE(StowbayPanelController::State)

namespace {
using State = StowbayPanelController::State;

Window inputFocus(Display *display) {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    return focus;
}

// The item list of this process as a screen reader finds it on the AT-SPI bus (read by another
// process, whose questions this one answers meanwhile).
QStringList readList(const QString &what = {}) {
    QProcess reader;
    reader.start(qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/listreader.py",
                 {QString::number(QCoreApplication::applicationPid()), what});
    if (!QTest::qWaitFor([&] { return reader.state() == QProcess::NotRunning; }, 20000)) return {"no end"};
    return QString::fromUtf8(reader.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

void xrandr(const QStringList &args) {
    QCOMPARE(QProcess::execute("xrandr", args), 0);
}

// The file-change watches this process holds open.
int inotifyWatches() {
    int count = 0;
    for (const QFileInfo &fd : QDir("/proc/self/fd").entryInfoList(QDir::Files | QDir::System))
        count += fd.symLinkTarget().endsWith("anon_inode:inotify");
    return count;
}

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

class tst_Panel : public QObject {
    Q_OBJECT
private:
    struct Panel : InteractionFixture {
        StowbayPanelController controller{*store, *interaction, settings, [] { return false; }};
        explicit Panel(const QStringList &names = words("A B C")) : InteractionFixture(names) {}
        WId window() { return controller.panel().winId(); }
        // Where another client sees the panel; nothing while it is not shown.
        QRect shown() { return DesktopWindows::shownAt(QString::number(window())); }
        QScreen *screen() const { return QGuiApplication::primaryScreen(); }
        bool restsAt(const QRect &f) {
            return QTest::qWaitFor([&] { return shown() == f; }, 5000);
        }
    };
    XTestDriver x;
    // A program the test talks to, started by the test; "ready" once it is.
    bool startHelper(const QString &name, const QStringList &args) {
        m_helper.start(qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/" + name, args);
        return QTest::qWaitFor([&] { return m_output.contains("ready"); }, 10000);
    }
    QProcess m_helper;
    QByteArray m_output;
    std::atomic<bool> m_over{false};

private slots:
    void initTestCase() {
        QVERIFY2(x.display(), "the desktop tests need an X display");
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

    // While the panel is open, what another process does to the held files shows with no other
    // action, a file missing from a folder of its own coming back too; once it folds, no watch is
    // left.
    void rowsFollowTheDiskWhileOpen() {
        Panel p(words("A own/B C"));
        const int before = inotifyWatches();
        p.controller.present(true);
        QVERIFY(p.restsAt(p.controller.expandedFrame(p.screen())));
        QTRY_VERIFY(inotifyWatches() > before);
        QCOMPARE(QProcess::execute("mv", {p.path("A"), p.path("renamed")}), 0);
        QTRY_COMPARE(p.names(), words("renamed B C"));
        QCOMPARE(QProcess::execute("rm", {p.path("own/B")}), 0);
        QTRY_VERIFY(!p.store->infos().value(p.id("B")).exists);
        QCOMPARE(QProcess::execute("sh", {"-c", "echo new > " + p.path("own/B")}), 0);
        QTRY_COMPARE(p.store->infos().value(p.id("B")).size, 4);
        QCOMPARE(QProcess::execute("sh", {"-c", "echo more >> " + p.path("own/B")}), 0);
        QTRY_COMPARE(p.store->infos().value(p.id("B")).size, 9);
        p.controller.collapse();
        QTRY_COMPARE(inotifyWatches(), before);
    }

    void slides_data() {
        QTest::addColumn<StowbayEdge>("edge");
        QTest::newRow("right") << StowbayEdge::right;
        QTest::newRow("left") << StowbayEdge::left;
        QTest::newRow("bottom") << StowbayEdge::bottom;
    }
    // Another client sees the panel, shown, pass through frames between the slid-out place and its
    // own at each edge; after a collapse the tab stands where it should.
    void slides() {
        QFETCH(StowbayEdge, edge);
        Panel p;
        p.settings.setEdge(edge);
        QCoreApplication::processEvents(); // the panel takes the edge
        const QRect target = p.controller.expandedFrame(p.screen());
        const QPoint start = p.controller.slidOut(target).topLeft();
        QSet<std::pair<int, int>> seen;
        p.controller.present(true);
        // Read as another client sees it, between the slide's frames.
        QVERIFY(QTest::qWaitFor(
            [&] {
                XWindowAttributes a;
                Window child;
                int x0 = 0, y0 = 0;
                if (!XGetWindowAttributes(x.display(), Window(p.window()), &a) || a.map_state != IsViewable ||
                    !XTranslateCoordinates(x.display(), Window(p.window()), DefaultRootWindow(x.display()), 0,
                                           0, &x0, &y0, &child))
                    return false;
                seen.insert({x0, y0});
                return QRect(x0, y0, a.width, a.height) == target;
            },
            5000));
        int between = 0;
        for (const auto &[x, y] : seen)
            between += QPoint(x, y) != start && QPoint(x, y) != target.topLeft();
        // A slide, not a jump: how many frames a loaded machine draws in its quarter second varies.
        QVERIFY2(between >= 2, qPrintable(QString("only %1 frames between").arg(between)));
        p.controller.collapse();
        QVERIFY(p.restsAt(p.controller.tabFrame(p.screen())));
    }

    // Files dragged from another process onto the tab open the panel, no shake needed; over the
    // header they light the zone and land on the stowbay. (Names of every kind, long paths too, are
    // the drop loader's and the store's unit tests'.)
    void dropFromAnotherProcess() {
        Panel p;
        const QStringList paths{p.path("line\nbreak"), p.path("שלום.txt")};
        for (const QString &path : paths)
            TestSupport::writeFile(path, {});
        x.moveTo(250, 250); // away from the tab, which the pointer alone would open
        p.controller.showTabIfNeeded();
        const QRect tab = p.controller.tabFrame(p.screen()), panel = p.controller.expandedFrame(p.screen());
        QVERIFY(p.restsAt(tab));
        QVERIFY(startHelper("stowbay_dragsource", QStringList{"files", "100", "100", "300", "300"} + paths));
        // Let go on the tab's outer part once the panel has slid open beside it: this drop lands nowhere.
        const QPoint onTab(tab.right() - 3, tab.center().y());
        QVERIFY(dragByHand({250, 250}, onTab, [&] { return p.controller.panel().geometry() == panel; }));
        p.controller.present(true); // pinned: the second drag finds it open
        QVERIFY(p.restsAt(panel));
        auto *content = p.controller.content();
        QVERIFY(
            dragByHand({250, 250}, panel.topLeft() + QPoint(60, 18), [&] { return content->targeted(); }));
        QTRY_COMPARE(p.store->items().size(), 3 + paths.size());
        for (int i = 0; i < paths.size(); ++i)
            QCOMPARE(p.store->items()[3 + i].path, paths[i]);
        QVERIFY(!content->targeted());
    }

    // A click on the drop zone opens the file dialog (Qt's own, as on desktops without a platform
    // dialog); two names typed there and Enter: both are held, and the list scrolls down to them.
    // Then Clear, clicked: Undo takes the keyboard and stays under the pointer, the panel open, for
    // as long as it is offered; folded and opened again, the panel offers it still.
    void addFilesWithQtsOwnDialog() {
        Panel p(words("A B C D E F G H I J"));
        for (const QString name : {"picked one", "picked two"})
            TestSupport::writeFile(p.path(name), "1");
        p.controller.present(true);
        QVERIFY(p.restsAt(p.controller.expandedFrame(p.screen())));
        x.click(p.controller.content()->dropZone()->mapToGlobal(QPoint(20, 20)));
        QPointer<QFileDialog> dialog;
        QTRY_VERIFY((dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())));
        QTRY_VERIFY(dialog->isActiveWindow());
        auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
        QVERIFY2(name && name->isVisible(), "not Qt's own dialog");
        dialog->setDirectory(p.dir.path());
        DesktopWindows::run("xdotool", {"type", "--delay", "20", R"("picked one" "picked two")"});
        QTRY_COMPARE(name->text(), R"("picked one" "picked two")");
        x.chord({XK_Return});
        QTRY_COMPARE(p.names(),
                     words("A B C D E F G H I J picked_one picked_two").replaceInStrings("_", " "));
        QTRY_VERIFY(!dialog);
        QTRY_VERIFY(p.controller.panel().isActiveWindow()); // the keyboard back where it was
        const ItemRowView *first = p.controller.content()->row(p.store->items()[10].id);
        QTRY_VERIFY(first->visibleRegion() == QRegion(first->rect()));

        QAbstractButton *clear = p.controller.content()->clearButton(),
                        *undo = p.controller.content()->undoButton();
        const QPoint onClear = clear->mapToGlobal(clear->rect().center());
        x.click(onClear);
        QTRY_VERIFY(undo->hasFocus());
        QTest::qWait(4000); // most of the offer's time: then Undo is beside Clear, on the panel
        const QRect offer(undo->mapToGlobal(QPoint()), undo->size());
        QVERIFY(undo->isVisible() && offer.top() <= onClear.y() && onClear.y() <= offer.bottom() &&
                p.shown().contains(offer));
        p.controller.collapse();
        QTRY_COMPARE(p.controller.state(), State::hidden);
        p.controller.present(true);
        QTRY_VERIFY(undo->isVisible());
    }

    void presentations_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<State>("state");
        QTest::addColumn<bool>("panelHasKeys");
        QTest::newRow("the shortcut: the keyboard; Ctrl+V, the preview and back, Escape gives it back")
            << "shortcut paste preview escape" << State::tab << false;
        QTest::newRow("a command: the terminal keeps the keyboard") << "command" << State::expanded << false;
        QTest::newRow("stowbay toggle: the same") << "toggle" << State::expanded << false;
        QTest::newRow("a shake: the same, and it folds") << "shake" << State::tab << false;
        QTest::newRow("a command, then the shortcut: the keyboard")
            << "command shortcut" << State::expanded << true;
        QTest::newRow("stowbay toggle twice: folded") << "toggle toggle" << State::tab << false;
        QTest::newRow("a click on the tab: the keyboard") << "shake click" << State::expanded << true;
        QTest::newRow("resting on the tab: opens") << "shake rest" << State::expanded << false;
        QTest::newRow("passing over the tab: stays folded") << "shake pass" << State::tab << false;
        QTest::newRow("a click into another window folds it") << "command away" << State::tab << false;
        QTest::newRow("the same with the keyboard") << "shortcut away" << State::tab << false;
        QTest::newRow("the fold control") << "shortcut fold" << State::tab << false;
    }
    // How the panel was asked for decides whether it takes the keyboard from the window the user
    // types in, and whether the shortcut folds it; one opened on purpose stays until the user goes
    // to another window.
    void presentations() {
        QFETCH(QString, steps);
        QFETCH(State, state);
        QFETCH(bool, panelHasKeys);
        Panel p;
        const int clicks = MouseMonitor::system().addMonitor([&](const MouseEvent &event) {
            if (event.type == MouseEvent::Type::leftMouseUp) p.controller.pointerReleased(event.onPanel);
        });
        // Also when a check fails: later clicks must not reach this function's gone panel.
        const auto unmonitor = qScopeGuard([clicks] { MouseMonitor::system().removeMonitor(clicks); });
        QByteArray &log = m_output; // of another X client, where the user types
        m_helper.start("stdbuf", {"-oL", "xev", "-geometry", "400x300+300+300", "-event", "keyboard"});
        QTRY_VERIFY(log.contains("Outer window is 0x"));
        const QString window = log.mid(log.indexOf("Outer window is ") + 16).split(',').first();
        DesktopWindows::run("xdotool", {"windowactivate", "--sync", window});
        QTRY_COMPARE(inputFocus(x.display()), window.toULong(nullptr, 16));
        TestSupport::writeFile(p.dir.filePath("pasted"), {});
        Pasteboard::setFiles({QUrl::fromLocalFile(p.dir.filePath("pasted"))});
        const QRect tab = p.controller.tabFrame(p.screen());
        for (const QString &step : words(steps)) {
            x.moveTo(500, 450); // over the other window
            if (step == "shortcut") {
                p.controller.hotKeyPressed();
                // Pressed again only once the panel has the keyboard, as a user sees it first: a
                // panel without it takes it rather than folding.
                if (p.controller.state() == State::expanded) QTRY_VERIFY(p.controller.panel().isKeyWindow());
            }
            if (step == "command") p.controller.present(true, false);
            if (step == "toggle") p.controller.toggle(false);
            if (step == "shake") p.controller.present(false);
            if (step == "paste") {
                x.chord({XK_Control_L, XK_v});
                QTRY_COMPARE(p.names(), words("A B C pasted"));
            }
            if (step == "preview") {
                x.chord({XK_Down}), x.chord({XK_space});
                QTRY_VERIFY(PreviewPanel::shared()->isActiveWindow());
                x.chord({XK_space});
                QTRY_COMPARE(inputFocus(x.display()), Window(p.window()));
            }
            if (step == "escape") x.chord({XK_Escape});
            if (step == "click" || step == "rest" || step == "pass") {
                QVERIFY(p.restsAt(tab));
                x.moveTo(tab.center().x(), tab.center().y());
                if (step == "click") x.button(true), x.button(false);
                if (step == "pass") {
                    x.moveTo(500, 450);
                    QTest::qWait(1000); // past the rest it takes, short of a fold
                    QCOMPARE(p.controller.state(), State::tab);
                }
            }
            if (step == "away") {
                QVERIFY(p.restsAt(p.controller.expandedFrame(p.screen())));
                x.button(true), x.button(false);
            }
            if (step == "fold") p.controller.content()->foldButton()->click();
        }
        QTRY_COMPARE_WITH_TIMEOUT(p.controller.state(), state, 10000);
        QTRY_COMPARE(inputFocus(x.display()),
                     panelHasKeys ? Window(p.window()) : window.toULong(nullptr, 16));
        QVERIFY(!log.contains("KeyPress")); // no key meant for the panel went elsewhere
        if (state == State::expanded && !steps.contains("shake")) {
            QTest::qWait(3500); // past every delay of a panel not opened on purpose
            QCOMPARE(p.controller.state(), State::expanded);
        }
    }

    // Files go out and come in through the clipboard with a real file manager: Ctrl+C in the panel,
    // then Paste in a folder window copies the file there; files copied there come in by Ctrl+V.
    void clipboardWithAFileManager() {
        Panel p;
        const QString folder = p.dir.filePath("exchange");
        TestSupport::writeFile(folder + "/report.txt", "numbers");
        m_helper.start("pcmanfm", {"--no-desktop", "--new-win", folder});
        DesktopWindows::placeWindow("exchange", {0, 0});
        const QString window = DesktopWindows::shown({"--name", "exchange"}).value(0);

        p.controller.present(true);
        QTRY_COMPARE(inputFocus(x.display()), Window(p.window()));
        x.chord({XK_Down});
        x.chord({XK_Control_L, XK_c});
        DesktopWindows::run("xdotool", {"windowactivate", "--sync", window});
        x.chord({XK_Control_L, XK_v});
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::contents(folder + "/A") == "A", 10000);
        QVERIFY(QFile::exists(p.path("A"))); // copied, not moved

        x.chord({XK_Control_L, XK_a});
        x.chord({XK_Control_L, XK_c});
        QTRY_VERIFY_WITH_TIMEOUT(!QGuiApplication::clipboard()->ownsClipboard(), 10000);
        p.controller.present(true);
        QTRY_COMPARE(inputFocus(x.display()), Window(p.window()));
        x.chord({XK_Control_L, XK_v});
        QTRY_COMPARE_WITH_TIMEOUT(p.store->items().last().path, folder + "/report.txt", 10000);
    }

    // Down, Down, Shift+Down, Home: names, descriptions and states as read after each key; Enter
    // opens the selection, the Menu key opens the row menu.
    void listReadByAScreenReader() {
        Panel p(words("A B C D E"));
        p.store->setPinned({p.id("E")}, true);
        QVERIFY(QFile::remove(p.path("D")) && p.refreshed());
        p.controller.present(true); // the keyboard's row is read as focused below
        const QString size = QLocale().formattedDataSize(1, 1, QLocale::DataSizeSIFormat);
        const QHash<QString, QString> facts{{"D", "Missing"}, {"E", size + ", Pinned"}};
        // After each key: the selected rows, then the one the keyboard is on.
        const QList<std::tuple<QList<KeySym>, QString, QString>> steps{{{XK_Down}, "A", "A"},
                                                                       {{XK_Down}, "B", "B"},
                                                                       {{XK_Shift_L, XK_Down}, "B C", "C"},
                                                                       {{XK_Home}, "A", "A"}};
        // A row under the resting pointer shows no hover once the keyboard is elsewhere, until
        // the pointer moves.
        QVERIFY(p.restsAt(p.controller.expandedFrame(p.screen())));
        const ItemRowView *d = p.controller.content()->row(p.id("D"));
        const QPoint overD = d->mapToGlobal(d->rect().center());
        x.moveTo(overD.x(), overD.y());
        QTRY_VERIFY(d->isHovered());
        for (const auto &[keys, selected, focused] : steps) {
            for (int down : {1, 0})
                for (KeySym key : keys)
                    x.key(key, down);
            QStringList expected;
            for (const QString &name : words("A B C D E"))
                expected << name + "|" + facts.value(name, size) + "|" +
                                (words(selected).contains(name) ? "selected" : "") +
                                (name == focused ? " focused" : "");
            QTRY_COMPARE_WITH_TIMEOUT(readList(), expected, 30000);
        }
        QVERIFY(!d->isHovered());
        // The reader is told when the keyboard moves to another row.
        static QList<QObject *> focused;
        QAccessible::installUpdateHandler([](QAccessibleEvent *event) {
            if (event->type() == QAccessible::Focus) focused << event->object();
        });
        x.chord({XK_Down});
        QTRY_COMPARE(p.interaction->current(), std::optional(p.id("B")));
        QAccessible::installUpdateHandler(nullptr);
        QVERIFY(focused.contains(p.controller.content()->row(p.id("B"))));
        x.chord({XK_Up});
        x.moveBy(1, 0);
        QTRY_VERIFY(d->isHovered());

        x.chord({XK_Menu});
        QTRY_VERIFY(qobject_cast<QMenu *>(QApplication::activePopupWidget()));
        x.chord({XK_Escape});
        QTRY_VERIFY(!QApplication::activePopupWidget());
        // The window and the controls that act on a click are named, and buttons to a reader.
        const QStringList controls{"Stowbay", "button|Clear", "button|Fold",
                                   "button|Drop files here; click to add files", "button|Drag all"};
        QTRY_COMPARE_WITH_TIMEOUT(readList("controls"), controls, 30000);
        QStringList stops; // Tab from the list goes round the named controls, and nowhere else
        for (int i = 0; i < 5; ++i) {
            const QWidget *before = QApplication::focusWidget();
            x.chord({XK_Tab});
            QTRY_VERIFY(QApplication::focusWidget() != before);
            stops << QApplication::focusWidget()->accessibleName();
        }
        QCOMPARE(stops, QStringList({"Drag all", "Clear", "Fold", controls[3].mid(7), "Items"}));
    }
    // Over a window of black text on white, an empty part of the panel (below its one row) shows
    // nothing of it: its pixels vary by at most 8 levels of 255.
    void legibleOverText() {
        QLabel page(QString("Lorem ipsum dolor sit amet, consectetur adipiscing elit. ").repeated(400));
        page.setWordWrap(true);
        page.setStyleSheet("background: white; color: black");
        page.setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
        page.show();
        Panel p;
        p.store->remove(p.ids(words("B C")));
        p.controller.present(true);
        QVERIFY(QTest::qWaitForWindowExposed(&page) && p.restsAt(p.controller.expandedFrame(p.screen())));
        const QWidget *row = p.controller.content()->row(p.id("A"));
        const QPoint at = row->mapToGlobal(QPoint(4, row->height() + 4)); // 20 empty points below it
        const auto variation = [&] {
            const QImage shot = p.screen()->grabWindow(0, at.x(), at.y(), row->width() - 8, 20).toImage();
            int low = 255, high = 0;
            for (int i = 0; i < shot.width() * shot.height(); ++i) {
                low = std::min(low, qGray(shot.pixel(i % shot.width(), i / shot.width())));
                high = std::max(high, qGray(shot.pixel(i % shot.width(), i / shot.width())));
            }
            return high - low;
        };
        QTRY_VERIFY2(variation() <= 8, qPrintable(QString::number(variation())));
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

    // One settings window however often it is asked for, and a shortcut recorded there working at
    // once (also the current one, pressed again), pressed through XTEST.
    void settingsWindow() {
        QFile::remove(TestSupport::storedFilePath()); // what the other tests' stores left: a tab to show
        AppSettings &settings = AppSettings::shared();
        AppDelegate delegate(settings);
        delegate.applicationDidFinishLaunching();
        delegate.openSettings();
        delegate.openSettings();
        auto *view = SettingsView::showWindow(settings, HotKeyManager::shared());
        QVERIFY(QTest::qWaitForWindowActive(view));
        QCOMPARE(DesktopWindows::shown({"--name", "Stowbay Settings"}).size(), 1);
        StowbayPanelController &panel = *delegate.controller();

        // The current combination pressed while recording is recorded, and shows no panel.
        HotkeyRecorder *recorder = view->recorder();
        const auto record = [&] {
            const QWidget *change = recorder->changeButton();
            x.click(change->mapToGlobal(change->rect().center()));
            return QTest::qWaitFor([&] { return recorder->isRecording(); });
        };
        QVERIFY(record());
        x.chord({XK_Control_L, XK_Alt_L, XK_s});
        QTRY_VERIFY(!recorder->isRecording());
        QCOMPARE(panel.state(), State::hidden);
        // Taken back, it works again, with or without Num Lock and Caps Lock, and the focused window
        // never sees it.
        KeysSeen seen;
        qApp->installEventFilter(&seen);
        for (const KeySym lock : {KeySym(NoSymbol), KeySym(XK_Num_Lock), KeySym(XK_Caps_Lock)}) {
            if (lock != NoSymbol) x.chord({lock});
            x.chord({XK_Control_L, XK_Alt_L, XK_s});
            QTRY_COMPARE(panel.state(), State::expanded);
            x.chord({XK_Control_L, XK_Alt_L, XK_s});
            QTRY_COMPARE(panel.state(), State::hidden);
            if (lock != NoSymbol) x.chord({lock});
        }
        QVERIFY(!seen.keys.contains(Qt::Key_S));

        // A new one works at once, and the old one goes back to the focused window.
        QVERIFY(QTest::qWaitForWindowActive(view));
        QVERIFY(record());
        x.chord({XK_Control_L, XK_Shift_L, XK_a});
        QTRY_COMPARE(settings.hotkeyModifiers(), AppSettings::controlKey | AppSettings::shiftKey);
        x.chord({XK_Control_L, XK_Alt_L, XK_s});
        QTRY_VERIFY(seen.keys.contains(Qt::Key_S));
        QCOMPARE(panel.state(), State::hidden);

        // Another program takes the keyboard, unknown to Stowbay: the shortcut still gives it to the
        // panel, also from the tab, a window already shown.
        QTemporaryDir files;
        QVERIFY(QFile(files.filePath("held")).open(QIODevice::WriteOnly));
        delegate.store().add({QUrl::fromLocalFile(files.filePath("held"))});
        QTRY_COMPARE(delegate.store().items().size(), 1);
        for (const State state : {State::expanded, State::tab}) {
            x.chord({XK_Control_L, XK_Shift_L, XK_a});
            QTRY_COMPARE(panel.state(), state);
        }
        QTRY_COMPARE(panel.panel().windowOpacity(), 1.0); // at rest: nothing of it changes any more
        Display *d = x.display();
        XSetWindowAttributes bypass{};
        bypass.override_redirect = True;
        const Window other = XCreateWindow(d, DefaultRootWindow(d), 0, 0, 200, 200, 0, CopyFromParent,
                                           InputOutput, CopyFromParent, CWOverrideRedirect, &bypass);
        XMapRaised(d, other);
        XSync(d, False);
        XSetInputFocus(d, other, RevertToParent, CurrentTime);
        XSync(d, False);
        panel.hotKeyPressed(); // as `stowbay toggle` bound to the keys by the desktop: no key reaches us
        QTRY_VERIFY(panel.panel().isKeyWindow());
        x.chord({XK_Control_L, XK_Shift_L, XK_a});
        QTRY_COMPARE(panel.state(), State::tab);
        XDestroyWindow(d, other);

        // Another program holds Ctrl+Alt+K, though only with Num Lock on: recorded, it is held in
        // none of its variants, and the one before is let go.
        Display *holder = XOpenDisplay(nullptr);
        XGrabKey(holder, XKeysymToKeycode(holder, XK_k), ControlMask | Mod1Mask | Mod2Mask,
                 DefaultRootWindow(holder), False, GrabModeAsync, GrabModeAsync);
        XSync(holder, False);
        DesktopWindows::run("xdotool", {"windowactivate", "--sync",
                                        DesktopWindows::shown({"--name", "Stowbay Settings"}).value(0)});
        QVERIFY(QTest::qWaitForWindowActive(view));
        QVERIFY(record());
        x.chord({XK_Control_L, XK_Alt_L, XK_k});
        QTRY_COMPARE(settings.hotkeyKeyCode(), 40u);
        seen.keys.clear();
        x.chord({XK_Control_L, XK_Alt_L, XK_k});
        x.chord({XK_Control_L, XK_Shift_L, XK_a});
        QTRY_VERIFY(seen.keys.contains(Qt::Key_K) && seen.keys.contains(Qt::Key_A));
        QCOMPARE(panel.state(), State::tab);
        XCloseDisplay(holder);
    }

    // The panel opens on the pointer's screen and moves when its screen goes away.
    void twoScreens() {
        xrandr({"--setmonitor", "L", "960/254x1080/286+0+0", "screen"});
        xrandr({"--setmonitor", "R", "960/254x1080/286+960+0", "none"});
        QTRY_COMPARE(QGuiApplication::screens().size(), 2);
        Panel p;
        QScreen *right = QGuiApplication::screenAt(QPoint(1500, 500));
        QVERIFY(right && right != QGuiApplication::screenAt(QPoint(100, 500)));
        x.moveTo(1500, 500);
        p.controller.present(true);
        // Both sides asked afresh: the window manager may still be redrawing the screens' work
        // areas, and the panel follows them.
        QTRY_COMPARE(p.shown(), p.controller.expandedFrame(right));
        QCOMPARE(p.shown().right(), 1920 - 8 - 1);

        x.moveTo(100, 500);
        xrandr({"--delmonitor", "R"});
        QTRY_COMPARE(QGuiApplication::screens().size(), 1);
        QTRY_COMPARE(p.shown(), p.controller.expandedFrame(QGuiApplication::screens().first()));
        QCOMPARE(p.shown().right(), 960 - 8 - 1);
    }
};

STOWBAY_TEST_MAIN(tst_Panel)
#include "tst_Panel.moc"
