#include "AppSettings.h"
#include "TestSupport.h"
#include "UserDefaults.h"

#include <QFile>
#include <QSignalSpy>

class tst_AppSettings : public QObject {
    Q_OBJECT
private slots:
    void freshStoreGivesDefaultsAndWritesNothing();
    void unrecognisedValuesFallBack_data();
    void unrecognisedValuesFallBack();
    void keepOnQuit();
    void storedShortcut_data();
    void storedShortcut();
    void hotkeyDisplay_data();
    void hotkeyDisplay();
    void everyAssignmentEmitsAndWritesThrough();
    void survivesARestartOnTheRealSettingsFile();
    void launchAtLoginWritesAnAutostartEntry();
    void launchAtLoginReadsHiddenAndDisabledEntries();
    void launchAtLoginReportsAFailure();
};

void tst_AppSettings::freshStoreGivesDefaultsAndWritesNothing() {
    MemoryUserDefaults d;
    AppSettings s(d);
    QCOMPARE(s.edge(), StowbayEdge::right);
    QCOMPARE(s.openMode(), OpenMode::shake);
    QCOMPARE(s.sensitivity(), ShakeSensitivity::normal);
    QCOMPARE(s.afterDrag(), AfterDrag::remove);
    QCOMPARE(s.autoClear(), AutoClear::never);
    QCOMPARE(s.keepOnQuit(), true);
    QCOMPARE(s.hotkeyKeyCode(), 1u);
    QCOMPARE(s.hotkeyModifiers(), 6144u);
    QCOMPARE(s.hotkeyLabel(), QString("S"));
    QCOMPARE(s.hotkeyDisplay(), QString("⌃⌥S"));
    QCOMPARE(d.writes, 0);
}

void tst_AppSettings::unrecognisedValuesFallBack_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("expected");
    QTest::newRow("sensitivity in another case") << "sensitivity" << QVariant("Normal") << "normal";
    QTest::newRow("sensitivity another word") << "sensitivity" << QVariant("wild") << "normal";
    QTest::newRow("sensitivity recognised") << "sensitivity" << QVariant("easy") << "easy";
    QTest::newRow("edge unknown") << "edge" << QVariant("top") << "right";
    QTest::newRow("edge a number") << "edge" << QVariant(2) << "right";
    QTest::newRow("edge recognised") << "edge" << QVariant("bottom") << "bottom";
    QTest::newRow("autoClear unknown") << "autoClear" << QVariant("month") << "never";
    QTest::newRow("openMode unknown") << "openMode" << QVariant("anydrag") << "shake";
    QTest::newRow("openMode recognised") << "openMode" << QVariant("anyDrag") << "anyDrag";
    QTest::newRow("afterDrag unknown") << "afterDrag" << QVariant("") << "remove";
}

void tst_AppSettings::unrecognisedValuesFallBack() {
    QFETCH(QString, key);
    QFETCH(QVariant, stored);
    QFETCH(QString, expected);
    MemoryUserDefaults d;
    d.setValue(key, stored);
    d.writes = 0;
    AppSettings s(d);
    const QHash<QString, QString> read{{"edge", rawValue(s.edge())},
                                       {"openMode", rawValue(s.openMode())},
                                       {"sensitivity", rawValue(s.sensitivity())},
                                       {"afterDrag", rawValue(s.afterDrag())},
                                       {"autoClear", rawValue(s.autoClear())}};
    QCOMPARE(read.value(key), expected);
    QCOMPARE(d.writes, 0);
}

void tst_AppSettings::keepOnQuit() {
    MemoryUserDefaults d;
    d.setValue("keepOnQuit", false);
    QCOMPARE(AppSettings(d).keepOnQuit(), false);
    d.setValue("keepOnQuit", QString("false")); // as the settings file gives it back
    QCOMPARE(AppSettings(d).keepOnQuit(), false);
    MemoryUserDefaults empty;
    QCOMPARE(AppSettings(empty).keepOnQuit(), true);
}

