#include "Files/FileBookmark.h"

#include <QDataStream>
#include <QFile>
#include <QIODevice>
#include <QStandardPaths>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace FileBookmark {

namespace {

constexpr char magic[] = "SBMK";
constexpr quint8 formatVersion = 1;
constexpr int maxPathBytes = 4096;

// What identifies one file-system object, as read with statx.
struct Facts {
    quint64 device = 0;
    quint64 inode = 0;
    quint32 type = 0; // the S_IFMT bits
    bool hasBirthTime = false;
    qint64 birthSeconds = 0;
    quint32 birthNanoseconds = 0;
};

struct Bookmark {
    QByteArray path;
    Facts facts;
};

// The object at `path` itself (a symbolic link is not followed); never triggers an automount. The
// facts asked for never change for one object, so cached ones do: a network file system is not
// asked again.
std::optional<Facts> examine(const QByteArray &path) {
    struct statx sx {};
    if (::statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC,
                STATX_TYPE | STATX_INO | STATX_BTIME, &sx) != 0)
        return std::nullopt;
    if (!(sx.stx_mask & STATX_TYPE) || !(sx.stx_mask & STATX_INO)) return std::nullopt;
    Facts facts;
    facts.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    facts.inode = sx.stx_ino;
    facts.type = sx.stx_mode & S_IFMT;
    // Some file systems (tmpfs among them) keep no birth time; identity then rests on device and inode.
    facts.hasBirthTime = (sx.stx_mask & STATX_BTIME) != 0;
    if (facts.hasBirthTime) {
        facts.birthSeconds = sx.stx_btime.tv_sec;
        facts.birthNanoseconds = sx.stx_btime.tv_nsec;
    }
    return facts;
}

bool sameFile(const Facts &stored, const Facts &now) {
    if (stored.device != now.device || stored.inode != now.inode || stored.type != now.type) return false;
    if (stored.hasBirthTime && now.hasBirthTime)
        return stored.birthSeconds == now.birthSeconds && stored.birthNanoseconds == now.birthNanoseconds;
    return true;
}

QByteArray encodeBookmark(const Bookmark &b) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out.writeRawData(magic, 4);
    out << formatVersion << b.facts.device << b.facts.inode << b.facts.type << b.facts.hasBirthTime
        << b.facts.birthSeconds << b.facts.birthNanoseconds << b.path;
    return bytes;
}

std::optional<Bookmark> decodeBookmark(const QByteArray &bytes) {
    if (bytes.size() > maxPathBytes + 64 || !bytes.startsWith(magic)) return std::nullopt;
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_4);
    in.skipRawData(4);
    quint8 version = 0;
    in >> version;
    if (version != formatVersion) return std::nullopt;
    Bookmark b;
    in >> b.facts.device >> b.facts.inode >> b.facts.type >> b.facts.hasBirthTime >> b.facts.birthSeconds >>
        b.facts.birthNanoseconds >> b.path;
    if (in.status() != QDataStream::Ok || !in.atEnd() || !b.path.startsWith('/') || b.path.contains('\0'))
        return std::nullopt;
    return b;
}

