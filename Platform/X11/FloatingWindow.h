// The kind of top-level window the panel is on an X server, and the X server's side of it:
// whether a compositor draws translucent windows, and who has the keyboard.
#pragma once

#include <QObject>

class QWidget;
class X11Connection;
union _XEvent;
typedef struct _XDisplay Display;

namespace X11FloatingWindow {
// Makes `window` a floating panel before it is first shown. On X11: frameless, override-redirect
// (the window manager neither moves it onto the screen, nor lists it, nor leaves it behind on a
// workspace switch), above normal windows, shown without taking the keyboard. Where the
// session's compositor hands drops only to windows it manages, it is a managed, undecorated
// utility window that stays on top instead.
void configure(QWidget *window);

// Asks the compositor to blur what lies behind `window`, where it offers that to every window
// (KWin's blur); true when it does.
bool blurBehind(QWidget *window);

// Gives `window` the keyboard, remembering who had it; resign() hands it back.
void activate(QWidget *window);
void resign(QWidget *window);
} // namespace X11FloatingWindow

// Whether a compositing manager runs on the screen (translucent pixels and window opacity then
// work), told again whenever one starts or stops. Without a display: never.
class Compositor : public QObject {
    Q_OBJECT
public:
    static Compositor &shared();
    ~Compositor() override;
    bool isActive() const { return m_active; }
    // Our own connection to the display (none without one), also used to move the keyboard.
    Display *display() const;

signals:
    void activeChanged(bool active);

private:
    Compositor();
    void handleEvent(_XEvent &event);
    void update();

    X11Connection *m_connection = nullptr;
    unsigned long m_selection = 0;
    int m_fixesEventBase = 0;
    bool m_active = false;
};
