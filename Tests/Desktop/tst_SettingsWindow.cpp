// The settings window and the welcome as a person meets them on the real X server: one settings
// window however often it is asked for, a shortcut recorded there working at once (also the
// current one, pressed again), and the welcome on the first start only, also when that start is
// killed while it is open.
#include "AppDelegate.h"
#include "HotkeyRecorder.h"
#include "SettingsView.h"
#include "StowbayPanelController.h"
#include "TestSupport.h"

#include <QAbstractButton>
#include <QLabel>
#include <QSettings>
#include <csignal>

#include "DesktopWindows.h"
#include "XTestDriver.h"
#include <X11/keysym.h>

using State = StowbayPanelController::State;

static qsizetype windowsNamed(const QString &name) {
    return DesktopWindows::shown({"--name", name}).size();
}

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

    void settingsWindow() {
        AppSettings &settings = AppSettings::shared();
        AppDelegate delegate(settings);
        delegate.applicationDidFinishLaunching();
        delegate.openSettings();
        delegate.openSettings();
        auto *view = SettingsView::showWindow(settings);
        QVERIFY(QTest::qWaitForWindowActive(view));
        QCOMPARE(windowsNamed("Stowbay Settings"), 1);
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

    // The real program: the first start shows the welcome; killed while it is open, the next start
    // does not show it again.
    void welcomeOnce() {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Stowbay", "Stowbay")
            .remove("didShowWelcome");
        for (const int expected : {1, 0}) {
            QProcess stowbay;
            stowbay.start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), {});
            QTRY_VERIFY_WITH_TIMEOUT(!DesktopWindows::windowsOf(stowbay.processId()).isEmpty(), 20000);
            if (expected) QTRY_COMPARE_WITH_TIMEOUT(windowsNamed("Welcome to Stowbay"), 1, 20000);
            QTest::qWait(1000); // launch has finished: the welcome would be up
            QCOMPARE(windowsNamed("Welcome to Stowbay"), expected);
            ::kill(pid_t(stowbay.processId()), SIGKILL);
            QVERIFY(stowbay.waitForFinished(10000));
        }
    }
};

STOWBAY_TEST_MAIN(tst_SettingsWindow)
#include "tst_SettingsWindow.moc"
