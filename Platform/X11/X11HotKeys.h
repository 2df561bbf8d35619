// The global key combination on X11: a passive grab of the key on the root window, on a
// connection of our own, for the combination with and without NumLock and CapsLock.
#pragma once

#include "Input/GlobalHotKeys.h"
#include "X11/X11Connection.h"

#include <QMap>
#include <QObject>

union _XEvent;

class X11HotKeys : public QObject, public GlobalHotKeys {
    Q_OBJECT
public:
    explicit X11HotKeys(QObject *parent = nullptr);
    ~X11HotKeys() override;

    bool installPressHandler(std::function<void()> onPress) override;
    std::optional<Ref> registerHotKey(quint32 keyCode, quint32 modifiers) override;
    void unregisterHotKey(Ref ref) override;

    // X modifier mask of the stored modifier bits: control Ctrl, option Alt, shift Shift, command Super.
    static unsigned x11Modifiers(quint32 modifiers);

private:
    struct Grab {
        int keycode;
        unsigned modifiers;
    };

    void handleEvent(_XEvent &event);
    void ungrab(const Grab &grab);
    unsigned numLockMask() const;

    X11Connection m_connection{[this](_XEvent &event) { handleEvent(event); }};
    Display *const m_display = m_connection.display();
    unsigned long m_root = 0;
    std::function<void()> m_onPress;
    QMap<Ref, Grab> m_grabs;
    Ref m_nextRef = 1;
};
