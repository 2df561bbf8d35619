#include "X11/FloatingWindow.h"

#include "Session/DesktopSession.h"
#include "X11/X11Connection.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

// Xlib after Qt: its macros would break Qt's headers.
#include "X11/X11Errors.h"
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <algorithm>

namespace {
// The window that had the keyboard before the panel took it.
Window &previousFocus() {
    static Window window = None;
    return window;
}

bool isOurs(Window window) {
    const QWidgetList windows = QApplication::topLevelWidgets();
    return window > PointerRoot && std::any_of(windows.begin(), windows.end(), [window](QWidget *w) {
               return w->testAttribute(Qt::WA_WState_Created) && Window(w->winId()) == window;
           });
}

// Qt stamps its request for the keyboard with the time of the last event it saw, which may be
// older than the last change of focus (another program took it since), and the server then ignores
// it. Asked with the current time it does not; a window just shown may take a few turns of the
// loop to be mapped.
void focusWhenMapped(QPointer<QWidget> window, int attempts) {
    Display *display = Compositor::shared().display();
    if (!window || !display) return;
    X11Errors::ErrorTrap trap(display);
    XWindowAttributes a;
    const bool viewable =
        XGetWindowAttributes(display, Window(window->winId()), &a) && a.map_state == IsViewable;
    if (viewable) XSetInputFocus(display, Window(window->winId()), RevertToParent, CurrentTime);
    trap.sync();
    if (!viewable && attempts > 0)
        QTimer::singleShot(10, window, [window, attempts] { focusWhenMapped(window, attempts - 1); });
}
} // namespace

void FloatingWindow::configure(QWidget *window) {
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
    if (!DesktopSession::current().managesPanelWindows()) flags |= Qt::X11BypassWindowManagerHint;
    window->setWindowFlags(flags);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setAttribute(Qt::WA_TranslucentBackground);
    window->setAttribute(Qt::WA_X11NetWmWindowTypeUtility);
}

bool FloatingWindow::blurBehind(QWidget *window) {
    Display *display = Compositor::shared().display();
    if (!display) return false;
    // The blur is on offer while the compositor keeps this property on the root window.
    const Atom blur = XInternAtom(display, "_KDE_NET_WM_BLUR_BEHIND_REGION", True);
    if (blur == None) return false;
    int count = 0;
    Atom *properties = XListProperties(display, DefaultRootWindow(display), &count);
    const bool offered = properties && std::find(properties, properties + count, blur) != properties + count;
    if (properties) XFree(properties);
    if (!offered) return false;
    // No region: the whole window.
    XChangeProperty(display, Window(window->winId()), blur, XA_CARDINAL, 32, PropModeReplace, nullptr, 0);
    XFlush(display);
    return true;
}

void FloatingWindow::activate(QWidget *window) {
    Display *display = Compositor::shared().display();
    if (!display) return window->activateWindow();
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    if (focus == Window(window->winId())) return;
    // From another window of ours (the preview) the one before it is still the one to give the
    // keyboard back to.
    if (!isOurs(focus)) previousFocus() = focus;
    window->activateWindow();
    focusWhenMapped(window, 50);
}

void FloatingWindow::resign(QWidget *window) {
    Display *display = Compositor::shared().display();
    const Window previous = std::exchange(previousFocus(), None);
    if (!display || !window->isActiveWindow()) return;
    // The window that had the keyboard may have gone meanwhile: then it goes where the pointer is.
    X11Errors::ErrorTrap trap(display);
    XSetInputFocus(display, previous > PointerRoot ? previous : PointerRoot, RevertToPointerRoot,
                   CurrentTime);
    if (trap.sync() != Success) XSetInputFocus(display, PointerRoot, RevertToPointerRoot, CurrentTime);
    XFlush(display);
}

Compositor &Compositor::shared() {
    static Compositor *instance = new Compositor;
    return *instance;
}

Compositor::Compositor() {
    m_connection = new X11Connection([this](XEvent &event) { handleEvent(event); }, this);
    Display *display = m_connection->display();
    int errorBase = 0;
    if (!display || !XFixesQueryExtension(display, &m_fixesEventBase, &errorBase)) return;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
    m_selection = XInternAtom(display, name.constData(), False);
    XFixesSelectSelectionInput(display, DefaultRootWindow(display), m_selection,
                               XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
    m_active = XGetSelectionOwner(display, m_selection) != None;
    XFlush(display);
}

Compositor::~Compositor() = default;

Display *Compositor::display() const {
    return m_connection->display();
}

void Compositor::handleEvent(XEvent &event) {
    if (event.type == m_fixesEventBase + XFixesSelectionNotify) update();
}

void Compositor::update() {
    const bool active = XGetSelectionOwner(m_connection->display(), m_selection) != None;
    if (active == m_active) return;
    m_active = active;
    emit activeChanged(active);
}
