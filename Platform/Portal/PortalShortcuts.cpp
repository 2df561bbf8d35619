#include "Portal/PortalShortcuts.h"

#include "Input/KeyCodes.h"
#include "Session/DesktopSession.h"
#include "X11/X11HotKeys.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace {
const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString registryInterface = QStringLiteral("org.freedesktop.host.portal.Registry");
// The one shortcut the program asks for.
const QString shortcutId = QStringLiteral("toggle");

// A response from a request object, handed to a function; it goes when it has answered.
class PortalRequest : public QObject {
    Q_OBJECT
public:
    explicit PortalRequest(std::function<void(uint, const QVariantMap &)> answer, QObject *parent)
        : QObject(parent), m_answer(std::move(answer)) {}
public slots:
    void response(uint code, const QVariantMap &results) {
        if (m_answered) return;
        m_answered = true;
        m_answer(code, results);
        deleteLater();
    }

private:
    std::function<void(uint, const QVariantMap &)> m_answer;
    bool m_answered = false;
};

QString handleOf(const QVariant &value) {
    // Sent as a string by the interface's first version, as an object path by some services.
    return value.userType() == qMetaTypeId<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path()
                                                              : value.toString();
}

// Whether the desktop opens its keyboard settings at every bind (KDE Plasma before 6.4), from
// KWin's support information and the session's KDE_SESSION_VERSION.
bool asksAtEveryBind(const QString &kwinInformation, const QString &sessionVersion) {
    static const QRegularExpression line(QStringLiteral("KWin version: (\\d+)\\.(\\d+)"));
    const QRegularExpressionMatch version = line.match(kwinInformation);
    if (version.hasMatch()) {
        const int major = version.captured(1).toInt(), minor = version.captured(2).toInt();
        return major < 6 || (major == 6 && minor < 4);
    }
    // KWin did not say: a Plasma 5 session says so itself; a later one is taken for a recent one,
    // whose shortcut would be dead if it were never bound.
    bool number = false;
    const int session = sessionVersion.toInt(&number);
    return number && session < 6;
}
} // namespace

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

PortalShortcuts::PortalShortcuts(GlobalHotKeys &fallback, const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_fallback(fallback), m_bus(bus) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcutList>();
    if (!m_bus.isConnected()) {
        m_service = Service::absent;
        return;
    }
    m_bus.connect(service, desktopPath, shortcutsInterface, QStringLiteral("Activated"), this,
                  SLOT(activated(QDBusMessage)));
    m_bus.connect(service, desktopPath, shortcutsInterface, QStringLiteral("ShortcutsChanged"), this,
                  SLOT(shortcutsChanged(QDBusMessage)));
    // A portal outside a sandbox tells programs apart only by the id they give first, on the
    // connection they then use, before any other call: a newer one refuses a shortcut session to a
    // program without one. An older portal has no such registry, and then this call fails. The id
    // is the name of the menu entry the program is installed as.
    QDBusMessage registration =
        QDBusMessage::createMethodCall(service, desktopPath, registryInterface, QStringLiteral("Register"));
    registration << QGuiApplication::desktopFileName() << QVariantMap();
    auto *registered = new QDBusPendingCallWatcher(m_bus.asyncCall(registration), this);
    connect(registered, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        askVersion();
    });
}

void PortalShortcuts::askVersion() {
    // Whether the desktop offers the service at all: a desktop may start its portal on the first
    // call, so the answer comes later.
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, desktopPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << shortcutsInterface << QStringLiteral("version");
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        const QDBusPendingReply<QDBusVariant> reply = *call;
        call->deleteLater();
        m_version = reply.isError() ? 0 : reply.value().variant().toUInt();
        if (m_version < 1 || DesktopSession::current().compositor != DesktopSession::Compositor::kwin) {
            serviceAnswered(m_version >= 1);
            return;
        }
        // KDE Plasma before 6.4 opens its keyboard settings at every bind: there the shortcut is
        // bound only when the desktop does not hold it yet. KWin's version is Plasma's.
        QDBusMessage info = QDBusMessage::createMethodCall(
            QStringLiteral("org.kde.KWin"), QStringLiteral("/KWin"), QStringLiteral("org.kde.KWin"),
            QStringLiteral("supportInformation"));
        auto *asked = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(info), this);
        connect(asked, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *kwin) {
            const QDBusPendingReply<QString> text = *kwin;
            kwin->deleteLater();
            m_listFirst = asksAtEveryBind(text.isError() ? QString() : text.value(),
                                          qEnvironmentVariable("KDE_SESSION_VERSION"));
            serviceAnswered(true);
        });
    });
}

