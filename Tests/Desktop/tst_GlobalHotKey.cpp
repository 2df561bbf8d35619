// The global shortcut on the real X server, pressed through XTEST.
#include "TestSupport.h"
#include "Triggers/HotKeyManager.h"
#include "X11/X11HotKeys.h"

#include <QKeyEvent>
#include <QThread>
#include <QWidget>

#include "XTestDriver.h"
#include <X11/keysym.h>

// Keys that no grab takes reach the focused window: this one writes them down.
class KeyRecorder : public QWidget {
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent *event) override { keys << event->key(); }
};

class tst_GlobalHotKey : public QObject {
    Q_OBJECT
    XTestDriver x;
    KeyRecorder recorder;
    X11HotKeys platform;
    HotKeyManager manager{platform};
    int calls = 0;

private slots:
    void initTestCase() {
        QVERIFY(x.display());
        recorder.show();
        recorder.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&recorder));
        manager.handler = [this] {
            QCOMPARE(QThread::currentThread(), qApp->thread());
            ++calls;
        };
    }

    // Pressed with or without Num Lock and Caps Lock, the shortcut calls the handler on the main
    // thread and the focused window never sees it. Registered anew, it leaves the old combination to
    // the focused window. Another program holds Ctrl+Alt+K, though only with Num Lock on: the program
    // lets go of the old combination and holds none of the variants of the new one that were free.
    void pressReRegisterAndRefusal() {
        manager.registerHotKey(1, 0x1800); // Ctrl+Alt+S
        QVERIFY(manager.isRegistered());
        const KeySym locks[] = {NoSymbol, XK_Num_Lock, XK_Caps_Lock};
        for (int i = 0; i < 3; ++i) {
            if (locks[i] != NoSymbol) x.chord({locks[i]}); // on
            x.chord({XK_Control_L, XK_Alt_L, XK_s});
            QTRY_COMPARE(calls, i + 1);
            if (locks[i] != NoSymbol) x.chord({locks[i]}); // off
        }
        QVERIFY(!recorder.keys.contains(Qt::Key_S));

        manager.registerHotKey(2, 0x1800); // Ctrl+Alt+D
        x.chord({XK_Control_L, XK_Alt_L, XK_s});
        QTRY_VERIFY(recorder.keys.contains(Qt::Key_S));
        x.chord({XK_Control_L, XK_Alt_L, XK_d});
        QTRY_COMPARE(calls, 4);

        Display *other = XOpenDisplay(nullptr);
        XGrabKey(other, XKeysymToKeycode(other, XK_k), ControlMask | Mod1Mask | Mod2Mask,
                 DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync);
        XSync(other, False);
        manager.registerHotKey(40, 0x1800);
        QVERIFY(!manager.isRegistered());
        x.chord({XK_Control_L, XK_Alt_L, XK_d});
        x.chord({XK_Control_L, XK_Alt_L, XK_k});
        QTRY_VERIFY(recorder.keys.contains(Qt::Key_D) && recorder.keys.contains(Qt::Key_K));
        QCOMPARE(calls, 4);
        XCloseDisplay(other);
    }
};

STOWBAY_TEST_MAIN(tst_GlobalHotKey)
#include "tst_GlobalHotKey.moc"
