// The settings window and the global shortcut as a person meets them on the real X server, pressed
// through XTEST: one settings window however often it is asked for, and a shortcut recorded there
// working at once (also the current one, pressed again).
#include "Panel/StowbayPanel.h"
#include "Panel/StowbayPanelController.h"
#include "Settings/HotkeyRecorder.h"
#include "Settings/SettingsView.h"
#include "Shell/AppDelegate.h"
#include "TestSupport.h"
#include "Triggers/HotKeyManager.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QTemporaryDir>

// Writes down the keys that reach the program's windows: the ones no grab takes.
class KeysSeen : public QObject {
public:
    QList<int> keys;
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::KeyPress) keys << static_cast<QKeyEvent *>(event)->key();
        return false;
    }
};

// Xlib after Qt: its macros would break Qt's names.
#include "DesktopWindows.h"
#include "XTestDriver.h"
#include <X11/keysym.h>

using State = StowbayPanelController::State;

class tst_SettingsWindow : public QObject {
    Q_OBJECT
private:
    XTestDriver x;
    void click(QWidget *widget) { x.click(widget->mapToGlobal(widget->rect().center())); }

private slots:
    void initTestCase() { QVERIFY2(x.display(), "the desktop tests need an X display"); }

    // The real program at its first start, at twice the scale on a 1440 × 700 screen, shorter than
    // the window: the whole settings window is in the screen's free area, with room for its title
    // bar; Ctrl+W closes it, and Escape closes the welcome.
    void closedByKeysAndOnTheScreenAtTwiceTheScale() {
        QCOMPARE(QProcess::execute("xrandr", {"--setmonitor", "S", "1440/380x700/185+0+0", "screen"}), 0);
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
            environment.insert(name, home.path());
        environment.insert("QT_SCALE_FACTOR", "2");
        QProcess stowbay; // in the background, for `settings`: quit at the end
        stowbay.setProcessEnvironment(environment);
        stowbay.start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), {"settings"});
        QVERIFY(stowbay.waitForFinished(30000));
        const auto window = [](const char *name) { return DesktopWindows::shown({"--name", name}).value(0); };
        QTRY_VERIFY_WITH_TIMEOUT(!window("Stowbay Settings").isEmpty() && !window("Welcome").isEmpty(),
                                 15000);
        const QRect settings = DesktopWindows::shownAt(window("Stowbay Settings"));
        const int freeBottom = 700 - 32; // above the tray host's bar
        QVERIFY2(settings.top() >= 20 && settings.bottom() < freeBottom,
                 qPrintable(QDebug::toString(settings)));
        const auto closedBy = [&](const char *name, std::initializer_list<KeySym> keys) {
            DesktopWindows::run("xdotool", {"windowactivate", "--sync", window(name)});
            x.chord(keys);
            return QTest::qWaitFor([&] { return window(name).isEmpty(); }, 5000);
        };
        QVERIFY(closedBy("Stowbay Settings", {XK_Control_L, XK_w}));
        QVERIFY(closedBy("Welcome", {XK_Escape}));
        stowbay.start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), {"quit"});
        QVERIFY(stowbay.waitForFinished(30000));
        QCOMPARE(stowbay.exitCode(), 0);
        QCOMPARE(QProcess::execute("xrandr", {"--delmonitor", "S"}), 0);
    }

    void settingsWindow() {
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
        click(recorder->changeButton());
        QTRY_VERIFY(recorder->isRecording());
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
        click(recorder->changeButton());
        QTRY_VERIFY(recorder->isRecording());
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
        click(recorder->changeButton());
        QTRY_VERIFY(recorder->isRecording());
        x.chord({XK_Control_L, XK_Alt_L, XK_k});
        QTRY_COMPARE(settings.hotkeyKeyCode(), 40u);
        seen.keys.clear();
        x.chord({XK_Control_L, XK_Alt_L, XK_k});
        x.chord({XK_Control_L, XK_Shift_L, XK_a});
        QTRY_VERIFY(seen.keys.contains(Qt::Key_K) && seen.keys.contains(Qt::Key_A));
        QCOMPARE(panel.state(), State::tab);
        XCloseDisplay(holder);
    }
};

STOWBAY_TEST_MAIN(tst_SettingsWindow)
#include "tst_SettingsWindow.moc"
