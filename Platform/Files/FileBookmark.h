// A file bookmark: opaque bytes that find a file again after it was renamed or moved on the same
// file system (into another folder of the user, or into the trash). It holds the path and the
// identity of the file (device, inode, type and, where the file system keeps it, birth time).
// Creating and resolving touch the disk: call them off the main thread.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>

namespace FileBookmark {

// nullopt when the file cannot be examined (for example, it does not exist).
std::optional<QByteArray> create(const QString &path);

// Resolves bookmarks for one pass over the kept items. Directories scanned for one bookmark are
// remembered for the next, so following many moved files costs about as much as following one.
// A fixed budget of directory entries bounds the whole pass. Never mounts a volume and never
// descends into another device or mount.
class Resolver {
public:
    static constexpr int defaultEntryBudget = 40000;
    static constexpr int maxDepth = 2;

    explicit Resolver(int entryBudget = defaultEntryBudget);

    // Where the bookmarked file is now: its stored path when the same file is still there, else
    // the first place found in the old folder, the user's folders, the home folder or the trash.
    // nullopt when the bytes are no bookmark or the file was not found.
    std::optional<QString> resolve(const QByteArray &bookmark);

    int entriesScanned() const { return m_entriesScanned; }

    struct Identity {
        quint64 device = 0;
        quint64 inode = 0;
        bool operator==(const Identity &other) const = default;
    };

private:
    struct Root {
        QByteArray path;
        quint64 device = 0;
        bool usable = false; // exists and is a folder
        bool scanned = false;
    };

    Root &rootFor(const QByteArray &path);
    void scan(Root &root);
    QList<QByteArray> listFolder(const QByteArray &folder, quint64 device);

    int m_budget;
    int m_entriesScanned = 0;
    QList<Root> m_roots;
    QHash<QByteArray, QList<QByteArray>> m_listed; // folder listed so far -> its subfolders
    QHash<Identity, QList<QByteArray>> m_seen;     // every entry scanned so far, by identity
};

inline size_t qHash(const Resolver::Identity &identity, size_t seed = 0) {
    return ::qHashMulti(seed, identity.device, identity.inode);
}

} // namespace FileBookmark