PortalShortcuts::~PortalShortcuts() {
    closeSession();
}

bool PortalShortcuts::installPressHandler(std::function<void()> onPress) {
    m_onPress = onPress;
    return m_fallback.installPressHandler(std::move(onPress)) || m_service != Service::absent;
}

std::optional<GlobalHotKeys::Ref> PortalShortcuts::registerHotKey(quint32 keyCode, quint32 modifiers) {
    ++m_ref;
    m_wanted = {keyCode, modifiers};
    // Until the service has it, the combination is held on the X server.
    holdOnServer();
    if (m_service == Service::offered) openSession();
    if (m_service == Service::absent && !m_serverRef) {
        m_wanted.reset();
        return std::nullopt;
    }
    return m_ref;
}

void PortalShortcuts::unregisterHotKey(Ref ref) {
    if (ref != m_ref || !m_wanted) return;
    m_wanted.reset();
    releaseServerHold();
    closeSession();
    if (!m_trigger.isEmpty()) {
        m_trigger.clear();
        changed();
    }
}

QString PortalShortcuts::preferredTrigger(quint32 keyCode, quint32 modifiers) {
    QStringList parts;
    if (modifiers & 0x1000) parts << QStringLiteral("CTRL");
    if (modifiers & 0x800) parts << QStringLiteral("ALT");
    if (modifiers & 0x200) parts << QStringLiteral("SHIFT");
    if (modifiers & 0x100) parts << QStringLiteral("LOGO");
    const QString key = KeyCodes::keysymName(keyCode);
    if (key.isEmpty()) return {};
    parts << key;
    return parts.join(QLatin1Char('+'));
}

QString PortalShortcuts::readableTrigger(const QString &description) {
    static const QRegularExpression accelerator(QStringLiteral("((?:<\\w+>)+)(\\S+)")),
        preferred(QStringLiteral("^((?:(?:CTRL|ALT|SHIFT|LOGO)\\+)+)(\\S+)$"));
    QStringList modifiers;
    QString key;
    if (const QRegularExpressionMatch m = accelerator.match(description); m.hasMatch()) {
        modifiers = m.captured(1).mid(1).chopped(1).split(QStringLiteral("><"));
        key = m.captured(2);
    } else if (const QRegularExpressionMatch m = preferred.match(description); m.hasMatch()) {
        modifiers = m.captured(1).chopped(1).split(QLatin1Char('+'));
        key = m.captured(2);
    } else {
        return description;
    }
    static const QList<std::pair<QStringList, QString>> names{
        {{QStringLiteral("control"), QStringLiteral("primary"), QStringLiteral("ctrl")},
         QStringLiteral("Ctrl")},
        {{QStringLiteral("alt"), QStringLiteral("mod1")}, QStringLiteral("Alt")},
        {{QStringLiteral("shift")}, QStringLiteral("Shift")},
        {{QStringLiteral("super"), QStringLiteral("logo"), QStringLiteral("meta"), QStringLiteral("mod4")},
         QStringLiteral("Super")}};
    QStringList parts;
    for (const auto &[words, name] : names)
        if (std::any_of(modifiers.begin(), modifiers.end(),
                        [&](const QString &m) { return words.contains(m.toLower()); }))
            parts << name;
    parts << (key.size() == 1 ? key.toUpper() : key);
    return parts.join(QLatin1Char('+'));
}

void PortalShortcuts::serviceAnswered(bool offered) {
    m_service = offered ? Service::offered : Service::absent;
    if (offered && m_wanted) openSession();
    changed();
}

