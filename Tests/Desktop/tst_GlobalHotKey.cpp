// The global shortcut on the real X server, pressed through XTEST.
#include "HotKeyManager.h"
#include "TestSupport.h"
#include "X11HotKeys.h"

#include <QKeyEvent>
#include <QThread>
#include <QWidget>

#include "XTestDriver.h"
#include <X11/keysym.h>

namespace {
// Keys that no grab takes reach the focused window: this one writes them down.
class KeyRecorder : public QWidget {
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent *event) override { keys << event->key(); }
};
} // namespace

class tst_GlobalHotKey : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void pressCallsTheHandlerOnTheMainThread_data();
    void pressCallsTheHandlerOnTheMainThread();
    void reRegisteringMovesTheShortcut();
    void combinationHeldByAnotherClientIsRefusedSilently();

private:
    std::unique_ptr<XTestDriver> x;
    std::unique_ptr<KeyRecorder> recorder;
    std::unique_ptr<X11HotKeys> platform;
    std::unique_ptr<HotKeyManager> manager;
    int calls = 0;
};

void tst_GlobalHotKey::init() {
    x = std::make_unique<XTestDriver>();
    QVERIFY(x->display());
    recorder = std::make_unique<KeyRecorder>();
    recorder->setGeometry(200, 200, 200, 120);
    recorder->show();
    recorder->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(recorder.get()));
    platform = std::make_unique<X11HotKeys>();
    manager = std::make_unique<HotKeyManager>(*platform);
    calls = 0;
    manager->handler = [this] {
        QCOMPARE(QThread::currentThread(), qApp->thread());
        ++calls;
    };
}

void tst_GlobalHotKey::cleanup() {
    manager.reset();
    platform.reset();
    recorder.reset();
    x.reset();
}

void tst_GlobalHotKey::pressCallsTheHandlerOnTheMainThread_data() {
    QTest::addColumn<KeySym>("lock");
    QTest::newRow("no lock") << KeySym(NoSymbol);
    QTest::newRow("NumLock on") << KeySym(XK_Num_Lock);
    QTest::newRow("CapsLock on") << KeySym(XK_Caps_Lock);
}

void tst_GlobalHotKey::pressCallsTheHandlerOnTheMainThread() {
    QFETCH(KeySym, lock);
    manager->registerHotKey(1, 0x1800); // Ctrl+Alt+S
    QVERIFY(manager->isRegistered());
    if (lock != NoSymbol) x->chord({lock});

    x->chord({XK_Control_L, XK_Alt_L, XK_s});
    QTRY_COMPARE(calls, 1);
    x->chord({XK_Control_L, XK_Alt_L, XK_s});
    QTRY_COMPARE(calls, 2);
    QVERIFY(!recorder->keys.contains(Qt::Key_S));

    if (lock != NoSymbol) x->chord({lock});
}

void tst_GlobalHotKey::reRegisteringMovesTheShortcut() {
    manager->registerHotKey(1, 0x1800);
    manager->registerHotKey(2, 0x1800); // Ctrl+Alt+D
    QVERIFY(manager->isRegistered());

    x->chord({XK_Control_L, XK_Alt_L, XK_s});
    QTRY_VERIFY(recorder->keys.contains(Qt::Key_S)); // no longer taken by the program
    x->chord({XK_Control_L, XK_Alt_L, XK_d});
    QTRY_COMPARE(calls, 1);
    QVERIFY(!recorder->keys.contains(Qt::Key_D));
}

void tst_GlobalHotKey::combinationHeldByAnotherClientIsRefusedSilently() {
    // Another program holds Ctrl+Alt+K, though only with NumLock on.
    Display *other = XOpenDisplay(nullptr);
    QVERIFY(other);
    const unsigned numLock = Mod2Mask;
    XGrabKey(other, XKeysymToKeycode(other, XK_k), ControlMask | Mod1Mask | numLock, DefaultRootWindow(other),
             False, GrabModeAsync, GrabModeAsync);
    XSync(other, False);

    manager->registerHotKey(1, 0x1800);
    manager->registerHotKey(40, 0x1800); // Ctrl+Alt+K
    QVERIFY(!manager->isRegistered());

    // Nothing is held: not the old combination, nor the variants of the new one that were free.
    x->chord({XK_Control_L, XK_Alt_L, XK_s});
    x->chord({XK_Control_L, XK_Alt_L, XK_k});
    QTRY_VERIFY(recorder->keys.contains(Qt::Key_S) && recorder->keys.contains(Qt::Key_K));
    QCOMPARE(calls, 0);
    XCloseDisplay(other);
}

STOWBAY_TEST_MAIN(tst_GlobalHotKey)
#include "tst_GlobalHotKey.moc"
