#include "Views/IconCache.h"

#include "Files/MountLanes.h"
#include "Files/Workspace.h"

#include <QCoreApplication>
#include <QPointer>

IconCache::IconCache() : m_lanes(std::make_unique<MountLanes>(QStringLiteral("stowbay.icons"))) {}

IconCache::~IconCache() = default;

// Never destroyed: a lane stuck on a file system that stopped answering cannot be joined.
IconCache &IconCache::shared() {
    static IconCache *cache = new IconCache;
    return *cache;
}

QIcon IconCache::icon(const QString &path, bool exists) {
    return shared().lookUp(path, exists);
}

QIcon IconCache::lookUp(const QString &path, bool exists) {
    Workspace &workspace = Workspace::shared();
    const QString key = path + (exists ? QStringLiteral("|1") : QStringLiteral("|0"));
    if (const auto found = m_icons.constFind(key); found != m_icons.constEnd()) return *found;
    if (!exists) return *m_icons.insert(key, workspace.genericDocumentIcon());
    if (!m_asking.contains(path)) {
        m_asking.insert(path);
        m_lanes->readMountTable();
        m_lanes->run(m_lanes->mountOf(path), [this, path, &workspace] {
            const QStringList names = workspace.iconNames(path);
            QMetaObject::invokeMethod(this, [this, path, names, &workspace] {
                m_asking.remove(path);
                m_icons.insert(path + QStringLiteral("|1"), workspace.iconFor(names));
                emit iconReady(path);
            });
        });
    }
    return workspace.genericDocumentIcon();
}
