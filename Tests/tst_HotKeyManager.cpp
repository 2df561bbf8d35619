#include "HotKeyManager.h"
#include "KeyCodes.h"
#include "TestSupport.h"

#include <QThread>

// The platform's hot keys, played by the test: it records what is held and can refuse.
class FakeHotKeys : public GlobalHotKeys {
public:
    std::function<void()> onPress;
    int installs = 0;
    bool refuseInstall = false;
    QList<std::pair<quint32, quint32>> refused; // combinations another program holds
    QMap<Ref, std::pair<quint32, quint32>> held;
    QStringList calls;
    Ref next = 1;

    bool installPressHandler(std::function<void()> handler) override {
        ++installs;
        calls << "install";
        if (refuseInstall) return false;
        onPress = std::move(handler);
        return true;
    }
    std::optional<Ref> registerHotKey(quint32 keyCode, quint32 modifiers) override {
        calls << QString("register %1 %2").arg(keyCode).arg(modifiers);
        if (refused.contains({keyCode, modifiers})) return std::nullopt;
        held.insert(next, {keyCode, modifiers});
        return next++;
    }
    void unregisterHotKey(Ref ref) override {
        calls << QString("unregister %1 %2").arg(held.value(ref).first).arg(held.value(ref).second);
        held.remove(ref);
    }
};

class tst_HotKeyManager : public QObject {
    Q_OBJECT
private slots:
    void reRegisteringReleasesTheOldCombinationFirst();
    void refusedCombinationLeavesNoShortcut();
    void pressesReachTheHandlerOnALaterTurn();
    void failedHandlerInstallationIsRetried();
    void keyCodesMapBothWays_data();
    void keyCodesMapBothWays();
};

void tst_HotKeyManager::reRegisteringReleasesTheOldCombinationFirst() {
    FakeHotKeys platform;
    HotKeyManager manager(platform);
    manager.registerHotKey(1, 0x1800);
    manager.registerHotKey(1, 0x1800); // the same one again
    manager.registerHotKey(1, 0x1a00); // only the modifiers change
    QCOMPARE(platform.calls, QStringList({"install", "register 1 6144", "unregister 1 6144",
                                          "register 1 6144", "unregister 1 6144", "register 1 6656"}));
    QCOMPARE(platform.held.size(), 1);
    QVERIFY(manager.isRegistered());
}

void tst_HotKeyManager::refusedCombinationLeavesNoShortcut() {
    FakeHotKeys platform;
    platform.refused = {{40, 0x1800}};
    HotKeyManager manager(platform);
    manager.registerHotKey(1, 0x1800);
    manager.registerHotKey(40, 0x1800);
    QVERIFY(!manager.isRegistered());
    QVERIFY(platform.held.isEmpty()); // the working one was let go first
    manager.registerHotKey(1, 0x1800);
    QVERIFY(manager.isRegistered());
}

void tst_HotKeyManager::pressesReachTheHandlerOnALaterTurn() {
    FakeHotKeys platform;
    HotKeyManager manager(platform);
    manager.registerHotKey(1, 0x1800);
    platform.onPress(); // before a handler is set: nothing happens
    QCoreApplication::processEvents();

    int calls = 0;
    manager.handler = [&] {
        QCOMPARE(QThread::currentThread(), qApp->thread());
        ++calls;
    };
    platform.onPress();
    QCOMPARE(calls, 0);
    QTRY_COMPARE(calls, 1);
}

void tst_HotKeyManager::failedHandlerInstallationIsRetried() {
    FakeHotKeys platform;
    platform.refuseInstall = true;
    HotKeyManager manager(platform);
    manager.registerHotKey(1, 0x1800);
    QVERIFY(manager.isRegistered());
    platform.refuseInstall = false;
    manager.registerHotKey(1, 0x1800);
    manager.registerHotKey(2, 0x1800);
    QCOMPARE(platform.installs, 2);
    QVERIFY(platform.onPress);
}

void tst_HotKeyManager::keyCodesMapBothWays_data() {
    QTest::addColumn<quint32>("virtualKey");
    QTest::addColumn<int>("qtKey");
    QTest::addColumn<bool>("keypad");
    QTest::newRow("S") << 1u << int(Qt::Key_S) << false;
    QTest::newRow("5 is not in order") << 23u << int(Qt::Key_5) << false;
    QTest::newRow("Delete is Backspace") << 51u << int(Qt::Key_Backspace) << false;
    QTest::newRow("Forward Delete is Delete") << 117u << int(Qt::Key_Delete) << false;
    QTest::newRow("Help is Insert") << 114u << int(Qt::Key_Insert) << false;
    QTest::newRow("keypad 8") << 91u << int(Qt::Key_8) << true;
    QTest::newRow("keypad Enter") << 76u << int(Qt::Key_Enter) << true;
    QTest::newRow("F20") << 90u << int(Qt::Key_F20) << false;
    QTest::newRow("Up") << 126u << int(Qt::Key_Up) << false;
}

void tst_HotKeyManager::keyCodesMapBothWays() {
    QFETCH(quint32, virtualKey);
    QFETCH(int, qtKey);
    QFETCH(bool, keypad);
    QCOMPARE(KeyCodes::qtKey(virtualKey), std::optional<int>(qtKey));
    QCOMPARE(KeyCodes::isKeypad(virtualKey), keypad);
    QCOMPARE(KeyCodes::virtualKey(qtKey, keypad), std::optional<quint32>(virtualKey));
    QVERIFY(KeyCodes::keysym(virtualKey).has_value());
    QVERIFY(!KeyCodes::keysym(10).has_value()); // no key has code 10 on an ANSI keyboard
}

STOWBAY_TEST_MAIN(tst_HotKeyManager)
#include "tst_HotKeyManager.moc"
