// The settings window, the shortcut recorder and the welcome drawing, offscreen.
#include "AppSettings.h"
#include "HotKeyManager.h"
#include "HotkeyRecorder.h"
#include "SettingsView.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "WelcomeView.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QTimer>

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
    void welcomeFrame_data();
    void welcomeFrame();
    void welcomeShowsOnceAndStopsWhenClosed();
    void sensitivityFollowsOpenMode();
    void recorder_data();
    void recorder();
    void resetRestoresTheDefault();
    void refusedLoginItemSpringsBack();
};

void tst_SettingsView::welcomeFrame_data() {
    // Grey levels over the dark background: 31 background, 67 panel, 143 file at half opacity,
    // 255 file page or pointer. The canvas is 360 by 210: the file is 32 by 40 around its centre.
    QTest::addColumn<double>("p");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("grey");
    QTest::newRow("0: file picked up low left") << 0.0 << QPoint(38, 140) << 255;
    QTest::newRow("0: pointer below right of it") << 0.0 << QPoint(68, 175) << 255;
    QTest::newRow("0: no panel yet") << 0.0 << QPoint(340, 100) << 31;
    QTest::newRow("0: nothing in the middle") << 0.0 << QPoint(140, 105) << 31;
    QTest::newRow("0.5: file at the shake's centre") << 0.5 << QPoint(128, 95) << 255;
    QTest::newRow("0.5: pointer still holds it") << 0.5 << QPoint(158, 129) << 255;
    QTest::newRow("0.5: panel fully in") << 0.5 << QPoint(270, 100) << 67;
    QTest::newRow("0.5: no trail") << 0.5 << QPoint(118, 100) << 31;
    QTest::newRow("0.72: file on the panel") << 0.72 << QPoint(296, 95) << 255;
    QTest::newRow("0.72: pointer gone") << 0.72 << QPoint(326, 128) << 67;
    QTest::newRow("0.72: shake place empty") << 0.72 << QPoint(140, 105) << 31;
    QTest::newRow("0.95: file half faded") << 0.95 << QPoint(296, 95) << 143;
    QTest::newRow("0.95: panel half out") << 0.95 << QPoint(330, 60) << 67;
    QTest::newRow("0.95: left of the panel") << 0.95 << QPoint(280, 60) << 31;
    QTest::newRow("0.95: no pointer") << 0.95 << QPoint(322, 129) << 67;
}

void tst_SettingsView::welcomeFrame() {
    QFETCH(double, p);
    QFETCH(QPoint, at);
    QFETCH(int, grey);
    QImage image(WelcomeView::canvasSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor::fromRgbF(0.12f, 0.12f, 0.12f));
    QPainter painter(&image);
    WelcomeView::paintFrame(painter, image.size(), p);
    painter.end();
    QVERIFY2(std::abs(qGray(image.pixel(at)) - grey) <= 12,
             qPrintable(QString::number(qGray(image.pixel(at)))));
}

void tst_SettingsView::welcomeShowsOnceAndStopsWhenClosed() {
    MemoryUserDefaults defaults;
    QPointer<WelcomeView> window = WelcomeView::showIfFirstRun(defaults);
    QVERIFY(window && window->isVisible() && window->frameTimer()->isActive());
    QVERIFY(defaults.boolean("didShowWelcome"));
    QVERIFY(!WelcomeView::showIfFirstRun(defaults));
    window->onDone();     // "Got it"
    QTRY_VERIFY(!window); // closed and gone, with its timer
}

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
