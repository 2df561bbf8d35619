#include "Files/ThumbnailerService.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>

namespace {
const QString service = QStringLiteral("org.freedesktop.thumbnails.Thumbnailer1");
const QString objectPath = QStringLiteral("/org/freedesktop/thumbnails/Thumbnailer1");
const QString interface = QStringLiteral("org.freedesktop.thumbnails.Thumbnailer1");
} // namespace

ThumbnailerService &ThumbnailerService::shared() {
    static ThumbnailerService instance;
    return instance;
}

ThumbnailerService::ThumbnailerService() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(service, objectPath, interface, QStringLiteral("Ready"), this,
                SLOT(ready(uint, QStringList)));
    bus.connect(service, objectPath, interface, QStringLiteral("Error"), this,
                SLOT(error(uint, QStringList, int, QString)));
    bus.connect(service, objectPath, interface, QStringLiteral("Finished"), this, SLOT(finished(uint)));
}

void ThumbnailerService::request(const QByteArray &uri, const QString &mimeType, const QString &flavour) {
    const Request request{uri, mimeType, flavour};
    switch (m_availability) {
    case Availability::unknown:
        m_waiting.append(request);
        askSupported();
        break;
    case Availability::asking:
        m_waiting.append(request);
        break;
    case Availability::available:
        send(request);
        break;
    case Availability::absent:
        QTimer::singleShot(0, this, [this, uri] { emit notMade(uri); });
        break;
    }
}

// The bus starts the service if it can; one that is neither running nor startable answers with an
// error, and the program goes on without it for a minute before asking again.
void ThumbnailerService::askSupported() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) { // no session bus at all
        m_availability = Availability::absent;
        for (const Request &request : std::exchange(m_waiting, {}))
            this->request(request.uri, request.mimeType, request.flavour);
        return;
    }
    m_availability = Availability::asking;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(service, objectPath, interface, QStringLiteral("GetSupported"));
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 10000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QStringList, QStringList> reply = *watcher;
        m_mimeTypes.clear();
        if (reply.isValid()) {
            const QStringList schemes = reply.argumentAt<0>(), types = reply.argumentAt<1>();
            for (qsizetype i = 0; i < qMin(schemes.size(), types.size()); ++i)
                if (schemes.at(i) == QLatin1String("file")) m_mimeTypes.insert(types.at(i));
        }
        m_availability = reply.isValid() ? Availability::available : Availability::absent;
        if (!reply.isValid())
            QTimer::singleShot(60000, this, [this] {
                if (m_availability == Availability::absent) m_availability = Availability::unknown;
            });
        for (const Request &request : std::exchange(m_waiting, {}))
            this->request(request.uri, request.mimeType, request.flavour);
    });
}

void ThumbnailerService::send(const Request &request) {
    const QByteArray uri = request.uri;
    if (!m_mimeTypes.contains(request.mimeType)) {
        QTimer::singleShot(0, this, [this, uri] { emit notMade(uri); });
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, objectPath, interface, QStringLiteral("Queue"));
    call << QStringList{QString::fromUtf8(uri)} << QStringList{request.mimeType} << request.flavour
         << QStringLiteral("default") << uint(0);
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 10000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, uri] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isValid())
            m_queued[reply.value()].insert(uri);
        else
            emit notMade(uri);
    });
}

void ThumbnailerService::ready(uint handle, const QStringList &uris) {
    settle(handle, uris, true);
}

void ThumbnailerService::error(uint handle, const QStringList &uris, int, const QString &) {
    settle(handle, uris, false);
}

// What the service never answered for counts as not made.
void ThumbnailerService::finished(uint handle) {
    for (const QByteArray &uri : m_queued.take(handle))
        emit notMade(uri);
}

void ThumbnailerService::settle(uint handle, const QStringList &uris, bool made) {
    const auto queued = m_queued.find(handle);
    if (queued == m_queued.end()) return;
    for (const QString &text : uris) {
        const QByteArray uri = text.toUtf8();
        if (!queued->remove(uri)) continue;
        if (made)
            emit this->made(uri);
        else
            emit notMade(uri);
    }
}
