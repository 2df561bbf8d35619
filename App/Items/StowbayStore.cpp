#include "Items/StowbayStore.h"

#include "Files/FileBookmark.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QSaveFile>
#include <QSemaphore>
#include <QSet>
#include <QStandardPaths>
#include <QTextStream>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <sys/stat.h>

namespace {

QString lastPathComponent(const QString &path) {
    if (path == QLatin1String("/")) return path;
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// The path of a local file URL with "." and ".." components and repeated or trailing slashes
// removed; symbolic links are not resolved. nullopt for anything that is not a local file, and for
// names that are not valid UTF-8: the program keeps paths as text, and such a name would come back
// as a different path that names no file.
std::optional<QString> standardizedFilePath(const QUrl &url) {
    if (!isLocalFileURL(url)) return std::nullopt;
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    const QString path = QString::fromUtf8(bytes);
    if (bytes.contains('\0') || path.toUtf8() != bytes) return std::nullopt;
    return QDir::cleanPath(path);
}

// Makes the folder of the stored file private to the user (the list names the user's files): a new
// one is created so, and an existing one loses any access others had. Returns why it cannot be used.
std::optional<QString> makePrivateFolder(const QString &folder, bool create) {
    const QByteArray name = QFile::encodeName(folder);
    int error = EEXIST;
    if (create) {
        QDir().mkpath(QFileInfo(folder).absolutePath());
        if (::mkdir(name.constData(), 0700) == 0) return std::nullopt;
        error = errno;
    }
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        if (!create) return std::nullopt;
        return QStringLiteral("Could not create the folder %1: %2").arg(folder, qt_error_string(error));
    }
    if (!S_ISDIR(st.st_mode)) return QStringLiteral("%1 is not a folder").arg(folder);
    if (st.st_mode & 077) ::chmod(name.constData(), st.st_mode & 0700);
    return std::nullopt;
}

// Replaces the stored file in one step, so a crash leaves the old list or the new one, and a write
// that fails (a full disk) leaves the old file as it was.
std::optional<QString> writeStoredFile(const QString &path, const QByteArray &bytes) {
    if (std::optional<QString> failure = makePrivateFolder(QFileInfo(path).absolutePath(), true))
        return failure;
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        file.write(bytes);
        if (file.commit()) return std::nullopt;
    }
    return QStringLiteral("Could not write %1: %2").arg(path, file.errorString());
}

// A stored file that could not be read may still hold the user's list: it is kept beside the new
// one, as "stowbay.json.unreadable-" with the date and time, and the user is told where.
std::optional<QString> keepAside(const QString &path) {
    if (!QFileInfo(path).isFile()) return std::nullopt;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo(aside).exists() || QFileInfo(aside).isSymLink(); ++n)
        aside = path + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(n);
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) != 0)
        return QStringLiteral("Could not set the unreadable %1 aside: %2").arg(path, qt_error_string(errno));
    QTextStream(stderr) << "Stowbay: could not read the stored list " << path << "; it is kept as " << aside
                        << Qt::endl;
    return std::nullopt;
}

void onMainThread(std::function<void()> job) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(job), Qt::QueuedConnection);
}

} // namespace

// What the store shares with the jobs of its I/O thread; a job stuck at quit may outlive the store.
struct StowbayStore::Shared {
    QMutex mutex;
    QList<Result> results;                      // handed back, not yet applied
    std::atomic<quint64> doneUpTo = 0;          // writes and removals up to this one are done or replaced
    std::atomic<bool> unreadableOnDisk = false; // the stored file could not be read and is still there
};

StowbayStore::StowbayStore(AppSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_shared(std::make_shared<Shared>()) {
    m_ioThread = new QThread;
    m_ioThread->setObjectName(QStringLiteral("stowbay.store.io"));
    m_ioContext = new QObject;
    m_ioContext->moveToThread(m_ioThread);
    m_ioThread->start(QThread::LowPriority);

    m_saveWork.setSingleShot(true);
    m_saveWork.setInterval(saveDelayMs);
    connect(&m_saveWork, &QTimer::timeout, this, &StowbayStore::saveNow);

    load();
    runOnIOThread([folder = QFileInfo(fileURL()).absolutePath()] { makePrivateFolder(folder, false); });
}

// A pending debounced save is dropped; jobs already queued finish before the thread ends, and
// their results find no store. A thread stuck on a file system that stopped answering is left to
// the end of the process.
StowbayStore::~StowbayStore() {
    m_saveWork.stop();
    const bool drained = waitForIOThread(ioWaitDeadlineMs);
    m_ioThread->quit();
    if (!drained) return;
    m_ioThread->wait();
    delete m_ioContext;
    delete m_ioThread;
}

QString StowbayStore::fileURL() {
    QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataFolder.isEmpty()) dataFolder = QDir::homePath() + QStringLiteral("/.local/share");
    return dataFolder + QStringLiteral("/Stowbay/stowbay.json");
}

