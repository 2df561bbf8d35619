// Thumbnails in the desktop's shared cache ($XDG_CACHE_HOME/thumbnails), kept the way file
// managers and image viewers keep them: a PNG named by the MD5 of the file's URI, which carries
// the URI and the modification time of the file it shows, so a changed file's thumbnail is known
// to be stale. A file that could not be made into one is recorded under fail/ and not tried again
// until it changes. Every function reads or writes files: call them off the main thread.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>

namespace Thumbnails {

// The "normal" flavour is at most 128 pixels on its longer side, "large" 256.
enum class Flavour { normal, large };
int pixels(Flavour flavour);
QString name(Flavour flavour);
// The smallest flavour that is sharp for an image of `logicalSize` at `devicePixelRatio`.
Flavour flavourFor(int logicalSize, qreal devicePixelRatio);

// The file a thumbnail shows, as the cache names it.
struct Source {
    QString path;
    QByteArray uri;
    qint64 mtime = 0; // seconds since the epoch
    qint64 size = 0;
    QString mimeType;
};
// nullopt for anything but a regular file, and for files inside the cache itself.
std::optional<Source> source(const QString &path, const QString &mimeType);

QString cacheFolder();
QString thumbnailPath(const QByteArray &uri, Flavour flavour);
QString failurePath(const QByteArray &uri);

// The cached thumbnail when it shows the file as it is now; a null image otherwise.
QImage cached(const Source &source, Flavour flavour);
// Whether making one failed for the file as it is now.
bool failedBefore(const Source &source);

// Whether the image formats Qt reads cover files of this type.
bool canMake(const QString &mimeType);
// Reads the file (decoded at the size it is needed, not whole), writes its thumbnail into the
// cache and returns it. When the file cannot be decoded, records the failure and returns a null
// image.
QImage make(const Source &source, Flavour flavour);

} // namespace Thumbnails
