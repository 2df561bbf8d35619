#include "Items/IconCache.h"

#include "Files/MountLanes.h"
#include "Files/ThumbnailerService.h"
#include "Files/Thumbnails.h"
#include "Files/Workspace.h"

#include <QMimeDatabase>
#include <QThread>
#include <QUrl>

// A file whose thumbnail is on its way, and the ratio it is drawn at.
struct IconCache::Source {
    Thumbnails::Source file;
    Thumbnails::Flavour flavour = Thumbnails::Flavour::normal;
    qreal devicePixelRatio = 1;
};

// What a file turned out to be, on the main thread.
struct IconCache::Found {
    QString path;
    QStringList iconNames;
    std::optional<Source> source; // a file a thumbnail can show
    QImage thumbnail;             // valid, ready to draw
    bool failedBefore = false;
};

namespace {

// Scaled to the row, on the thread that read it, so drawing never scales.
QImage forRow(const QImage &thumbnail, qreal devicePixelRatio) {
    if (thumbnail.isNull()) return {};
    const int most = qRound(IconCache::iconSize * devicePixelRatio);
    QImage image = thumbnail.width() > most || thumbnail.height() > most
                       ? thumbnail.scaled(most, most, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                       : thumbnail;
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

} // namespace

IconCache::IconCache()
    : m_lanes(std::make_unique<MountLanes>(QStringLiteral("stowbay.icons"), QThread::idealThreadCount())) {
    ThumbnailerService &service = ThumbnailerService::shared();
    connect(&service, &ThumbnailerService::made, this, [this](const QByteArray &uri) {
        const std::shared_ptr<Source> source = m_making.value(uri);
        if (!source) return;
        m_lanes->run(m_lanes->mountOf(source->file.path), [this, source] {
            const QImage image =
                forRow(Thumbnails::cached(source->file, source->flavour), source->devicePixelRatio);
            QMetaObject::invokeMethod(this, [this, source, image] {
                if (image.isNull())
                    makeHere(source->file.uri); // the service said made, but nothing valid is there
                else
                    thumbnailDone(source->file.path, image);
            });
        });
    });
    connect(&service, &ThumbnailerService::notMade, this, &IconCache::makeHere);
}

IconCache::~IconCache() = default;

// Never destroyed: a lane stuck on a file system that stopped answering cannot be joined.
IconCache &IconCache::shared() {
    static IconCache *cache = new IconCache;
    return *cache;
}

QIcon IconCache::icon(const QString &path, bool exists) {
    return shared().lookUp(path, exists);
}

QImage IconCache::thumbnail(const QString &path, qreal devicePixelRatio) {
    IconCache &cache = shared();
    cache.m_devicePixelRatio = devicePixelRatio;
    return cache.m_thumbnails.value(path);
}

QIcon IconCache::lookUp(const QString &path, bool exists) {
    Workspace &workspace = Workspace::shared();
    const QString key = path + (exists ? QStringLiteral("|1") : QStringLiteral("|0"));
    if (const auto found = m_icons.constFind(key); found != m_icons.constEnd()) return *found;
    if (!exists) return *m_icons.insert(key, workspace.genericDocumentIcon());
    examine(path, m_devicePixelRatio);
    return workspace.genericDocumentIcon();
}

void IconCache::recheck(const QString &path) {
    if (m_icons.contains(path + QStringLiteral("|1"))) examine(path, m_devicePixelRatio);
}

// Off the main thread: the file's kind, and a valid thumbnail from the shared cache if there is one.
void IconCache::examine(const QString &path, qreal devicePixelRatio) {
    if (m_asking.contains(path)) return;
    m_asking.insert(path);
    m_lanes->readMountTable();
    Workspace &workspace = Workspace::shared();
    m_lanes->run(m_lanes->mountOf(path), [this, path, devicePixelRatio, &workspace] {
        Found result{path, workspace.iconNames(path), std::nullopt, {}, false};
        const QString mimeType = QMimeDatabase().mimeTypeForFile(path).name();
        if (const std::optional<Thumbnails::Source> file = Thumbnails::source(path, mimeType)) {
            const Thumbnails::Flavour flavour = Thumbnails::flavourFor(iconSize, devicePixelRatio);
            result.source = Source{*file, flavour, devicePixelRatio};
            result.thumbnail = forRow(Thumbnails::cached(*file, flavour), devicePixelRatio);
            result.failedBefore = result.thumbnail.isNull() && Thumbnails::failedBefore(*file);
        }
        QMetaObject::invokeMethod(this, [this, result, &workspace] {
            m_asking.remove(result.path);
            m_icons.insert(result.path + QStringLiteral("|1"), workspace.iconFor(result.iconNames));
            found(result);
            emit pictureReady(result.path);
        });
    });
}

void IconCache::found(const Found &result) {
    if (!result.thumbnail.isNull() || !result.source) {
        if (result.thumbnail.isNull())
            m_thumbnails.remove(result.path);
        else
            m_thumbnails.insert(result.path, result.thumbnail);
        return;
    }
    if (result.failedBefore || m_making.contains(result.source->file.uri)) return;
    m_making.insert(result.source->file.uri, std::make_shared<Source>(*result.source));
    askService(result.source->file.uri);
}

void IconCache::askService(const QByteArray &uri) {
    const std::shared_ptr<Source> source = m_making.value(uri);
    ThumbnailerService::shared().request(uri, source->file.mimeType, Thumbnails::name(source->flavour));
}

// No service made it: an image Qt reads is made here, decoded small, on the file's own lane.
void IconCache::makeHere(const QByteArray &uri) {
    const std::shared_ptr<Source> source = m_making.value(uri);
    if (!source) return;
    if (!Thumbnails::canMake(source->file.mimeType)) {
        m_making.remove(uri);
        return;
    }
    m_lanes->run(m_lanes->mountOf(source->file.path), [this, source] {
        const QImage image =
            forRow(Thumbnails::make(source->file, source->flavour), source->devicePixelRatio);
        QMetaObject::invokeMethod(this, [this, source, image] {
            m_making.remove(source->file.uri);
            thumbnailDone(source->file.path, image);
        });
    });
}

void IconCache::thumbnailDone(const QString &path, const QImage &image) {
    m_making.remove(QUrl::fromLocalFile(path).toEncoded());
    if (image.isNull()) return;
    m_thumbnails.insert(path, image);
    emit pictureReady(path);
}