void StowbayStore::load() {
    if (!m_settings.keepOnQuit()) return;
    // Only a regular file is read: a pipe or a device put there would block or never end.
    const QString path = fileURL();
    if (!QFileInfo(path).isFile()) return;
    QFile file(path);
    std::optional<QList<StowbayItem>> decoded;
    if (file.open(QIODevice::ReadOnly)) decoded = StoredItems::decode(file.readAll());
    if (!decoded) {
        m_shared->unreadableOnDisk = true; // set aside before anything replaces it
        return;
    }
    m_items = std::move(*decoded);
    for (const StowbayItem &item : std::as_const(m_items))
        m_infos.insert(item.id, ItemInfo::placeholder(item.path));
}

void StowbayStore::scheduleSave() {
    m_saveWork.start();
}

void StowbayStore::saveNow() {
    m_saveWork.stop();
    const QByteArray bytes = StoredItems::encode(m_items);
    const quint64 number = ++m_writeNumber;
    const QString path = fileURL();
    QPointer<StowbayStore> store(this);
    runOnIOThread([shared = m_shared, store, number, path, bytes] {
        if (number <= shared->doneUpTo) return; // the quit wrote a newer list already
        const std::optional<QString> failure = replaceStoredFile(*shared, number, path, bytes);
        handBack(shared, store, [failure](StowbayStore *store) {
            if (store) store->saveFinished(failure);
        });
    });
}

void StowbayStore::saveFinished(const std::optional<QString> &failure) {
    if (failure && !m_saveFailing) emit saveFailed(*failure);
    m_saveFailing = failure.has_value();
    emit saved();
}

// Adds and refreshes whose file work is done are applied first, although the loop that would
// apply them may never run again. The wait for the I/O thread has a deadline: if a job is stuck
// there, the list is written from here.
void StowbayStore::flush() {
    m_saveWork.stop();
    const QDeadlineTimer deadline(ioWaitDeadlineMs);
    const bool reached = waitForIOThread(int(deadline.remainingTime()));
    applyResults(*m_shared, this);
    saveNow();
    if (reached && waitForIOThread(int(deadline.remainingTime()))) return;
    saveFinished(replaceStoredFile(*m_shared, m_writeNumber, fileURL(), StoredItems::encode(m_items)));
}

void StowbayStore::deletePersisted() {
    m_saveWork.stop();
    const quint64 number = ++m_writeNumber;
    const QString path = fileURL();
    runOnIOThread([shared = m_shared, number, path] {
        if (number > shared->doneUpTo) replaceStoredFile(*shared, number, path, std::nullopt);
    });
    if (!waitForIOThread(ioWaitDeadlineMs)) replaceStoredFile(*m_shared, number, path, std::nullopt);
}

// Later writes win: a write that the quit already replaced from the main thread is left out when
// the I/O thread gets to it. An unreadable stored file is first set aside.
std::optional<QString> StowbayStore::replaceStoredFile(Shared &shared, quint64 number, const QString &path,
                                                       const std::optional<QByteArray> &bytes) {
    for (quint64 done = shared.doneUpTo;
         done < number && !shared.doneUpTo.compare_exchange_weak(done, number);) {
    }
    if (shared.unreadableOnDisk.exchange(false)) {
        if (std::optional<QString> failure = keepAside(path)) {
            shared.unreadableOnDisk = true;
            return failure;
        }
    }
    if (!bytes) {
        QFile::remove(path);
        return std::nullopt;
    }
    return writeStoredFile(path, *bytes);
}

void StowbayStore::runOnIOThread(std::function<void()> job) {
    QMetaObject::invokeMethod(m_ioContext, std::move(job), Qt::QueuedConnection);
}

bool StowbayStore::waitForIOThread(int ms) {
    auto reached = std::make_shared<QSemaphore>();
    runOnIOThread([reached] { reached->release(); });
    return reached->tryAcquire(1, std::max(ms, 0));
}

