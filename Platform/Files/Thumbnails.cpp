#include "Files/Thumbnails.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <sys/stat.h>

namespace {

const QString uriKey = QStringLiteral("Thumb::URI");
const QString mtimeKey = QStringLiteral("Thumb::MTime");

// Each folder of the cache is the user's alone.
bool makePrivateFolders(const QString &folder) {
    const QString root = Thumbnails::cacheFolder();
    if (!QDir().mkpath(QFileInfo(root).absolutePath())) return false;
    QString path = root;
    const QStringList below = QDir(root).relativeFilePath(folder).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype i = -1; i < below.size(); ++i) {
        if (i >= 0) path += QLatin1Char('/') + below.at(i);
        if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && !QFileInfo(path).isDir()) return false;
    }
    return true;
}

// Written under another name and renamed over the old file, so a reader never sees half of it.
bool writeAtomically(const QString &path, const QImage &image) {
    if (!makePrivateFolders(QFileInfo(path).path())) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    QImageWriter writer(&file, "png");
    return writer.write(image) && file.commit();
}

QImage tagged(QImage image, const Thumbnails::Source &source) {
    image.setText(uriKey, QString::fromUtf8(source.uri));
    image.setText(mtimeKey, QString::number(source.mtime));
    image.setText(QStringLiteral("Thumb::Size"), QString::number(source.size));
    if (!source.mimeType.isEmpty()) image.setText(QStringLiteral("Thumb::Mimetype"), source.mimeType);
    image.setText(QStringLiteral("Software"), QStringLiteral("Stowbay"));
    return image;
}

bool showsSource(const QImage &image, const Thumbnails::Source &source) {
    // Some thumbnailers write the time with a fraction of a second; the whole seconds count.
    return !image.isNull() && image.text(uriKey).toUtf8() == source.uri &&
           image.text(mtimeKey).section(QLatin1Char('.'), 0, 0) == QString::number(source.mtime);
}

QByteArray md5Name(const QByteArray &uri) {
    return QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex() + ".png";
}

} // namespace

namespace Thumbnails {

int pixels(Flavour flavour) {
    return flavour == Flavour::large ? 256 : 128;
}

QString name(Flavour flavour) {
    return flavour == Flavour::large ? QStringLiteral("large") : QStringLiteral("normal");
}

Flavour flavourFor(int logicalSize, qreal devicePixelRatio) {
    return logicalSize * devicePixelRatio > pixels(Flavour::normal) ? Flavour::large : Flavour::normal;
}

QString cacheFolder() {
    QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty()) cache = QDir::homePath() + QStringLiteral("/.cache");
    return cache + QStringLiteral("/thumbnails");
}

QString thumbnailPath(const QByteArray &uri, Flavour flavour) {
    return cacheFolder() + QLatin1Char('/') + name(flavour) + QLatin1Char('/') +
           QString::fromLatin1(md5Name(uri));
}

QString failurePath(const QByteArray &uri) {
    QString version = QCoreApplication::applicationVersion();
    if (version.isEmpty()) version = QStringLiteral("0");
    return cacheFolder() + QStringLiteral("/fail/stowbay-") + version + QLatin1Char('/') +
           QString::fromLatin1(md5Name(uri));
}

std::optional<Source> source(const QString &path, const QString &mimeType) {
    const QFileInfo info(path);
    if (!info.isFile() || info.absoluteFilePath().startsWith(cacheFolder() + QLatin1Char('/')))
        return std::nullopt;
    return Source{path, QUrl::fromLocalFile(path).toEncoded(), info.lastModified().toSecsSinceEpoch(),
                  info.size(), mimeType};
}

QImage cached(const Source &source, Flavour flavour) {
    QImage image(thumbnailPath(source.uri, flavour), "png");
    return showsSource(image, source) ? image : QImage();
}

bool failedBefore(const Source &source) {
    return showsSource(QImage(failurePath(source.uri), "png"), source);
}

bool canMake(const QString &mimeType) {
    static const QList<QByteArray> readable = QImageReader::supportedMimeTypes();
    return readable.contains(mimeType.toLatin1());
}

QImage make(const Source &source, Flavour flavour) {
    QImageReader reader(source.path);
    reader.setAutoTransform(true);
    QSize size = reader.size();
    const int most = pixels(flavour);
    if (size.isValid() && (size.width() > most || size.height() > most) &&
        reader.supportsOption(QImageIOHandler::ScaledSize)) {
        size.scale(most, most, Qt::KeepAspectRatio);
        reader.setScaledSize(size.expandedTo({1, 1})); // a big photo is decoded small, not whole
    }
    QImage image = reader.read();
    if (image.isNull()) {
        QImage marker(1, 1, QImage::Format_ARGB32);
        marker.fill(Qt::transparent);
        writeAtomically(failurePath(source.uri), tagged(marker, source));
        return {};
    }
    // Palette and one-bit images keep their colours through the scaling.
    image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.width() > most || image.height() > most)
        image = image.scaled(most, most, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    image = tagged(std::move(image), source);
    writeAtomically(thumbnailPath(source.uri, flavour), image);
    return image;
}

} // namespace Thumbnails
