#include "X11/X11DragInput.h"

#include "Input/PanelWindows.h"
#include "Session/DesktopSession.h"

#include <QByteArray>
#include <QTimer>
#include <QUrl>

// Xlib after Qt: its macros (None, CursorShape, ...) would break Qt's headers.
#include "X11/X11Errors.h"
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xfixes.h>
#include <algorithm>
#include <chrono>

namespace {
// The longest uri list read, in 32-bit units (4 MiB); a longer one is cut off at a line.
constexpr long maxListLength = 1 << 20;
// How deep the window tree is searched for the panel under a press (root, frame, client, ...).
constexpr int maxWindowDepth = 6;
// How many times the contents of one drag are asked for before they stay unknown.
constexpr int maxAttempts = 40;
// How long the window that introduces us to sway stays up once mapped: the compositor's turn.
constexpr int greetingMs = 200;
} // namespace

X11DragInput::X11DragInput(QObject *parent) : QObject(parent) {
    m_sampler.setInterval(16);
    m_sampler.setTimerType(Qt::PreciseTimer);
    connect(&m_sampler, &QTimer::timeout, this, &X11DragInput::samplePointer);

    if (!m_display) return;
    m_root = DefaultRootWindow(m_display);

    m_xdndSelection = XInternAtom(m_display, "XdndSelection", False);
    m_uriList = XInternAtom(m_display, "text/uri-list", False);
    m_xdndTypeList = XInternAtom(m_display, "XdndTypeList", False);
    m_property = XInternAtom(m_display, contentsProperty, False);
    m_incr = XInternAtom(m_display, "INCR", False);

    int fixesError = 0, major = 0, minor = 0;
    if (XFixesQueryExtension(m_display, &m_fixesEventBase, &fixesError) &&
        XFixesQueryVersion(m_display, &major, &minor)) {
        XFixesSelectSelectionInput(m_display, m_root, m_xdndSelection, XFixesSetSelectionOwnerNotifyMask);
    } else {
        m_fixesEventBase = -1;
    }

    int xiEvent = 0, xiError = 0;
    major = 2;
    minor = 2;
    if (XQueryExtension(m_display, "XInputExtension", &m_xiOpcode, &xiEvent, &xiError) &&
        XIQueryVersion(m_display, &major, &minor) == Success) {
        selectRawEvents(false);
    } else {
        m_xiOpcode = -1;
    }
    if (DesktopSession::current().isWayland() &&
        DesktopSession::current().compositor == DesktopSession::Compositor::sway)
        joinCompositorDrags();
    XFlush(m_display);
}