void tst_AppSettings::storedShortcut_data() {
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<quint32>("keyCode");
    QTest::addColumn<quint32>("modifiers");
    QTest::addColumn<QString>("display");
    QTest::newRow("modifiers and label without key code are ignored")
        << QVariantMap{{"hotkeyModifiers", 256}, {"hotkeyLabel", "K"}} << 1u << 6144u << "⌃⌥S";
    QTest::newRow("key code without label shows ?")
        << QVariantMap{{"hotkeyKeyCode", 40}, {"hotkeyModifiers", 4096}} << 40u << 4096u << "⌃?";
    QTest::newRow("key code without modifiers has none")
        << QVariantMap{{"hotkeyKeyCode", 40}, {"hotkeyLabel", "K"}} << 40u << 0u << "K";
    QTest::newRow("numbers as text, as the settings file keeps them")
        << QVariantMap{{"hotkeyKeyCode", "12"}, {"hotkeyModifiers", "768"}, {"hotkeyLabel", "Q"}} << 12u
        << 768u << "⇧⌘Q";
    QTest::newRow("negative key code gives the default")
        << QVariantMap{{"hotkeyKeyCode", -1}, {"hotkeyModifiers", 256}, {"hotkeyLabel", "X"}} << 1u << 6144u
        << "⌃⌥S";
    QTest::newRow("modifiers beyond 32 bits give the default")
        << QVariantMap{{"hotkeyKeyCode", 7}, {"hotkeyModifiers", qint64(1) << 32}, {"hotkeyLabel", "X"}} << 1u
        << 6144u << "⌃⌥S";
    QTest::newRow("largest unsigned 32-bit values are kept")
        << QVariantMap{{"hotkeyKeyCode", qint64(4294967295)}, {"hotkeyModifiers", 0}, {"hotkeyLabel", "X"}}
        << 4294967295u << 0u << "X";
}

void tst_AppSettings::storedShortcut() {
    QFETCH(QVariantMap, stored);
    QFETCH(quint32, keyCode);
    QFETCH(quint32, modifiers);
    QFETCH(QString, display);
    MemoryUserDefaults d;
    for (auto it = stored.begin(); it != stored.end(); ++it)
        d.setValue(it.key(), it.value());
    AppSettings s(d);
    QCOMPARE(s.hotkeyKeyCode(), keyCode);
    QCOMPARE(s.hotkeyModifiers(), modifiers);
    QCOMPARE(s.hotkeyDisplay(), display);
}

void tst_AppSettings::hotkeyDisplay_data() {
    QTest::addColumn<quint32>("modifiers");
    QTest::addColumn<QString>("display");
    QTest::newRow("all four in fixed order") << 0x1B00u << "⌃⌥⇧⌘K";
    QTest::newRow("none") << 0u << "K";
    QTest::newRow("command and shift") << 0x300u << "⇧⌘K";
    QTest::newRow("other bits are not shown") << 0x1000u + 0x80u << "⌃K";
}

void tst_AppSettings::hotkeyDisplay() {
    QFETCH(quint32, modifiers);
    QFETCH(QString, display);
    MemoryUserDefaults d;
    AppSettings s(d);
    s.setHotkeyModifiers(modifiers);
    s.setHotkeyLabel("K");
    QCOMPARE(s.hotkeyDisplay(), display);
}

