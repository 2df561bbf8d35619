// One kept file reference, the live facts of its file, and the stored form of the list.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <optional>

// A file the user put on the stowbay: a reference (path and bookmark), never a copy.
struct StowbayItem {
    QUuid id;
    QString path;                       // absolute, standardized; follows the file when it moves
    std::optional<QByteArray> bookmark; // absent when none could be made
    QString name;                       // last component of path
    QDateTime addedAt;                  // UTC
    bool pinned = false;

    bool operator==(const StowbayItem &other) const = default;
};

// What the file system says about an item's file right now. Never stored.
struct ItemInfo {
    QUrl url; // where the file is now
    bool exists = false;
    bool isDirectory = false;   // false when the file is missing
    std::optional<qint64> size; // regular files only

    bool operator==(const ItemInfo &other) const = default;

    // Right after loading, before the first refresh: the stored path, taken to exist.
    static ItemInfo placeholder(const QString &path);
};

// True when `url` names a file on this machine: the file scheme, an absolute path, and no host
// but "localhost" or this machine's own name. Web addresses and other hosts' files are not.
bool isLocalFileURL(const QUrl &url);

// The stored list: a compact JSON array of item objects, members in the order
// id, path, bookmark, name, addedAt, pinned.
namespace StoredItems {
QByteArray encode(const QList<StowbayItem> &items);
// Strict: any bad element makes the whole text unreadable (nullopt). At most the first 100
// elements are taken.
std::optional<QList<StowbayItem>> decode(const QByteArray &json);
} // namespace StoredItems

Q_DECLARE_METATYPE(StowbayItem)