// sway tells XWayland of its seat, and with it of every drag (the XdndSelection then changes
// hands at each one), only when an X11 window first gets the keyboard. The panel's windows never
// take it, so until the user happens to focus some X11 program no drag would reach us. A plain
// override-redirect window takes the keyboard the moment sway maps it: one pixel off the screen,
// for an instant, after which sway hands the keyboard back to the window that had it.
void X11DragInput::joinCompositorDrags() {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    const Window greeter = XCreateWindow(m_display, m_root, -1, -1, 1, 1, 0, CopyFromParent, InputOutput,
                                         CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    XMapWindow(m_display, greeter);
    // Mapped once the server has answered; what the round trip read is handled as usual.
    XSync(m_display, False);
    m_connection.processQueuedLater();
    QTimer::singleShot(greetingMs, this, [this, greeter] {
        XDestroyWindow(m_display, greeter);
        XFlush(m_display);
    });
}

X11DragInput::~X11DragInput() = default;

double X11DragInput::now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

int X11DragInput::addMonitor(Handler handler) {
    const int token = m_nextToken++;
    m_handlers.insert(token, std::move(handler));
    return token;
}

void X11DragInput::removeMonitor(int token) {
    m_handlers.remove(token);
}

unsigned X11DragInput::pressedMouseButtons() {
    // While an event is handed out, the answer belongs to that event.
    if (m_dispatching) {
        if (m_pointer) return m_pointer->buttons;
        return m_leftDown ? leftButton : 0;
    }
    return queryPointer().buttons;
}

QPointF X11DragInput::mouseLocation() {
    if (!m_dispatching) return queryPointer().location;
    if (!m_pointer) m_pointer = queryPointer();
    return m_pointer->location;
}

void X11DragInput::setPointerSampling(bool on) {
    if (!m_display || on == m_sampler.isActive()) return;
    if (on) {
        m_lastSample = QPointF(-1, -1);
        m_sampler.start();
    } else {
        m_sampler.stop();
    }
    updateMotionSelection();
}

void X11DragInput::handleEvent(XEvent &event) {
    if (event.type == GenericEvent && event.xcookie.extension == m_xiOpcode) {
        const int type = event.xcookie.evtype;
        // The idle path: motion with the left button up is all most events are, and is dropped
        // before its data is even decoded.
        if (type == XI_RawMotion) {
            if (!m_leftDown) return;
            if (m_askAgain && m_inFlight == 0 && XGetEventData(m_display, &event.xcookie)) {
                const Time time = static_cast<XIRawEvent *>(event.xcookie.data)->time;
                XFreeEventData(m_display, &event.xcookie);
                askForContents(time);
            }
            dispatch(MouseEvent::Type::leftMouseDragged);
            return;
        }
        if (!XGetEventData(m_display, &event.xcookie)) return;
        const int button = static_cast<XIRawEvent *>(event.xcookie.data)->detail;
        XFreeEventData(m_display, &event.xcookie);
        if (button != Button1) return;
        if (type == XI_RawButtonPress) {
            m_leftDown = true;
            m_panelPress = pressWentDownOnPanel();
        } else if (type == XI_RawButtonRelease) {
            m_leftDown = false;
            updateMotionSelection();
            dispatch(MouseEvent::Type::leftMouseUp);
            m_panelPress = false;
        }
        return;
    }
    if (m_fixesEventBase >= 0 && event.type == m_fixesEventBase + XFixesSelectionNotify) {
        const auto &notify = reinterpret_cast<XFixesSelectionNotifyEvent &>(event);
        // A source that lets go of the selection at the drop (owner None) starts nothing.
        if (notify.selection == m_xdndSelection && notify.owner != None) dragPasteboardChanged(notify.owner);
        return;
    }
    // Answers to an earlier drag's window are that drag's: it has been destroyed, or is about to be.
    if (event.type == SelectionNotify && m_requestor && event.xselection.requestor == m_requestor) {
        contentsArrived(event.xselection.property);
        return;
    }
}

void X11DragInput::dragPasteboardChanged(unsigned long owner) {
    ++m_changeCount;
    m_files.reset();
    m_owner = owner;
    m_askAgain = false;
    m_attempts = 0;
    m_inFlight = 0;
    // A window for this drag's answers alone; whatever still comes to the last one goes unread.
    if (m_requestor) XDestroyWindow(m_display, m_requestor);
    XSetWindowAttributes attributes{};
    m_requestor =
        XCreateWindow(m_display, m_root, -10, -10, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, &attributes);
    updateMotionSelection();
    askForContents(CurrentTime);
    if (m_leftDown) dispatch(MouseEvent::Type::leftMouseDragged);
    // A drag may have begun, also where no button event reaches us (a compositor's native drag).
    if (onChange) onChange();
}

// Most sources answer a request made at any time. Others answer only a request whose time is that
// of their latest drag position, which is the time of the pointer event they last handled: those
// are asked again with the time of each pointer motion until they answer.
void X11DragInput::askForContents(unsigned long time) {
    ++m_attempts;
    ++m_inFlight;
    XConvertSelection(m_display, m_xdndSelection, m_uriList, m_property, m_requestor, time);
    XFlush(m_display);
}

// An answer to the current drag's window. One request is out at a time, and an owner answers in
// the order it was asked.
void X11DragInput::contentsArrived(unsigned long property) {
    if (m_inFlight > 0) --m_inFlight;
    const Answer answer = property == None ? Answer::unreadable : readAnswer(property);
    if (m_files) return;
    std::optional<bool> files;
    if (answer == Answer::files || answer == Answer::noFiles) files = answer == Answer::files;
    // A refusal of the first request: the types the owner announces may still say enough.
    if (answer == Answer::unreadable && m_attempts == 1) files = ownerOffersURLs();
    m_files = files;
    // A list too large to come in one piece is not read: this drag's contents stay unknown.
    m_askAgain = !files && answer != Answer::inPieces && m_attempts < maxAttempts;
    updateMotionSelection();
    if (m_files && m_leftDown) dispatch(MouseEvent::Type::leftMouseDragged);
}

// Files when the list holds at least one file URL: web addresses, text and images do not count.
X11DragInput::Answer X11DragInput::readAnswer(unsigned long property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char *data = nullptr;
    X11Errors::ErrorTrap trap(m_display);
    const int status = XGetWindowProperty(m_display, m_requestor, property, 0, maxListLength, False,
                                          AnyPropertyType, &type, &format, &count, &remaining, &data);
    if (status != Success || !data) return Answer::unreadable;
    const QByteArray list(reinterpret_cast<const char *>(data), format == 8 ? int(count) : 0);
    XFree(data);
    // The start of a transfer in pieces stays on the window, so the owner never begins sending them.
    if (type == m_incr) return Answer::inPieces;
    XDeleteProperty(m_display, m_requestor, property);
    if (format != 8) return Answer::unreadable;
    for (QByteArray line : list.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        if (QUrl::fromEncoded(line).isLocalFile()) return Answer::files;
    }
    return Answer::noFiles;
}

// When the contents cannot be read, the types the owner announces can still tell whether URLs
// are offered at all; a source that offers few types announces none, and the answer stays open.
std::optional<bool> X11DragInput::ownerOffersURLs() {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char *data = nullptr;
    X11Errors::ErrorTrap trap(m_display);
    const int status = XGetWindowProperty(m_display, m_owner, m_xdndTypeList, 0, 4096, False, XA_ATOM, &type,
                                          &format, &count, &remaining, &data);
    if (trap.sync() != Success || status != Success || !data) return std::nullopt;
    std::optional<bool> offered;
    if (format == 32) {
        const auto *atoms = reinterpret_cast<const unsigned long *>(data);
        offered = std::find(atoms, atoms + count, m_uriList) != atoms + count;
    }
    XFree(data);
    return offered;
}

// Motion matters only while the left button is down and a file drag is in progress, or a drag's
// contents are still to be asked for: the rest of the time the server does not send it at all, so
// that moving the pointer about, or dragging anything but files, costs the program nothing. A drag
// is recognised without it, on the arrival of its pasteboard and of its contents.
void X11DragInput::updateMotionSelection() {
    const bool wanted = m_leftDown && (m_askAgain || m_sampler.isActive());
    if (wanted != m_motionSelected) selectRawEvents(wanted);
}

void X11DragInput::selectRawEvents(bool motion) {
    m_motionSelected = motion;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawButtonPress);
    XISetMask(bits, XI_RawButtonRelease);
    if (motion) XISetMask(bits, XI_RawMotion);
    XIEventMask mask{XIAllMasterDevices, int(sizeof bits), bits};
    XISelectEvents(m_display, m_root, &mask, 1);
    XFlush(m_display);
}

