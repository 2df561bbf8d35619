// The settings window as a person meets it on the real X server: one settings window however often
// it is asked for, and a shortcut recorded there working at once (also the current one, pressed
// again). (The welcome, shown by the real program, is the process test's.)
#include "Panel/StowbayPanelController.h"
#include "Settings/HotkeyRecorder.h"
#include "Settings/SettingsView.h"
#include "Shell/AppDelegate.h"
#include "TestSupport.h"
#include "Triggers/HotKeyManager.h"

#include <QAbstractButton>
#include <QLabel>
#include <QTemporaryDir>

#include "DesktopWindows.h"
#include "XTestDriver.h"
#include <X11/keysym.h>

using State = StowbayPanelController::State;

class tst_SettingsWindow : public QObject {
    Q_OBJECT
private:
    XTestDriver x;
    void click(QWidget *widget) {
        const QPoint at = widget->mapToGlobal(widget->rect().center());
        x.moveTo(at.x(), at.y());
        x.button(true);
        x.button(false);
    }

private slots:
    void initTestCase() { QVERIFY2(x.display(), "the desktop tests need an X display"); }

    // The real program at its first start, at twice the scale on a 1440 × 900 screen: the whole
    // settings window is on the screen, with room for its title bar; Escape closes it, and Ctrl+W
    // closes the welcome.
    void closedByKeysAndOnTheScreenAtTwiceTheScale() {
        QCOMPARE(QProcess::execute("xrandr", {"--setmonitor", "S", "1440/380x900/240+0+0", "screen"}), 0);
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
        QVERIFY2(settings.top() >= 20 && settings.bottom() < 900, qPrintable(QDebug::toString(settings)));
        const auto closedBy = [&](const char *name, std::initializer_list<KeySym> keys) {
            DesktopWindows::run("xdotool", {"windowactivate", "--sync", window(name)});
            x.chord(keys);
            return QTest::qWaitFor([&] { return window(name).isEmpty(); }, 5000);
        };
        QVERIFY(closedBy("Stowbay Settings", {XK_Escape}));
        QVERIFY(closedBy("Welcome", {XK_Control_L, XK_w}));
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
        QCOMPARE(recorder->shortcutText()->text(), "Ctrl+Alt+S");
        x.chord({XK_Control_L, XK_Alt_L, XK_s}); // taken back: it works again
        QTRY_COMPARE(panel.state(), State::expanded);
        x.chord({XK_Control_L, XK_Alt_L, XK_s});
        QTRY_COMPARE(panel.state(), State::hidden);

        // A new one works at once.
        QVERIFY(QTest::qWaitForWindowActive(view));
        click(recorder->changeButton());
        QTRY_VERIFY(recorder->isRecording());
        x.chord({XK_Control_L, XK_Shift_L, XK_a});
        QTRY_COMPARE(settings.hotkeyModifiers(), AppSettings::controlKey | AppSettings::shiftKey);
        QCOMPARE(settings.hotkeyKeyCode(), 0u);
        x.chord({XK_Control_L, XK_Shift_L, XK_a});
        QTRY_COMPARE(panel.state(), State::expanded);
    }
};

STOWBAY_TEST_MAIN(tst_SettingsWindow)
#include "tst_SettingsWindow.moc"