void StowbayStore::handBack(const std::shared_ptr<Shared> &shared, QPointer<StowbayStore> store,
                            Result result) {
    {
        const QMutexLocker lock(&shared->mutex);
        shared->results.append(std::move(result));
    }
    onMainThread([shared, store] { applyResults(*shared, store.data()); });
}

// One at a time and in order, also when a result's callback flushes the store.
void StowbayStore::applyResults(Shared &shared, StowbayStore *store) {
    for (;;) {
        Result result;
        {
            const QMutexLocker lock(&shared.mutex);
            if (shared.results.isEmpty()) return;
            result = shared.results.takeFirst();
        }
        result(store);
    }
}

ItemInfo StowbayStore::makeInfo(const QUrl &url) {
    const QFileInfo file(url.toLocalFile());
    ItemInfo info{url, file.exists(), false, std::nullopt};
    if (info.exists) {
        info.isDirectory = file.isDir();
        if (!info.isDirectory) info.size = file.size();
    }
    return info;
}

void StowbayStore::add(const QList<QUrl> &urls, std::function<void(int)> completion) {
    if (urls.isEmpty()) {
        if (completion) completion(0);
        return;
    }
    QPointer<StowbayStore> store(this);
    runOnIOThread([urls, shared = m_shared, store, completion = std::move(completion)] {
        QSet<QString> seenPaths;
        Prepared prepared;
        for (const QUrl &url : urls) {
            const std::optional<QString> path = standardizedFilePath(url);
            if (!path || seenPaths.contains(*path)) continue;
            seenPaths.insert(*path);
            const StowbayItem item{QUuid::createUuid(),
                                   *path,
                                   FileBookmark::create(*path),
                                   lastPathComponent(*path),
                                   QDateTime::currentDateTimeUtc(),
                                   false};
            prepared.append({item, makeInfo(QUrl::fromLocalFile(*path))});
        }
        handBack(shared, store, [prepared, completion](StowbayStore *store) {
            const int count = store ? store->merge(prepared) : 0;
            if (completion) completion(count);
        });
    });
}

// Duplicates are decided here, against the list as it is now, so two overlapping adds of one file
// add it once; a file known by the place it was moved to counts as kept too. New files beyond the
// capacity are counted, so the user can be told how many did not fit.
int StowbayStore::merge(const Prepared &prepared) {
    QHash<QString, QUuid> knownPaths;
    for (const StowbayItem &item : std::as_const(m_items))
        knownPaths.insert(item.path, item.id);
    for (auto it = m_infos.cbegin(); it != m_infos.cend(); ++it)
        knownPaths.insert(it->url.toLocalFile(), it.key());

    int count = 0;
    int refused = 0;
    QList<QUuid> alreadyHeld;
    for (const auto &[item, info] : prepared) {
        if (const auto known = knownPaths.constFind(item.path); known != knownPaths.cend()) {
            if (!known->isNull()) alreadyHeld.append(*known);
            continue;
        }
        knownPaths.insert(item.path, QUuid());
        if (m_items.size() >= capacity) {
            ++refused;
            continue;
        }
        m_items.append(item);
        m_infos.insert(item.id, info);
        ++count;
    }
    if (count > 0) {
        emit itemsChanged();
        emit infosChanged();
        scheduleSave();
    }
    if (refused > 0) emit refusedWhenFull(refused);
    if (!alreadyHeld.isEmpty()) emit addedAgain(alreadyHeld);
    return count;
}

void StowbayStore::remove(const QList<QUuid> &ids) {
    const QSet<QUuid> idSet(ids.cbegin(), ids.cend());
    removeWhere([&](const StowbayItem &item) { return idSet.contains(item.id); });
}

void StowbayStore::removeWhere(const std::function<bool(const StowbayItem &)> &removed) {
    QList<std::pair<qsizetype, StowbayItem>> taken;
    for (qsizetype i = 0; i < m_items.size(); ++i)
        if (removed(m_items[i])) taken.append({i, m_items[i]});
    if (taken.isEmpty()) return;
    m_lastRemoval = taken;
    m_items.removeIf(removed);
    for (const auto &[place, item] : std::as_const(taken))
        m_infos.remove(item.id);
    emit itemsChanged();
    emit infosChanged();
    scheduleSave();
}

