// The settings as read and written, the settings window, the shortcut recorder and the welcome
// drawing, offscreen; and what the desktop test of the shortcut does not show: the press handled on
// a later turn of the event loop, and the key codes the recorder stores.
#include "Desktop/DesktopWindows.h"
#include "Portal/PortalShortcuts.h"
#include "Session/GnomeKeybindings.h"
#include "Session/UserDefaults.h"
#include "Settings/AppSettings.h"
#include "Settings/HotkeyRecorder.h"
#include "Settings/SettingsView.h"
#include "Shell/WelcomeView.h"
#include "TestSupport.h"
#include "Triggers/HotKeyManager.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

// Counts the grabs held, as the X server would, and presses the shortcut when the test says.
class FakeHotKeys : public GlobalHotKeys {
public:
    int held = 0;
    std::function<void()> onPress;
    bool installPressHandler(std::function<void()> handler) override { return onPress = handler, true; }
    std::optional<Ref> registerHotKey(quint32, quint32) override { return ++held; }
    void unregisterHotKey(Ref) override { --held; }
    // What a Wayland desktop says of it.
    QString trigger;
    bool everywhere = true;
    std::function<void()> onChange;
    QString desktopTrigger() const override { return trigger; }
    bool reachesEveryWindow() const override { return everywhere; }
    void installChangeHandler(std::function<void()> handler) override { onChange = handler; }
    bool configures = false; // the desktop has a dialog of its own
    int configured = 0;
    bool configuresOnDesktop() const override { return configures; }
    void configureOnDesktop() override { ++configured; }
};

struct Fixture {
    MemoryUserDefaults defaults;
    AppSettings settings{defaults};
    FakeHotKeys platform;
    HotKeyManager hotKeys{platform};
};

// Every field in one line, so a table row can say what a stored state reads as.
static QString summary(const AppSettings &s) {
    return QString("%1 %2 %3 %4 %5 %6 %7 %8")
        .arg(rawValue(s.edge()), rawValue(s.openMode()), rawValue(s.sensitivity()), rawValue(s.afterDrag()),
             rawValue(s.autoClear()), s.keepOnQuit() ? "keep" : "drop", QString::number(s.hotkeyKeyCode()),
             s.hotkeyDisplay());
}

class tst_SettingsView : public QObject {
    Q_OBJECT
private slots:
    void loading_data() {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QString>("expected");
        const QString plain = "right shake normal remove never keep ", defaults = plain + "1 Ctrl+Alt+S";
        QTest::newRow("nothing stored") << QVariantMap{} << defaults;
        QTest::newRow("recognised values")
            << QVariantMap{{"edge", "bottom"},    {"openMode", "anyDrag"}, {"sensitivity", "easy"},
                           {"afterDrag", "keep"}, {"autoClear", "week"},   {"keepOnQuit", false}}
            << "bottom anyDrag easy keep week drop 1 Ctrl+Alt+S";
        QTest::newRow("raw values match exactly, anything else is the default")
            << QVariantMap{{"edge", "Left"},    {"openMode", "anydrag"}, {"sensitivity", "Normal"},
                           {"afterDrag", ""},   {"autoClear", "month"},  {"hotkeyModifiers", 256},
                           {"hotkeyLabel", "K"}}
            << defaults;
        QTest::newRow("a number where text belongs") << QVariantMap{{"edge", 2}} << defaults;
        QTest::newRow("keepOnQuit as the settings file gives it back")
            << QVariantMap{{"keepOnQuit", "false"}} << QString(defaults).replace("keep", "drop");
        QTest::newRow("a key code alone names its key")
            << QVariantMap{{"hotkeyKeyCode", "40"}} << plain + "40 K";
        QTest::newRow("a code no key has shows the label, missing as ?")
            << QVariantMap{{"hotkeyKeyCode", 10}, {"hotkeyModifiers", 0x1000}} << plain + "10 Ctrl+?";
        QTest::newRow("all four modifiers in fixed order")
            << QVariantMap{{"hotkeyKeyCode", 40}, {"hotkeyModifiers", 0x1B00 | 0x80}, {"hotkeyLabel", "K"}}
            << plain + "40 Super+Ctrl+Alt+Shift+K";
        QTest::newRow("negative key code gives the default shortcut")
            << QVariantMap{{"hotkeyKeyCode", -1}, {"hotkeyModifiers", 256}, {"hotkeyLabel", "X"}} << defaults;
        QTest::newRow("modifiers beyond 32 bits give the default shortcut")
            << QVariantMap{{"hotkeyKeyCode", 7}, {"hotkeyModifiers", qint64(1) << 32}} << defaults;
        QTest::newRow("largest 32-bit key code is kept") << QVariantMap{{"hotkeyKeyCode", qint64(4294967295)},
                                                                        {"hotkeyModifiers", 0},
                                                                        {"hotkeyLabel", "X"}}
                                                         << plain + "4294967295 X";
    }

