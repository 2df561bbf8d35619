#include "X11/X11DragDelivery.h"

#include "X11/X11DragInput.h"
#include "X11/XcbRequests.h"

#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>
#include <cstdlib>
#include <xcb/xcb.h>

namespace {
// The highest XDND version the toolkit speaks as a drag source.
constexpr int sourceVersion = 5;
// XdndFinished came with version 2, its verdict (accepted or not) with version 5.
constexpr int firstVersionWithFinished = 2;
constexpr int firstVersionWithVerdict = 5;

// A drag source that says "delivered" for every accepted drop, where the desktop tells no more.
class AcceptedIsDelivered : public DragDelivery {
public:
    void serve(const QMimeData &) override {}
    void awaitDelivery(std::function<void(bool)> settled) override { settled(true); }
};
} // namespace

X11DragDelivery::X11DragDelivery(xcb_connection_t *connection) : m_connection(connection) {
    m_xdndSelection = atom("XdndSelection");
    m_targets = atom("TARGETS");
    m_xdndStatus = atom("XdndStatus");
    m_xdndFinished = atom("XdndFinished");
    m_xdndAware = atom("XdndAware");
    m_xdndProxy = atom("XdndProxy");
    m_watcherProperty = atom(X11DragInput::contentsProperty);
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(confirmationTimeout);
    QObject::connect(&m_timeout, &QTimer::timeout, [this] { settle(false); });
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11DragDelivery::~X11DragDelivery() {
    if (QCoreApplication *app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
}

X11DragDelivery::Atom X11DragDelivery::atom(const char *name) {
    return XcbRequests::atom(m_connection, name);
}

void X11DragDelivery::serve(const QMimeData &data) {
    if (m_settled) settle(false);
    m_offered.clear();
    m_target = 0;
    m_read = false;
    m_finished.reset();

    // The types the toolkit offers for the data, and the bytes it would give for each.
    for (const QString &format : data.formats())
        m_offered.insert(atom(format.toLatin1().constData()), data.data(format));
    const QList<QUrl> urls = data.urls();
    if (urls.isEmpty()) return;
    // A browser's link type: one URL and a title line, in UTF-16.
    const QString link = urls.first().toString() + '\n';
    m_offered.insert(atom("text/x-moz-url"),
                     QByteArray(reinterpret_cast<const char *>(link.utf16()), link.size() * 2));
    if (!data.hasText()) m_offered.insert(atom("text/plain"), QUrl::toStringList(urls).join('\n').toUtf8());
}

void X11DragDelivery::awaitDelivery(std::function<void(bool delivered)> settled) {
    if (m_settled) settle(false);
    m_settled = std::move(settled);
    m_timeout.start();
    decide();
}

bool X11DragDelivery::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) {
    if (eventType != "xcb_generic_event_t" || m_offered.isEmpty()) return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    switch (event->response_type & 0x7f) {
    case XCB_SELECTION_REQUEST:
        return answer(*reinterpret_cast<const xcb_selection_request_event_t *>(event));
    case XCB_CLIENT_MESSAGE:
        targetSaid(*reinterpret_cast<const xcb_client_message_event_t *>(event));
        return false;
    default:
        return false;
    }
}

bool X11DragDelivery::answer(const xcb_selection_request_event_t &request) {
    if (request.selection != m_xdndSelection) return false;
    // The list of types, which a bridge to another display server asks for before it offers any.
    QList<Atom> types = m_offered.keys();
    types << m_targets;
    const bool listing = request.target == m_targets;
    const auto data = m_offered.constFind(request.target);
    const bool offered = listing || data != m_offered.constEnd();
    const QByteArray bytes = !offered  ? QByteArray()
                             : listing ? QByteArray(reinterpret_cast<const char *>(types.constData()),
                                                    types.size() * qsizetype(sizeof(Atom)))
                                       : *data;

    // Clients from before ICCCM 2 name no property: the target's name is the property's.
    const Atom property = request.property ? request.property : request.target;
    // A property too large for one request is refused rather than sent in pieces.
    const quint64 limit = quint64(xcb_get_maximum_request_length(m_connection)) * 4 - 32;
    const bool fits = offered && quint64(bytes.size()) <= limit;
    if (fits)
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, request.requestor, property,
                            listing ? Atom(XCB_ATOM_ATOM) : request.target, listing ? 32 : 8,
                            quint32(listing ? types.size() : bytes.size()), bytes.constData());

    xcb_selection_notify_event_t notify = {};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = fits ? property : Atom(XCB_NONE);
    XcbRequests::send(m_connection, request.requestor, notify);

    // The drag watcher's own look at the contents is no delivery, nor is a look at the types.
    if (fits && !listing && property != m_watcherProperty) {
        m_read = true;
        decide();
    }
    return true;
}

void X11DragDelivery::targetSaid(const xcb_client_message_event_t &message) {
    if (message.format != 32) return;
    const quint32 *l = message.data.data32;
    if (message.type == m_xdndStatus) {
        m_target = l[0];
    } else if (message.type == m_xdndFinished && l[0] == m_target) {
        // Before version 5 XdndFinished carries no verdict: it follows a drop the target accepted.
        m_finished = targetVersion() < firstVersionWithVerdict || (l[1] & 1);
        decide();
    }
}

void X11DragDelivery::decide() {
    if (!m_settled) return;
    if (m_finished.has_value())
        settle(*m_finished && m_read);
    else if (m_read && targetVersion() < firstVersionWithFinished)
        settle(true);
}

void X11DragDelivery::settle(bool delivered) {
    m_timeout.stop();
    if (std::function<void(bool)> settled = std::exchange(m_settled, {})) settled(delivered);
}

// The version the target speaks with us: the lower of its own (XdndAware, on the target or on the
// proxy it names) and ours. A target that says nothing is taken to speak ours.
int X11DragDelivery::targetVersion() {
    if (!m_target) return sourceVersion;
    quint32 version = 0;
    Window aware = m_target;
    if (quint32 proxy = 0; readProperty(m_target, m_xdndProxy, XCB_ATOM_WINDOW, &proxy) && proxy)
        aware = proxy;
    if (!readProperty(aware, m_xdndAware, XCB_ATOM_ATOM, &version)) return sourceVersion;
    return std::min<int>(int(version), sourceVersion);
}

bool X11DragDelivery::readProperty(Window window, Atom property, Atom type, quint32 *value) {
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, false, window, property, type, 0, 1), nullptr);
    const bool found = reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4;
    if (found) *value = *static_cast<const quint32 *>(xcb_get_property_value(reply));
    std::free(reply);
    return found;
}

DragDelivery &DragDelivery::system() {
    static DragDelivery *delivery = []() -> DragDelivery * {
        auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (x11 && x11->connection() && QGuiApplication::platformName() == QLatin1String("xcb"))
            return new X11DragDelivery(x11->connection());
        return new AcceptedIsDelivered;
    }();
    return *delivery;
}