void PortalShortcuts::openSession() {
    // One session opens at a time: the answer to it opens the next, for the latest combination.
    if (m_opening) return;
    closeSession();
    const std::pair<quint32, quint32> combination = *m_wanted;
    // The session is named after the combination: the desktop keeps what the user makes of the
    // shortcut across restarts, and a newly recorded combination starts afresh.
    const QString token = QStringLiteral("stowbay_%1_%2").arg(combination.first).arg(combination.second);
    QVariantMap options{{QStringLiteral("session_handle_token"), token},
                        // Some services register the shortcuts given here, and then bind none of
                        // those given to BindShortcuts.
                        {QStringLiteral("shortcuts"), QVariant::fromValue(shortcutList())}};
    m_opening = true;
    request(QStringLiteral("CreateSession"), {}, options,
            [this, combination](uint code, const QVariantMap &results) {
                m_opening = false;
                const QString handle =
                    code == 0 ? handleOf(results.value(QStringLiteral("session_handle"))) : QString();
                if (m_wanted != combination) {
                    // Opened for a combination given up meanwhile.
                    if (!handle.isEmpty()) close(handle);
                    if (m_wanted) openSession();
                    return;
                }
                m_session = handle;
                m_bindAsked = false;
                if (m_session.isEmpty()) {
                    // Refused, and the hold on the X server stays. A failure may be the desktop's
                    // shortcut service not being up yet, as for a program started with the
                    // session: asked again, a few times, later each time. A user's no is final.
                    if (code != 1 && m_failedOpens < 5)
                        QTimer::singleShot(1000 << m_failedOpens++, this, [this] {
                            if (m_wanted && m_session.isEmpty() && !m_opening) openSession();
                        });
                    return;
                }
                m_failedOpens = 0;
                m_bus.connect(service, m_session, sessionInterface, QStringLiteral("Closed"), this,
                              SLOT(sessionClosed()));
                if (m_version >= 2) changed(); // the desktop's dialog has a session to show
                // Binding at every start keeps the shortcut alive where the desktop makes it active
                // only when bound, and asks nothing for a shortcut it already holds. Where binding
                // opens its settings every time, a desktop that holds the shortcut is not asked.
                if (!m_listFirst) {
                    bindShortcut();
                    return;
                }
                request(QStringLiteral("ListShortcuts"), {QDBusObjectPath(m_session)}, {},
                        [this, handle](uint listed, const QVariantMap &list) {
                            if (m_session != handle) return;
                            if (listed != 0 || !bound(qdbus_cast<PortalShortcutList>(
                                                   list.value(QStringLiteral("shortcuts")))))
                                bindShortcut();
                        });
            });
}

void PortalShortcuts::bindShortcut() {
    // A session takes one bind: desktops refuse a second one.
    if (m_bindAsked) return;
    m_bindAsked = true;
    const QString handle = m_session;
    request(QStringLiteral("BindShortcuts"),
            {QDBusObjectPath(handle), QVariant::fromValue(shortcutList()), QString()}, {},
            [this, handle](uint, const QVariantMap &results) {
                // The shortcuts the answer lists are bound, whatever its code: GNOME 48 answers a
                // bind the user accepted with 2 ("other") and the bound list. A refusal lists none.
                if (m_session != handle) return;
                bound(qdbus_cast<PortalShortcutList>(results.value(QStringLiteral("shortcuts"))));
            });
}

bool PortalShortcuts::bound(const PortalShortcutList &shortcuts) {
    for (const PortalShortcut &s : shortcuts) {
        if (s.id != shortcutId) continue;
        // The desktop has it now: holding it on the X server too would take it from programs
        // there while the desktop may have given it other keys.
        releaseServerHold();
        m_trigger = s.properties.value(QStringLiteral("trigger_description")).toString();
        if (m_trigger.isEmpty())
            m_trigger = s.properties.value(QStringLiteral("preferred_trigger")).toString();
        m_trigger = readableTrigger(m_trigger);
        changed();
        return true;
    }
    return false;
}