    // Reading never writes back.
    void loading() {
        QFETCH(QVariantMap, stored);
        QFETCH(QString, expected);
        MemoryUserDefaults d;
        for (auto it = stored.begin(); it != stored.end(); ++it)
            d.setValue(it.key(), it.value());
        d.writes = 0;
        QCOMPARE(summary(AppSettings(d)), expected);
        QCOMPARE(d.writes, 0);
    }

    // Every assignment, even of the value already held, tells its listeners and writes through to
    // the settings file, where a new instance reads it back.
    void everyAssignmentEmitsAndWritesThrough() {
        {
            QSettingsUserDefaults d;
            AppSettings s(d);
            QSignalSpy edge(&s, &AppSettings::edgeChanged), any(&s, &AppSettings::changed);
            s.setEdge(StowbayEdge::right);
            QCOMPARE(edge.count(), 1);
            QCOMPARE(d.value("edge").toString(), QString("right"));
            s.setEdge(StowbayEdge::left);
            s.setOpenMode(OpenMode::anyDrag);
            s.setSensitivity(ShakeSensitivity::gentle);
            s.setAfterDrag(AfterDrag::keep);
            s.setAutoClear(AutoClear::day);
            s.setKeepOnQuit(false);
            s.setHotkeyKeyCode(40);
            s.setHotkeyModifiers(0x1100);
            s.setHotkeyLabel("K");
            QCOMPARE(any.count(), 10);
        }
        QSettingsUserDefaults d;
        QCOMPARE(summary(AppSettings(d)), QString("left anyDrag gentle keep day drop 40 Super+Ctrl+K"));
    }

