// The pictures of the held files, for their rows and the images their drags carry: a file's
// thumbnail when it has one, its icon otherwise, remembered so that a row can be redrawn often
// without asking the icon theme each time. What a file is and what its thumbnail looks like are
// found out on threads of their own, one set per file system: a file on a share that stopped
// answering holds up neither the panel nor the other rows. Until then a row shows the plain
// document icon, and pictureReady() says when to draw again. Thumbnails come from the desktop's
// shared cache; a file without a valid one is handed to the desktop's thumbnailer service, or, for
// images, made here and written into the cache for every program to use. Main thread only.
#pragma once

#include <QHash>
#include <QIcon>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <memory>
#include <optional>

class MountLanes;

class IconCache : public QObject {
    Q_OBJECT
public:
    static constexpr int iconSize = 32; // logical pixels, as rows draw it

    static IconCache &shared();

    // The file's own icon when it exists and is known; one plain document icon for every missing
    // file, and for a file whose kind is still being found out. Never null as long as the theme or
    // the style has a file icon. Entries are kept under "path|1" / "path|0".
    static QIcon icon(const QString &path, bool exists);
    // The file's thumbnail, at most iconSize logical pixels on its longer side, sharp at
    // `devicePixelRatio`; a null image while none is known (the icon stands in).
    static QImage thumbnail(const QString &path, qreal devicePixelRatio);
    // The file may have changed: what it shows is found out again, and stays until then.
    void recheck(const QString &path);

signals:
    void pictureReady(const QString &path);

private:
    struct Source;
    struct Found;

    IconCache();
    ~IconCache() override;
    QIcon lookUp(const QString &path, bool exists);
    void examine(const QString &path, qreal devicePixelRatio);
    void found(const Found &result);
    void askService(const QByteArray &uri);
    void makeHere(const QByteArray &uri);
    void thumbnailDone(const QString &path, const QImage &image);

    QHash<QString, QIcon> m_icons;
    QHash<QString, QImage> m_thumbnails;                 // by path, ready to draw
    QSet<QString> m_asking;                              // paths being examined
    QHash<QByteArray, std::shared_ptr<Source>> m_making; // by URI: thumbnails on their way
    qreal m_devicePixelRatio = 1;
    std::unique_ptr<MountLanes> m_lanes;
};