void PortalShortcuts::configureOnDesktop() {
    if (!configuresOnDesktop()) return;
    m_bus.asyncCall(QDBusMessage::createMethodCall(service, desktopPath, shortcutsInterface,
                                                   QStringLiteral("ConfigureShortcuts"))
                    << QVariant::fromValue(QDBusObjectPath(m_session)) << QString() << QVariantMap());
}

void PortalShortcuts::closeSession() {
    if (m_session.isEmpty()) return;
    m_bus.disconnect(service, m_session, sessionInterface, QStringLiteral("Closed"), this,
                     SLOT(sessionClosed()));
    close(std::exchange(m_session, QString()));
}

void PortalShortcuts::close(const QString &handle) {
    m_bus.asyncCall(
        QDBusMessage::createMethodCall(service, handle, sessionInterface, QStringLiteral("Close")));
}

void PortalShortcuts::sessionClosed() {
    // The desktop ended the session (its portal restarted, say): the X server holds it again.
    m_session.clear();
    m_trigger.clear();
    holdOnServer();
    changed();
}

void PortalShortcuts::holdOnServer() {
    releaseServerHold();
    if (m_wanted) m_serverRef = m_fallback.registerHotKey(m_wanted->first, m_wanted->second);
}

void PortalShortcuts::releaseServerHold() {
    if (m_serverRef) m_fallback.unregisterHotKey(*m_serverRef);
    m_serverRef.reset();
}

void PortalShortcuts::activated(const QDBusMessage &signal) {
    const QVariantList arguments = signal.arguments();
    if (arguments.size() < 2 || m_session.isEmpty()) return;
    if (handleOf(arguments[0]) == m_session && arguments[1].toString() == shortcutId && m_onPress)
        m_onPress();
}

void PortalShortcuts::shortcutsChanged(const QDBusMessage &signal) {
    // The user gave the shortcut other keys in the desktop's settings.
    const QVariantList arguments = signal.arguments();
    if (arguments.size() >= 2 && !m_session.isEmpty() && handleOf(arguments[0]) == m_session)
        bound(qdbus_cast<PortalShortcutList>(arguments[1]));
}

void PortalShortcuts::request(const QString &method, QVariantList arguments, QVariantMap options,
                              Answer answer) {
    // The answer comes as a signal of a request object whose path is known before the call:
    // listening first leaves no moment in which it could be missed.
    const QString token = QStringLiteral("stowbay%1").arg(++m_requests);
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    auto *pending = new PortalRequest(std::move(answer), this);
    m_bus.connect(service, path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                  pending, SLOT(response(uint, QVariantMap)));
    options.insert(QStringLiteral("handle_token"), token);
    QDBusMessage call = QDBusMessage::createMethodCall(service, desktopPath, shortcutsInterface, method);
    arguments << options;
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), pending);
    connect(watcher, &QDBusPendingCallWatcher::finished, pending, [pending](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (w->isError()) pending->response(2, {});
    });
}

PortalShortcutList PortalShortcuts::shortcutList() const {
    if (!m_wanted) return {};
    return {{shortcutId,
             {{QStringLiteral("description"), QStringLiteral("Show or hide Stowbay")},
              {QStringLiteral("preferred_trigger"), preferredTrigger(m_wanted->first, m_wanted->second)}}}};
}

void PortalShortcuts::changed() {
    if (m_onChange) m_onChange();
}

GlobalHotKeys &GlobalHotKeys::system() {
    // In a Wayland session the desktop's shortcut service, where it offers one; on X11 the X
    // server alone.
    static GlobalHotKeys *hotKeys = []() -> GlobalHotKeys * {
        auto *server = new X11HotKeys;
        if (!DesktopSession::current().isWayland()) return server;
        // A connection of its own: the id given to the portal must come before any other call to
        // it, and Qt may ask the portal for other things on the shared connection.
        return new PortalShortcuts(*server, QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                                          QStringLiteral("stowbay-portal")));
    }();
    return *hotKeys;
}

#include "PortalShortcuts.moc"