QList<QUuid> StowbayStore::undoRemoval() {
    const auto taken = std::exchange(m_lastRemoval, {});
    QList<QUuid> restored;
    // First to last, each goes back to its old place: the ones before it are back already.
    for (const auto &[place, item] : taken) {
        if (m_items.size() >= capacity || this->item(item.id)) continue;
        m_items.insert(std::min(place, m_items.size()), item);
        restored << item.id;
    }
    if (restored.isEmpty()) return {};
    emit itemsChanged();
    scheduleSave();
    refresh(); // their file facts
    return restored;
}

// Always saves, even when nothing changed.
void StowbayStore::setPinned(const QList<QUuid> &ids, bool pinned) {
    const QSet<QUuid> idSet(ids.cbegin(), ids.cend());
    for (StowbayItem &item : m_items)
        if (idSet.contains(item.id)) item.pinned = pinned;
    emit itemsChanged();
    scheduleSave();
}

void StowbayStore::clear() {
    removeWhere([](const StowbayItem &item) { return !item.pinned; });
}

void StowbayStore::purgeExpired() {
    qint64 period = 0;
    switch (m_settings.autoClear()) {
    case AutoClear::never:
        return;
    case AutoClear::hour:
        period = 3600;
        break;
    case AutoClear::day:
        period = 86400;
        break;
    case AutoClear::week:
        period = 604800;
        break;
    }
    const QDateTime cutoff = QDateTime::currentDateTimeUtc().addSecs(-period);
    QList<QUuid> expired;
    for (const StowbayItem &item : std::as_const(m_items))
        if (!item.pinned && item.addedAt < cutoff) expired.append(item.id);
    if (!expired.isEmpty()) remove(expired);
}

void StowbayStore::refresh() {
    const QList<StowbayItem> snapshot = m_items;
    if (snapshot.isEmpty()) return;
    QPointer<StowbayStore> store(this);
    runOnIOThread([snapshot, shared = m_shared, store] {
        QHash<QUuid, ItemInfo> newInfos;
        QHash<QUuid, QString> movedPaths;
        QHash<QUuid, QByteArray> renewedBookmarks;
        FileBookmark::Resolver resolver;
        for (const StowbayItem &item : snapshot) {
            // A file at the stored path is the item, whatever its bookmark says: an editor that
            // saves by renaming the old file to a backup leaves the new text at the path. The
            // bookmark only finds a file that is no longer there, and is renewed from the file.
            QString path = item.path;
            ItemInfo info = makeInfo(QUrl::fromLocalFile(path));
            if (!info.exists && item.bookmark) {
                if (std::optional<QString> resolved = resolver.resolve(*item.bookmark)) {
                    path = *resolved;
                    info = makeInfo(QUrl::fromLocalFile(path));
                }
            }
            newInfos.insert(item.id, info);
            if (!info.exists) continue;
            if (path != item.path) movedPaths.insert(item.id, path);
            if (std::optional<QByteArray> bookmark = FileBookmark::create(path);
                bookmark && bookmark != item.bookmark)
                renewedBookmarks.insert(item.id, *bookmark);
        }
        handBack(shared, store, [newInfos, movedPaths, renewedBookmarks](StowbayStore *store) {
            if (store) store->applyRefresh(newInfos, movedPaths, renewedBookmarks);
        });
    });
}

// Applies to the list as it is now: items added since the snapshot keep their infos, and results
// for items removed since are dropped. Only a moved file or a renewed bookmark changes the stored
// list.
void StowbayStore::applyRefresh(const QHash<QUuid, ItemInfo> &newInfos,
                                const QHash<QUuid, QString> &movedPaths,
                                const QHash<QUuid, QByteArray> &renewedBookmarks) {
    bool infoSet = false;
    bool changed = false;
    for (StowbayItem &item : m_items) {
        if (auto info = newInfos.constFind(item.id); info != newInfos.cend()) {
            m_infos.insert(item.id, *info);
            infoSet = true;
        }
        if (auto moved = movedPaths.constFind(item.id); moved != movedPaths.cend() && *moved != item.path) {
            item.path = *moved;
            item.name = lastPathComponent(*moved);
            changed = true;
        }
        if (auto bookmark = renewedBookmarks.constFind(item.id);
            bookmark != renewedBookmarks.cend() && *bookmark != item.bookmark) {
            item.bookmark = *bookmark;
            changed = true;
        }
    }
    if (changed) emit itemsChanged();
    if (infoSet) emit infosChanged();
    if (changed) scheduleSave();
}

std::optional<StowbayItem> StowbayStore::item(const QUuid &id) const {
    for (const StowbayItem &item : m_items)
        if (item.id == id) return item;
    return std::nullopt;
}