QByteArray parentFolder(const QByteArray &path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

QByteArray child(const QByteArray &folder, const char *name) {
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// Whether the entry `name` of an open folder is a folder to descend into: a folder of the same
// device that is not the root of a mount. Only cached facts are asked for, so a mount point of a
// network file system that stopped answering is passed over without waiting for it.
bool isSubfolderOnDevice(int folder, const char *name, quint64 device) {
    struct statx sx {};
    if (::statx(folder, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC, STATX_TYPE, &sx) !=
        0)
        return false;
    if (!(sx.stx_mask & STATX_TYPE) || (sx.stx_mode & S_IFMT) != S_IFDIR) return false;
    if (sx.stx_attributes_mask & sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) return false;
    return makedev(sx.stx_dev_major, sx.stx_dev_minor) == device;
}

// A path the program can hold as text: valid UTF-8 without NUL.
std::optional<QString> textPath(const QByteArray &path) {
    const QString text = QString::fromUtf8(path);
    if (text.toUtf8() != path) return std::nullopt;
    return text;
}

} // namespace

std::optional<QByteArray> create(const QString &path) {
    const QByteArray bytes = QFile::encodeName(path);
    if (!bytes.startsWith('/') || bytes.size() > maxPathBytes || bytes.contains('\0')) return std::nullopt;
    const std::optional<Facts> facts = examine(bytes);
    if (!facts) return std::nullopt;
    return encodeBookmark(Bookmark{bytes, *facts});
}

Resolver::Resolver(int entryBudget) : m_budget(entryBudget) {}

std::optional<QString> Resolver::resolve(const QByteArray &bytes) {
    const std::optional<Bookmark> b = decodeBookmark(bytes);
    if (!b) return std::nullopt;

    const auto isTheFile = [&](const QByteArray &path) {
        const std::optional<Facts> now = examine(path);
        return now && sameFile(b->facts, *now);
    };
    const auto knownPlace = [&]() -> std::optional<QString> {
        for (const QByteArray &candidate : m_seen.value(Identity{b->facts.device, b->facts.inode}))
            if (isTheFile(candidate))
                if (auto text = textPath(candidate)) return text;
        return std::nullopt;
    };

    if (isTheFile(b->path)) return textPath(b->path);
    if (auto found = knownPlace()) return found;

    QList<QByteArray> places{parentFolder(b->path)};
    for (auto location :
         {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation,
          QStandardPaths::DownloadLocation, QStandardPaths::MusicLocation, QStandardPaths::PicturesLocation,
          QStandardPaths::MoviesLocation, QStandardPaths::HomeLocation})
        places.append(QFile::encodeName(QStandardPaths::writableLocation(location)));
    places.append(QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                    QStringLiteral("/Trash/files")));

    for (const QByteArray &place : places) {
        if (!place.startsWith('/')) continue;
        Root &root = rootFor(place);
        // A file keeps its inode only on its own device: other devices cannot hold it.
        if (!root.usable || root.scanned || root.device != b->facts.device) continue;
        scan(root);
        if (auto found = knownPlace()) return found;
    }
    return std::nullopt;
}

Resolver::Root &Resolver::rootFor(const QByteArray &path) {
    for (Root &root : m_roots)
        if (root.path == path) return root;
    Root root;
    root.path = path;
    const std::optional<Facts> facts = examine(path);
    root.usable = facts && facts->type == S_IFDIR;
    root.device = facts ? facts->device : 0;
    m_roots.append(root);
    return m_roots.last();
}

// Breadth first, so the budget is spent on the shallow places first.
void Resolver::scan(Root &root) {
    root.scanned = true;
    QList<std::pair<QByteArray, int>> queue{{root.path, 0}};
    for (qsizetype next = 0; next < queue.size() && m_entriesScanned < m_budget; ++next) {
        const auto [folder, depth] = queue.at(next);
        const QList<QByteArray> subfolders = listFolder(folder, root.device);
        if (depth >= maxDepth) continue;
        for (const QByteArray &sub : subfolders)
            queue.append({sub, depth + 1});
    }
}

// Enters every entry of `folder` in the table of identities (once per folder and pass) and returns
// the subfolders worth descending into: not hidden, not symbolic links, not mount points, on the
// same device.
QList<QByteArray> Resolver::listFolder(const QByteArray &folder, quint64 device) {
    if (auto known = m_listed.constFind(folder); known != m_listed.cend()) return *known;
    QList<QByteArray> subfolders;
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return subfolders;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return subfolders;
    }
    while (m_entriesScanned < m_budget) {
        const dirent *entry = ::readdir(dir);
        if (!entry) break;
        const char *name = entry->d_name;
        if (qstrcmp(name, ".") == 0 || qstrcmp(name, "..") == 0) continue;
        ++m_entriesScanned;
        const QByteArray path = child(folder, name);
        m_seen[Identity{device, quint64(entry->d_ino)}].append(path);
        if (name[0] == '.' || (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN)) continue;
        if (isSubfolderOnDevice(::dirfd(dir), name, device)) subfolders.append(path);
    }
    ::closedir(dir);
    m_listed.insert(folder, subfolders);
    return subfolders;
}

} // namespace FileBookmark
