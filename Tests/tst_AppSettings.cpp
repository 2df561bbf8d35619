#include "AppSettings.h"
#include "TestSupport.h"
#include "UserDefaults.h"

#include <QFile>
#include <QSignalSpy>

// Every field in one line, so a table row can say what a stored state reads as.
static QString summary(const AppSettings &s) {
    return QString("%1 %2 %3 %4 %5 %6 %7 %8")
        .arg(rawValue(s.edge()), rawValue(s.openMode()), rawValue(s.sensitivity()), rawValue(s.afterDrag()),
             rawValue(s.autoClear()), s.keepOnQuit() ? "keep" : "drop", QString::number(s.hotkeyKeyCode()),
             s.hotkeyDisplay());
}

class tst_AppSettings : public QObject {
    Q_OBJECT
private slots:
    void loading_data() {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QString>("expected");
        const QString defaults = "right shake normal remove never keep 1 Ctrl+Alt+S";
        QTest::newRow("nothing stored") << QVariantMap{} << defaults;
        QTest::newRow("recognised values")
            << QVariantMap{{"edge", "bottom"},    {"openMode", "anyDrag"}, {"sensitivity", "easy"},
                           {"afterDrag", "keep"}, {"autoClear", "week"},   {"keepOnQuit", false}}
            << "bottom anyDrag easy keep week drop 1 Ctrl+Alt+S";
        QTest::newRow("raw values match exactly, anything else is the default")
            << QVariantMap{{"edge", "Left"},
                           {"openMode", "anydrag"},
                           {"sensitivity", "Normal"},
                           {"afterDrag", ""},
                           {"autoClear", "month"}}
            << defaults;
        QTest::newRow("a number where text belongs") << QVariantMap{{"edge", 2}} << defaults;
        QTest::newRow("keepOnQuit as the settings file gives it back")
            << QVariantMap{{"keepOnQuit", "false"}} << "right shake normal remove never drop 1 Ctrl+Alt+S";
        QTest::newRow("modifiers and label without a key code are ignored")
            << QVariantMap{{"hotkeyModifiers", 256}, {"hotkeyLabel", "K"}} << defaults;
        QTest::newRow("key code without label or modifiers names its key")
            << QVariantMap{{"hotkeyKeyCode", "40"}} << "right shake normal remove never keep 40 K";
        QTest::newRow("a code no key has shows the label, missing as ?")
            << QVariantMap{{"hotkeyKeyCode", 10}, {"hotkeyModifiers", 0x1000}}
            << "right shake normal remove never keep 10 Ctrl+?";
        QTest::newRow("all four modifiers in fixed order")
            << QVariantMap{{"hotkeyKeyCode", 40}, {"hotkeyModifiers", 0x1B00 | 0x80}, {"hotkeyLabel", "K"}}
            << "right shake normal remove never keep 40 Super+Ctrl+Alt+Shift+K";
        QTest::newRow("keypad key") << QVariantMap{{"hotkeyKeyCode", 91}, {"hotkeyModifiers", 0x800}}
                                    << "right shake normal remove never keep 91 Alt+Num+8";
        QTest::newRow("negative key code gives the default shortcut")
            << QVariantMap{{"hotkeyKeyCode", -1}, {"hotkeyModifiers", 256}, {"hotkeyLabel", "X"}} << defaults;
        QTest::newRow("modifiers beyond 32 bits give the default shortcut")
            << QVariantMap{{"hotkeyKeyCode", 7}, {"hotkeyModifiers", qint64(1) << 32}} << defaults;
        QTest::newRow("largest 32-bit key code is kept")
            << QVariantMap{{"hotkeyKeyCode", qint64(4294967295)},
                           {"hotkeyModifiers", 0},
                           {"hotkeyLabel", "X"}}
            << "right shake normal remove never keep 4294967295 X";
    }

    void loading() {
        QFETCH(QVariantMap, stored);
        QFETCH(QString, expected);
        MemoryUserDefaults d;
        for (auto it = stored.begin(); it != stored.end(); ++it)
            d.setValue(it.key(), it.value());
        d.writes = 0;
        AppSettings s(d);
        QCOMPARE(summary(s), expected);
        QCOMPARE(d.writes, 0);
    }

    void everyAssignmentEmitsAndWritesThrough() {
        {
            QSettingsUserDefaults d;
            AppSettings s(d);
            QSignalSpy edge(&s, &AppSettings::edgeChanged);
            QSignalSpy any(&s, &AppSettings::changed);
            s.setEdge(StowbayEdge::right); // the value already held still emits and writes
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
        // A new instance on the real settings file reads back what was written.
        QVERIFY(QFile::exists(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Stowbay/Stowbay.conf"));
        QSettingsUserDefaults d;
        QCOMPARE(summary(AppSettings(d)), QString("left anyDrag gentle keep day drop 40 Super+Ctrl+K"));
    }

    void launchAtLogin() {
        const QString path = LaunchAtLogin::entryPath();
        QCOMPARE(path, qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/stowbay.desktop");
        QVERIFY(!LaunchAtLogin::isEnabled());
        QCOMPARE(LaunchAtLogin::set(true), std::nullopt);
        QVERIFY(LaunchAtLogin::isEnabled());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(
            file.readAll().contains("\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\"\n"));

        // An entry the user switched off in the desktop's session settings is not enabled.
        file.close();
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
        file.write("Hidden=true\n");
        file.close();
        QVERIFY(!LaunchAtLogin::isEnabled());
        QCOMPARE(LaunchAtLogin::set(false), std::nullopt);
        QVERIFY(!QFile::exists(path));
        QCOMPARE(LaunchAtLogin::set(false), std::nullopt); // nothing to remove is not a failure
    }
};

STOWBAY_TEST_MAIN(tst_AppSettings)
#include "tst_AppSettings.moc"
