#include "Session/UserDefaults.h"
#include "Settings/AppSettings.h"
#include "TestSupport.h"

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
};

STOWBAY_TEST_MAIN(tst_AppSettings)
#include "tst_AppSettings.moc"
