// The settings window and the shortcut recorder, offscreen.
#include "AppSettings.h"
#include "HotKeyManager.h"
#include "HotkeyRecorder.h"
#include "SettingsView.h"
#include "TestSupport.h"
#include "UserDefaults.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

// Holds at most one grab, as the X server would.
class FakeHotKeys : public GlobalHotKeys {
public:
    int held = 0;
    bool installPressHandler(std::function<void()>) override { return true; }
    std::optional<Ref> registerHotKey(quint32, quint32) override { return ++held; }
    void unregisterHotKey(Ref) override { --held; }
};

class tst_SettingsView : public QObject {
    Q_OBJECT
private slots:
    void sensitivityFollowsOpenMode();
    void recorder_data();
    void recorder();
    void resetRestoresTheDefault();
    void refusedLoginItemSpringsBack();
};

void tst_SettingsView::sensitivityFollowsOpenMode() {
    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    settings.setSensitivity(ShakeSensitivity::easy);
    SettingsView view(settings);
    view.openModePicker()->setCurrentIndex(1); // "Any file drag begins"
    QCOMPARE(settings.openMode(), OpenMode::anyDrag);
    QVERIFY(!view.sensitivityPicker()->isEnabled());
    QCOMPARE(view.sensitivityPicker()->currentText(), QString("Easy (small wiggle)"));
    settings.setOpenMode(OpenMode::shake);
    QCOMPARE(view.openModePicker()->currentText(), QString("Shake"));
    QVERIFY(view.sensitivityPicker()->isEnabled());
    QCOMPARE(settings.sensitivity(), ShakeSensitivity::easy);
}

void tst_SettingsView::recorder_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("display"); // afterwards; empty: still recording
    QTest::addColumn<QString>("label");   // stored
    QTest::addColumn<int>("beeps");
    const int ctrl = Qt::ControlModifier, alt = Qt::AltModifier, shift = Qt::ShiftModifier;
    QTest::newRow("the current combination") << int(Qt::Key_S) << (ctrl | alt) << "Ctrl+Alt+S"
                                             << "S" << 0;
    QTest::newRow("control shift A") << int(Qt::Key_A) << (ctrl | shift) << "Ctrl+Shift+A"
                                     << "A" << 0;
    QTest::newRow("super space") << int(Qt::Key_Space) << int(Qt::MetaModifier) << "Super+Space"
                                 << "Space" << 0;
    QTest::newRow("alt F5") << int(Qt::Key_F5) << alt << "Alt+F5"
                            << "F5" << 0;
    QTest::newRow("control return") << int(Qt::Key_Return) << ctrl << "Ctrl+Return"
                                    << "↩" << 0;
    QTest::newRow("shift tab arrives as backtab") << int(Qt::Key_Backtab) << (alt | shift) << "Alt+Shift+Tab"
                                                  << "⇥" << 0;
    QTest::newRow("backspace") << int(Qt::Key_Backspace) << ctrl << "Ctrl+Backspace"
                               << "⌫" << 0;
    QTest::newRow("left arrow") << int(Qt::Key_Left) << ctrl << "Ctrl+Left"
                                << "←" << 0;
    QTest::newRow("F10") << int(Qt::Key_F10) << ctrl << "Ctrl+F10"
                         << "F10" << 0;
    QTest::newRow("home, not in the table") << int(Qt::Key_Home) << ctrl << "Ctrl+Home"
                                            << "Home" << 0;
    QTest::newRow("shift alone beeps") << int(Qt::Key_A) << shift << ""
                                       << "S" << 1;
    QTest::newRow("no modifier beeps") << int(Qt::Key_A) << 0 << ""
                                       << "S" << 1;
    QTest::newRow("a modifier on its own waits") << int(Qt::Key_Control) << ctrl << ""
                                                 << "S" << 0;
    QTest::newRow("escape cancels") << int(Qt::Key_Escape) << ctrl << "Ctrl+Alt+S"
                                    << "S" << 0;
}

void tst_SettingsView::recorder() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, display);
    QFETCH(QString, label);
    QFETCH(int, beeps);
    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    FakeHotKeys platform;
    HotKeyManager hotKeys(platform);
    hotKeys.registerHotKey(settings.hotkeyKeyCode(), settings.hotkeyModifiers());
    HotkeyRecorder recorder(settings, hotKeys);
    int beeped = 0;
    recorder.beep = [&] { ++beeped; };
    recorder.changeButton()->click();
    QCOMPARE(recorder.shortcutText()->text(), QString("Press a shortcut…"));
    QCOMPARE(platform.held, 0); // the current shortcut cannot fire while recording

    QTest::keyClick(&recorder, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(beeped, beeps);
    QCOMPARE(recorder.isRecording(), display.isEmpty());
    QCOMPARE(platform.held, display.isEmpty() ? 0 : 1);
    QCOMPARE(settings.hotkeyLabel(), label);
    if (!display.isEmpty()) QCOMPARE(recorder.shortcutText()->text(), display);
}

void tst_SettingsView::resetRestoresTheDefault() {
    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    settings.setHotkeyKeyCode(49);
    settings.setHotkeyModifiers(0x100);
    FakeHotKeys platform;
    HotKeyManager hotKeys(platform);
    HotkeyRecorder recorder(settings, hotKeys);
    recorder.start();
    recorder.resetButton()->click();
    QVERIFY(!recorder.isRecording());
    QCOMPARE(recorder.shortcutText()->text(), QString("Ctrl+Alt+S"));
    QCOMPARE(defaults.integer("hotkeyModifiers"), 0x1800);
}

void tst_SettingsView::refusedLoginItemSpringsBack() {
    // A plain file where the autostart folder should be.
    QFile blocker(qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    SettingsView view(settings);
    view.launchAtLoginToggle()->click();
    QVERIFY(!view.launchAtLoginToggle()->isChecked());
    QVERIFY(!view.loginErrorText()->isHidden() && !view.loginErrorText()->text().isEmpty());
    QCOMPARE(view.loginErrorText()->palette().color(QPalette::WindowText), QColor(Qt::red));
    blocker.remove();
}

STOWBAY_TEST_MAIN(tst_SettingsView)
#include "tst_SettingsView.moc"
