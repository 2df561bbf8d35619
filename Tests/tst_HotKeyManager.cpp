// What the desktop test of the shortcut does not show: the press handled on a later turn of the
// event loop, and the stored key codes mapped both ways.
#include "HotKeyManager.h"
#include "KeyCodes.h"
#include "TestSupport.h"

class FakeHotKeys : public GlobalHotKeys {
public:
    std::function<void()> onPress;
    bool installPressHandler(std::function<void()> handler) override { return onPress = handler, true; }
    std::optional<Ref> registerHotKey(quint32, quint32) override { return 1; }
    void unregisterHotKey(Ref) override {}
};

class tst_HotKeyManager : public QObject {
    Q_OBJECT
private slots:
    void pressReachesTheHandlerOnALaterTurn();
    void keyCodesMapBothWays_data();
    void keyCodesMapBothWays();
};

void tst_HotKeyManager::pressReachesTheHandlerOnALaterTurn() {
    FakeHotKeys platform;
    HotKeyManager manager(platform);
    manager.registerHotKey(1, 0x1800);
    int calls = 0;
    manager.handler = [&] { ++calls; };
    platform.onPress();
    QCOMPARE(calls, 0);
    QTRY_COMPARE(calls, 1);
}

void tst_HotKeyManager::keyCodesMapBothWays_data() {
    QTest::addColumn<quint32>("virtualKey");
    QTest::addColumn<int>("qtKey");
    QTest::addColumn<bool>("keypad");
    QTest::newRow("S") << 1u << int(Qt::Key_S) << false;
    QTest::newRow("5 is not in order") << 23u << int(Qt::Key_5) << false;
    QTest::newRow("Delete is Backspace") << 51u << int(Qt::Key_Backspace) << false;
    QTest::newRow("Forward Delete is Delete") << 117u << int(Qt::Key_Delete) << false;
    QTest::newRow("keypad 8") << 91u << int(Qt::Key_8) << true;
    QTest::newRow("keypad Enter") << 76u << int(Qt::Key_Enter) << true;
}

void tst_HotKeyManager::keyCodesMapBothWays() {
    QFETCH(quint32, virtualKey);
    QFETCH(int, qtKey);
    QFETCH(bool, keypad);
    QCOMPARE(KeyCodes::qtKey(virtualKey), std::optional<int>(qtKey));
    QCOMPARE(KeyCodes::isKeypad(virtualKey), keypad);
    QCOMPARE(KeyCodes::virtualKey(qtKey, keypad), std::optional<quint32>(virtualKey));
    QVERIFY(!KeyCodes::keysym(10).has_value()); // no key has code 10 on an ANSI keyboard
}

STOWBAY_TEST_MAIN(tst_HotKeyManager)
#include "tst_HotKeyManager.moc"