void X11DragInput::samplePointer() {
    m_pointer = queryPointer();
    if (!(m_pointer->buttons & leftButton) || m_pointer->location == m_lastSample) {
        m_pointer.reset();
        return;
    }
    m_lastSample = m_pointer->location;
    dispatch(MouseEvent::Type::leftMouseDragged);
}

bool X11DragInput::pressWentDownOnPanel() {
    Window window = m_root;
    for (int depth = 0; depth < maxWindowDepth; ++depth) {
        Window root = None, child = None;
        int rootX = 0, rootY = 0, x = 0, y = 0;
        unsigned mask = 0;
        if (!XQueryPointer(m_display, window, &root, &child, &rootX, &rootY, &x, &y, &mask) || child == None)
            return false;
        if (PanelWindows::contains(child)) return true;
        window = child;
    }
    return false;
}

X11DragInput::Pointer X11DragInput::queryPointer() {
    Pointer pointer;
    if (!m_display) return pointer;
    Window root = None, child = None;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned mask = 0;
    if (XQueryPointer(m_display, m_root, &root, &child, &rootX, &rootY, &x, &y, &mask)) {
        pointer.location = QPointF(rootX, rootY);
        pointer.buttons = (mask & Button1Mask) ? leftButton : 0;
    }
    m_connection.processQueuedLater();
    return pointer;
}

void X11DragInput::dispatch(MouseEvent::Type type) {
    const MouseEvent event{type, now(), m_panelPress};
    m_dispatching = true;
    // A handler may remove a monitor (its own included) while the event is handed out.
    const QMap<int, Handler> handlers = m_handlers;
    for (const Handler &handler : handlers)
        handler(event);
    m_dispatching = false;
    m_pointer.reset();
}

namespace {
// Created on first use, after the application object; it lives as long as the process.
X11DragInput &systemInput() {
    static X11DragInput *input = new X11DragInput;
    return *input;
}
} // namespace

DragPasteboard &DragPasteboard::system() {
    return systemInput();
}

MouseMonitor &MouseMonitor::system() {
    return systemInput();
}
