// The global key combination through the desktop's shortcut service
// (org.freedesktop.portal.GlobalShortcuts), for Wayland sessions, where keys reach an X11 program
// only while one of its windows has the keyboard. The combination is held on the X server
// (`fallback`) until the service has bound it, and for good where no service answers.
#pragma once

#include "Input/GlobalHotKeys.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>
#include <utility>

// One entry of the service's shortcut lists: an id and its properties ("description",
// "preferred_trigger", "trigger_description").
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
using PortalShortcutList = QList<PortalShortcut>;
Q_DECLARE_METATYPE(PortalShortcut)

class PortalShortcuts : public QObject, public GlobalHotKeys {
    Q_OBJECT
public:
    PortalShortcuts(GlobalHotKeys &fallback, const QDBusConnection &bus, QObject *parent = nullptr);
    ~PortalShortcuts() override;

    bool installPressHandler(std::function<void()> onPress) override;
    std::optional<Ref> registerHotKey(quint32 keyCode, quint32 modifiers) override;
    void unregisterHotKey(Ref ref) override;
    QString desktopTrigger() const override { return m_trigger; }
    bool reachesEveryWindow() const override { return m_service != Service::absent; }
    void installChangeHandler(std::function<void()> onChange) override { m_onChange = std::move(onChange); }
    bool configuresOnDesktop() const override { return m_version >= 2 && !m_session.isEmpty(); }
    void configureOnDesktop() override;

    // The service's words for a combination, as it takes a preferred trigger: "CTRL+ALT+s".
    static QString preferredTrigger(quint32 keyCode, quint32 modifiers);
    // A description of the keys as people read them: GNOME describes them in GTK's accelerator
    // words ("Press <Control><Alt>s"), a service that only echoes the preferred trigger in its
    // own ("CTRL+ALT+s"); both become "Ctrl+Alt+S". Other descriptions stay as they are.
    static QString readableTrigger(const QString &description);

private slots:
    void activated(const QDBusMessage &signal);
    void shortcutsChanged(const QDBusMessage &signal);
    void sessionClosed();

private:
    enum class Service { unknown, offered, absent };
    using Answer = std::function<void(uint response, const QVariantMap &results)>;

    void askVersion();
    void serviceAnswered(bool offered);
    void openSession();
    void bindShortcut();
    // Takes the shortcut's keys from the service's list; false when the list lacks it.
    bool bound(const PortalShortcutList &shortcuts);
    void closeSession();
    void close(const QString &sessionHandle);
    void holdOnServer();
    void releaseServerHold();
    // Calls a method of the service that answers through a request object, `answer` then gets
    // the response (2, "other", when the call itself fails).
    void request(const QString &method, QVariantList arguments, QVariantMap options, Answer answer);
    PortalShortcutList shortcutList() const;
    void changed();

    GlobalHotKeys &m_fallback;
    QDBusConnection m_bus;
    Service m_service = Service::unknown;
    std::function<void()> m_onPress, m_onChange;
    // The combination registered (key code and modifiers), and what stands for it.
    std::optional<std::pair<quint32, quint32>> m_wanted;
    std::optional<Ref> m_serverRef;
    QString m_session; // the open session's handle
    QString m_trigger;
    Ref m_ref = 0;            // the latest registration
    bool m_opening = false;   // a session is being opened
    int m_failedOpens = 0;    // in a row: each is tried again later, a few times
    bool m_bindAsked = false; // the open session has been asked to bind: it takes that once
    bool m_listFirst = false; // bound only when the desktop's list lacks the shortcut
    uint m_version = 0;       // of the service's interface; from 2 it opens the desktop's own dialog
    int m_requests = 0;
};
