#include "Views/IconCache.h"

#include "Files/Workspace.h"

#include <QHash>

namespace {
QHash<QString, QIcon> &cache() {
    static QHash<QString, QIcon> entries;
    return entries;
}
} // namespace

QIcon IconCache::icon(const QString &path, bool exists) {
    const QString key = path + (exists ? QStringLiteral("|1") : QStringLiteral("|0"));
    if (const auto found = cache().constFind(key); found != cache().constEnd()) return *found;
    Workspace &workspace = Workspace::shared();
    const QIcon icon = exists ? workspace.icon(path) : workspace.genericDocumentIcon();
    cache().insert(key, icon);
    return icon;
}
