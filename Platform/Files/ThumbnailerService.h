// The desktop's thumbnailer service on the session bus (org.freedesktop.thumbnails.Thumbnailer1),
// which makes thumbnails of documents, videos, fonts and more into the shared cache. Asked only
// when a file has no valid thumbnail; every call is asynchronous. Main thread.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class ThumbnailerService : public QObject {
    Q_OBJECT
public:
    static ThumbnailerService &shared();

    // Asks for the thumbnail of `uri` (a file of type `mimeType`) in the flavour named. Either
    // made(uri) or notMade(uri) follows, later; notMade at once when no service answers on the
    // bus or it does not know the type.
    void request(const QByteArray &uri, const QString &mimeType, const QString &flavour);

signals:
    void made(const QByteArray &uri);
    void notMade(const QByteArray &uri);

private slots:
    void ready(uint handle, const QStringList &uris);
    void error(uint handle, const QStringList &uris, int code, const QString &message);
    void finished(uint handle);

private:
    struct Request {
        QByteArray uri;
        QString mimeType;
        QString flavour;
    };
    enum class Availability { unknown, asking, available, absent };

    ThumbnailerService();
    void askSupported();
    void send(const Request &request);
    void settle(uint handle, const QStringList &uris, bool made);

    Availability m_availability = Availability::unknown;
    QSet<QString> m_mimeTypes;              // what the service knows for local files
    QList<Request> m_waiting;               // until the service said what it knows
    QHash<uint, QSet<QByteArray>> m_queued; // by the service's handle: URIs not answered yet
};
