#include "X11/FloatingWindow.h"

#include "Session/DesktopSession.h"
#include "X11/X11Connection.h"
#include "X11/XcbRequests.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdlib>

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
// A drag handed from one of our windows straight to another (from the edge strip to the panel, in
// one move) must reach the second. The toolkit, handling one drag position, also takes every later
// position in its queue, for whichever window, and answers the last one as the first window's:
// when the source's leave, enter and new position come at once, the new window's position is
// answered for the old one, and a source that waits for its answer (KWin's bridge) never sends
// another, nor the drop. So each handover is followed by a position of our own, at the new
// window's middle, which the toolkit answers as that window's.
class DropHandover : public QAbstractNativeEventFilter {
public:
    explicit DropHandover(xcb_connection_t *connection)
        : m_connection(connection), m_enter(atom("XdndEnter")), m_position(atom("XdndPosition")),
          m_leave(atom("XdndLeave")), m_drop(atom("XdndDrop")), m_copy(atom("XdndActionCopy")) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override {
        if (type != "xcb_generic_event_t") return false;
        auto *event = static_cast<xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
        const auto &m = *reinterpret_cast<xcb_client_message_event_t *>(event);
        if (m.format != 32) return false;
        const quint32 source = m.data.data32[0];
        if (m.type == m_leave) {
            m_left = source;
        } else if (m.type == m_drop) {
            m_left = 0;
        } else if (m.type == m_enter && std::exchange(m_left, 0) == source) {
            positionAtMiddle(m.window, source);
        }
        return false;
    }

private:
    quint32 atom(const char *name) { return XcbRequests::atom(m_connection, name); }
    // Sent to the window: it arrives after the enter now being handled.
    void positionAtMiddle(quint32 window, quint32 source) {
        xcb_get_geometry_reply_t *geometry =
            xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
        if (!geometry) return;
        xcb_translate_coordinates_reply_t *middle = xcb_translate_coordinates_reply(
            m_connection,
            xcb_translate_coordinates(m_connection, window, geometry->root, geometry->width / 2,
                                      geometry->height / 2),
            nullptr);
        std::free(geometry);
        if (!middle) return;
        xcb_client_message_event_t position = {};
        position.response_type = XCB_CLIENT_MESSAGE;
        position.format = 32;
        position.window = window;
        position.type = m_position;
        position.data.data32[0] = source;
        position.data.data32[2] = quint32(quint16(middle->dst_x)) << 16 | quint16(middle->dst_y);
        position.data.data32[3] = XCB_CURRENT_TIME;
        position.data.data32[4] = m_copy;
        std::free(middle);
        XcbRequests::send(m_connection, window, position);
    }

    xcb_connection_t *const m_connection;
    const quint32 m_enter, m_position, m_leave, m_drop, m_copy;
    quint32 m_left = 0; // the source of a drag that has just left one of our windows
};

void followDropHandovers() {
    // Kept for the life of the process, as the toolkit's connection is.
    static const DropHandover *handover = []() -> DropHandover * {
        auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (!x11 || !x11->connection() || QGuiApplication::platformName() != QLatin1String("xcb"))
            return nullptr;
        return new DropHandover(x11->connection());
    }();
    (void)handover;
}
} // namespace

void X11FloatingWindow::configure(QWidget *window) {
    followDropHandovers();
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
    if (!DesktopSession::current().managesPanelWindows()) flags |= Qt::X11BypassWindowManagerHint;
    window->setWindowFlags(flags);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setAttribute(Qt::WA_TranslucentBackground);
    window->setAttribute(Qt::WA_X11NetWmWindowTypeUtility);
}

bool X11FloatingWindow::blurBehind(QWidget *window) {
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

void X11FloatingWindow::activate(QWidget *window) {
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

void X11FloatingWindow::resign(QWidget *window) {
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