    // The autostart entry starts this program; one the user switched off in the desktop's session
    // settings is not enabled, and removing an entry that is not there is no failure.
    void launchAtLogin() {
        const QString path = LaunchAtLogin::entryPath();
        QCOMPARE(path, qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/stowbay.desktop");
        QCOMPARE(LaunchAtLogin::set(true), std::nullopt);
        QVERIFY(LaunchAtLogin::isEnabled());
        QVERIFY(TestSupport::contents(path).contains(
            "\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\"\n"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write("Hidden=true\n") > 0);
        file.close();
        QVERIFY(!LaunchAtLogin::isEnabled());
        QCOMPARE(LaunchAtLogin::set(false), std::nullopt);
        QVERIFY(!QFile::exists(path));
        QCOMPARE(LaunchAtLogin::set(false), std::nullopt);
    }
    void welcomeFrame_data() {
        // Grey levels over the dark background: 31 background, 67 panel, 143 file at half opacity,
        // 255 file page or pointer. The canvas is 360 by 210: the file is 32 by 40 around its centre.
        QTest::addColumn<double>("p");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<int>("grey");
        QTest::newRow("0: file picked up low left") << 0.0 << QPoint(38, 140) << 255;
        QTest::newRow("0.5: panel fully in") << 0.5 << QPoint(270, 100) << 67;
        QTest::newRow("0.95: file half faded") << 0.95 << QPoint(296, 95) << 143;
    }

    void welcomeFrame() {
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

    // "Got it" closes the welcome (that a later start shows none is the desktop process test's).
    // Escape and Ctrl+W close the settings window and the welcome, as they close any dialog.
    void closedByKeys() {
        MemoryUserDefaults defaults;
        QPointer<WelcomeView> window = WelcomeView::showIfFirstRun(defaults);
        QVERIFY(window && window->isVisible() && window->frameTimer()->isActive());
        QTest::keyClick(window->focusWidget(), Qt::Key_Return); // "Got it"
        QTRY_VERIFY(!window);                                   // closed and gone, with its timer
        Fixture f;
        for (const QKeyCombination key : {QKeyCombination(Qt::Key_Escape), Qt::CTRL | Qt::Key_W}) {
            SettingsView view(f.settings, f.hotKeys);
            for (QWidget *window : std::initializer_list<QWidget *>{&view, WelcomeView::showWindow()}) {
                window->show();
                QTest::keyClick(window, key.key(), key.keyboardModifiers());
                QVERIFY(!window->isVisible());
            }
        }
    }

    // The view follows the settings both ways. Where keys reach Stowbay only from some windows the
    // note gives sway's binding line, with the recorded keys; once the desktop holds the shortcut,
    // the keys it gave, and its own dialog where it has one.
    void controlsFollowTheSettingsAndTheDesktop() {
        Fixture f;
        f.settings.setSensitivity(ShakeSensitivity::easy);
        f.platform.everywhere = false;
        SettingsView view(f.settings, f.hotKeys);
        view.openModePicker()->setCurrentIndex(1); // "Any file drag begins"
        QCOMPARE(f.settings.openMode(), OpenMode::anyDrag);
        QVERIFY(!view.sensitivityPicker()->isEnabled());
        QCOMPARE(view.sensitivityPicker()->currentText(), QString("A small wiggle"));
        f.settings.setOpenMode(OpenMode::shake);
        QCOMPARE(view.openModePicker()->currentText(), QString("Shake"));
        QVERIFY(view.sensitivityPicker()->isEnabled());

        // A plain file where the autostart folder should be: the switch springs back, and says why.
        QFile blocker(qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart");
        QDir(blocker.fileName()).removeRecursively(); // left by the autostart entry's test
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        view.launchAtLoginToggle()->click();
        QVERIFY(!view.launchAtLoginToggle()->isChecked());
        QVERIFY(!view.loginErrorText()->isHidden() && !view.loginErrorText()->text().isEmpty());
        blocker.remove();

        QVERIFY(!view.shortcutNote()->isHidden());
        QVERIFY2(view.shortcutNote()->text().contains("\nbindsym Ctrl+Alt+s exec "),
                 qPrintable(view.shortcutNote()->text()));
        f.platform.everywhere = true;
        f.platform.trigger = "Ctrl+Alt+D";
        f.platform.onChange();
        QVERIFY(view.shortcutNote()->text().contains("Ctrl+Alt+D") &&
                !view.shortcutNote()->text().contains("bindsym"));
        // Where the desktop has a dialog of its own, "Change…" opens it, and records nothing.
        f.platform.configures = true;
        f.platform.onChange();
        view.recorder()->changeButton()->click();
        QCOMPARE(f.platform.configured, 1);
        QVERIFY(!view.recorder()->isRecording() && view.recorder()->resetButton()->isHidden());
        f.platform.trigger.clear();
        f.platform.configures = false;
        f.platform.onChange();
        QVERIFY(view.shortcutNote()->isHidden()); // as in an X11 session

        // The desktop's words for its keys, as the note gives them.
        for (const auto &[given, shown] :
             QList<std::pair<QString, QString>>{{"Press <Control><Alt>s", "Ctrl+Alt+S"},
                                                {"<Primary><Shift>F5", "Ctrl+Shift+F5"},
                                                {"CTRL+ALT+s", "Ctrl+Alt+S"},
                                                {"Meta+Space", "Meta+Space"}})
            QCOMPARE(PortalShortcuts::readableTrigger(given), shown);
    }

    void recorder_data() {
        QTest::addColumn<int>("key"); // Key_unknown: "Reset" is clicked instead; Key_Close: the window closes
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("display"); // afterwards; empty: still recording
        QTest::addColumn<QString>("stored");  // key code and label
        QTest::addColumn<int>("beeps");
        const int ctrl = Qt::ControlModifier, alt = Qt::AltModifier, shift = Qt::ShiftModifier;
        const int keypad = Qt::KeypadModifier;
        const auto row = [](const char *name, Qt::Key key, int modifiers, const char *display,
                            const char *stored, int beeps) {
            QTest::newRow(name) << int(key) << modifiers << display << stored << beeps;
        };
        row("the current combination", Qt::Key_Space, Qt::MetaModifier, "Super+Space", "49 Space", 0);
        row("control shift A", Qt::Key_A, ctrl | shift, "Ctrl+Shift+A", "0 A", 0);
        row("5 is not in order", Qt::Key_5, ctrl, "Ctrl+5", "23 5", 0);
        row("control return", Qt::Key_Return, ctrl, "Ctrl+Return", "36 ↩", 0);
        row("forward delete", Qt::Key_Delete, ctrl, "Ctrl+Del", "117 Del", 0);
        row("keypad 8", Qt::Key_8, ctrl | keypad, "Ctrl+Num+8", "91 8", 0);
        row("keypad enter", Qt::Key_Enter, ctrl | keypad, "Ctrl+Num+Enter", "76 Enter", 0);
        row("shift tab arrives as backtab", Qt::Key_Backtab, alt | shift, "Alt+Shift+Tab", "48 ⇥", 0);
        row("home, not in the table", Qt::Key_Home, ctrl, "Ctrl+Home", "115 Home", 0);
        row("shift alone beeps", Qt::Key_A, shift, "", "49 Space", 1);
        row("a modifier on its own waits", Qt::Key_Control, ctrl, "", "49 Space", 0);
        row("escape cancels", Qt::Key_Escape, ctrl, "Super+Space", "49 Space", 0);
        row("reset", Qt::Key_unknown, 0, "Ctrl+Alt+S", "1 S", 0);
        row("closing the window ends it", Qt::Key_Close, 0, "Super+Space", "49 Space", 0);
    }

    void recorder() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, display);
        QFETCH(QString, stored);
        QFETCH(int, beeps);
        Fixture f;
        f.settings.setHotkeyKeyCode(49);
        f.settings.setHotkeyModifiers(0x100);
        f.settings.setHotkeyLabel("Space");
        f.hotKeys.registerHotKey(49, 0x100);
        HotkeyRecorder recorder(f.settings, f.hotKeys);
        int beeped = 0;
        recorder.beep = [&] { ++beeped; };
        recorder.changeButton()->click(); // (the shortcut cannot fire meanwhile: the desktop test's)

        recorder.show();
        if (key == Qt::Key_unknown)
            recorder.resetButton()->click();
        else if (key == Qt::Key_Close)
            recorder.close();
        else
            QTest::keyClick(&recorder, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(beeped, beeps);
        QCOMPARE(recorder.isRecording(), display.isEmpty());
        QCOMPARE(f.platform.held, display.isEmpty() ? 0 : 1);
        QCOMPARE(QString("%1 %2").arg(f.defaults.value("hotkeyKeyCode").toString(),
                                      f.defaults.string("hotkeyLabel")),
                 stored);
        if (!display.isEmpty()) QCOMPARE(recorder.shortcutText()->text(), display);
    }

    // GNOME's keyboard shortcuts, in the test's own GSettings: the click adds Stowbay's entry after
    // the user's own, which stays as it was; keys recorded anew change that entry; a second click
    // adds none.
    void gnomeKeybinding() {
        const QString keys = "org.gnome.settings-daemon.plugins.media-keys",
                      dir = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";
        const auto gsettings = [](const QStringList &args) {
            return DesktopWindows::run("gsettings", args).trimmed();
        };
        const auto entry = [&](const QString &name, const QString &key) {
            return gsettings({"get", keys + ".custom-keybinding:" + dir + name + "/", key});
        };
        gsettings({"set", keys, "custom-keybindings", "['" + dir + "mine/']"});
        for (const auto &[key, value] :
             {std::pair{"name", "Terminal"}, {"command", "xterm"}, {"binding", "<Super>t"}})
            gsettings({"set", keys + ".custom-keybinding:" + dir + "mine/", key, value});
        Fixture f;
        f.platform.everywhere = false;
        GnomeKeybindings gnome(true);
        SettingsView view(f.settings, f.hotKeys, gnome);
        QVERIFY(!view.keybindingButton()->isHidden());
        view.keybindingButton()->click();
        QCOMPARE(view.shortcutNote()->text(), "In GNOME's keyboard shortcuts: Ctrl+Alt+S");
        QVERIFY(view.keybindingButton()->isHidden());
        QCOMPARE(entry("stowbay", "binding"), "'<Control><Alt>s'");
        QVERIFY2(entry("stowbay", "command").endsWith(" toggle'"), qPrintable(entry("stowbay", "command")));
        f.settings.setHotkeyKeyCode(2); // D, recorded anew
        QCOMPARE(entry("stowbay", "binding"), "'<Control><Alt>d'");
        view.keybindingButton()->click();
        QCOMPARE(gsettings({"get", keys, "custom-keybindings"}),
                 "['" + dir + "mine/', '" + dir + "stowbay/']");
        QCOMPARE(entry("mine", "name") + entry("mine", "command") + entry("mine", "binding"),
                 "'Terminal''xterm''<Super>t'");
    }

    void pressReachesTheHandlerOnALaterTurn() {
        Fixture f;
        f.hotKeys.registerHotKey(1, 0x1800);
        int calls = 0;
        f.hotKeys.handler = [&] { ++calls; };
        f.platform.onPress();
        QCOMPARE(calls, 0);
        QTRY_COMPARE(calls, 1);
    }
};

STOWBAY_TEST_MAIN(tst_SettingsView)
#include "tst_SettingsView.moc"