void tst_AppSettings::everyAssignmentEmitsAndWritesThrough() {
    MemoryUserDefaults d;
    AppSettings s(d);
    QSignalSpy edge(&s, &AppSettings::edgeChanged);
    QSignalSpy keep(&s, &AppSettings::keepOnQuitChanged);
    QSignalSpy keyCode(&s, &AppSettings::hotkeyKeyCodeChanged);
    QSignalSpy any(&s, &AppSettings::changed);

    s.setEdge(StowbayEdge::right); // the value already held
    QCOMPARE(edge.count(), 1);
    QCOMPARE(d.value("edge").toString(), QString("right"));

    s.setKeepOnQuit(false);
    QCOMPARE(keep.count(), 1);
    QCOMPARE(d.value("keepOnQuit").toBool(), false);

    s.setHotkeyKeyCode(40);
    QCOMPARE(keyCode.count(), 1);
    QCOMPARE(keyCode.first().first().value<quint32>(), 40u);
    QCOMPARE(d.value("hotkeyKeyCode").toLongLong(), 40);

    s.setAutoClear(AutoClear::week);
    s.setSensitivity(ShakeSensitivity::gentle);
    s.setOpenMode(OpenMode::anyDrag);
    s.setAfterDrag(AfterDrag::keep);
    s.setHotkeyModifiers(0x900);
    s.setHotkeyLabel("K");
    QCOMPARE(any.count(), 9);
    QCOMPARE(d.writes, 9);

    AppSettings again(d);
    QCOMPARE(again.autoClear(), AutoClear::week);
    QCOMPARE(again.sensitivity(), ShakeSensitivity::gentle);
    QCOMPARE(again.openMode(), OpenMode::anyDrag);
    QCOMPARE(again.afterDrag(), AfterDrag::keep);
    QCOMPARE(again.hotkeyDisplay(), QString("⌥⌘K"));
}

void tst_AppSettings::survivesARestartOnTheRealSettingsFile() {
    {
        QSettingsUserDefaults d;
        AppSettings s(d);
        s.setEdge(StowbayEdge::left);
        s.setKeepOnQuit(false);
        s.setHotkeyKeyCode(40);
        s.setHotkeyModifiers(0x1100);
        s.setHotkeyLabel("K");
    }
    QVERIFY(QFile::exists(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Stowbay/Stowbay.conf"));
    QSettingsUserDefaults d;
    AppSettings s(d);
    QCOMPARE(s.edge(), StowbayEdge::left);
    QCOMPARE(s.keepOnQuit(), false);
    QCOMPARE(s.hotkeyKeyCode(), 40u);
    QCOMPARE(s.hotkeyDisplay(), QString("⌃⌘K"));
}

void tst_AppSettings::launchAtLoginWritesAnAutostartEntry() {
    const QString path = LaunchAtLogin::entryPath();
    QCOMPARE(path, qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/stowbay.desktop");
    QVERIFY(!LaunchAtLogin::isEnabled());
    QCOMPARE(LaunchAtLogin::set(true), std::nullopt);
    QVERIFY(LaunchAtLogin::isEnabled());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY(text.startsWith("[Desktop Entry]\n"));
    QVERIFY2(text.contains("Exec=\"" + QCoreApplication::applicationFilePath() + "\"\n"), qPrintable(text));
    QCOMPARE(LaunchAtLogin::set(false), std::nullopt);
    QVERIFY(!QFile::exists(path));
    QVERIFY(!LaunchAtLogin::isEnabled());
    QCOMPARE(LaunchAtLogin::set(false), std::nullopt); // nothing to remove is not a failure
}

void tst_AppSettings::launchAtLoginReadsHiddenAndDisabledEntries() {
    const QString path = LaunchAtLogin::entryPath();
    const auto write = [&](const QByteArray &extra) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[Desktop Entry]\nType=Application\nExec=stowbay\n" + extra);
    };
    write("Hidden=true\n");
    QVERIFY(!LaunchAtLogin::isEnabled());
    write("X-GNOME-Autostart-enabled=false\n");
    QVERIFY(!LaunchAtLogin::isEnabled());
    write("Hidden=false\n");
    QVERIFY(LaunchAtLogin::isEnabled());
    QFile::remove(path);
}

void tst_AppSettings::launchAtLoginReportsAFailure() {
    // The autostart folder cannot be created where a plain file stands in its way.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", (config + "/blocked").toUtf8());
    QDir().mkpath(config + "/blocked");
    QFile blocker(config + "/blocked/autostart");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto failure = LaunchAtLogin::set(true);
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    QVERIFY(failure.has_value());
    QVERIFY(!failure->isEmpty());
}

STOWBAY_TEST_MAIN(tst_AppSettings)
#include "tst_AppSettings.moc"
