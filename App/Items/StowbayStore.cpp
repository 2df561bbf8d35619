#include "Items/StowbayStore.h"

#include "Files/FileBookmark.h"
#include "Files/MountLanes.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
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

// One add, whose files may be examined on several I/O threads; main thread only.
struct AddProgress {
    int parts = 0; // file systems whose files are not merged yet
    int added = 0;
    std::function<void(int)> completion;
};

} // namespace

// What the store shares with the jobs of its I/O thread; a job stuck at quit may outlive the store.
struct StowbayStore::Shared {
    QMutex mutex;
    QList<Result> results;                      // handed back, not yet applied
    std::atomic<quint64> doneUpTo = 0;          // writes and removals up to this one are done or replaced
    std::atomic<bool> unreadableOnDisk = false; // the stored file could not be read and is still there
};

// The refresh waiting on one I/O thread: while the thread is busy (or stuck), a newer refresh
// replaces the waiting one instead of queueing behind it.
struct StowbayStore::LaneRefresh {
    QMutex mutex;
    std::optional<QList<StowbayItem>> waiting;
};

// The watch of the held files on one file system. It lives on that file system's I/O thread, so a
// watch that cannot be set up (the file system stopped answering) holds up nothing else.
struct StowbayStore::LaneWatch {
    QFileSystemWatcher *watcher = nullptr; // on the I/O thread only
};

StowbayStore::StowbayStore(AppSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_shared(std::make_shared<Shared>()) {
    m_intake.setMaxThreadCount(1); // adds are sorted in the order they came
    m_fileLanes = std::make_unique<MountLanes>(QStringLiteral("stowbay.store.io"));
    m_fileLanes->deadlineMs = ioWaitDeadlineMs / 2;
    m_writerThread = new QThread;
    m_writerThread->setObjectName(QStringLiteral("stowbay.writer"));
    m_writerContext = new QObject;
    m_writerContext->moveToThread(m_writerThread);
    m_writerThread->start(QThread::LowPriority);

    m_saveWork.setSingleShot(true);
    m_saveWork.setInterval(saveDelayMs);
    connect(&m_saveWork, &QTimer::timeout, this, &StowbayStore::saveNow);
    m_diskSettle.setSingleShot(true);
    m_diskSettle.setInterval(100);
    connect(&m_diskSettle, &QTimer::timeout, this, &StowbayStore::refresh);
    // The watched paths follow the list and the files' places.
    connect(this, &StowbayStore::itemsChanged, this, &StowbayStore::updateWatches);
    connect(this, &StowbayStore::infosChanged, this, &StowbayStore::updateWatches);

    load();
    runOnWriter([folder = QFileInfo(fileURL()).absolutePath()] { makePrivateFolder(folder, false); });
}

// A pending debounced save is dropped; jobs already queued finish before the threads end, and
// their results find no store. A thread stuck on a file system that stopped answering is left to
// the end of the process.
StowbayStore::~StowbayStore() {
    m_saveWork.stop();
    setWatching(false);
    m_intake.waitForDone();
    m_fileLanes.reset();
    const bool drained = waitForWriter(ioWaitDeadlineMs);
    m_writerThread->quit();
    if (!drained) return;
    m_writerThread->wait();
    delete m_writerContext;
    delete m_writerThread;
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
    runOnWriter([shared = m_shared, store, number, path, bytes] {
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
// apply them may never run again; an I/O thread stuck on a file system that stopped answering gets
// half the time. If the writer is stuck too (the stored file's own disk), the list is written from
// here.
void StowbayStore::flush() {
    m_saveWork.stop();
    const QDeadlineTimer deadline(ioWaitDeadlineMs);
    m_intake.waitForDone(int(deadline.remainingTime() / 4));
    applyResults(*m_shared, this); // sorted adds go on to the I/O threads
    m_fileLanes->waitForAll(int(deadline.remainingTime() / 2));
    applyResults(*m_shared, this);
    saveNow();
    if (waitForWriter(int(deadline.remainingTime()))) return;
    saveFinished(replaceStoredFile(*m_shared, m_writeNumber, fileURL(), StoredItems::encode(m_items)));
}

void StowbayStore::deletePersisted() {
    m_saveWork.stop();
    const quint64 number = ++m_writeNumber;
    const QString path = fileURL();
    runOnWriter([shared = m_shared, number, path] {
        if (number > shared->doneUpTo) replaceStoredFile(*shared, number, path, std::nullopt);
    });
    if (!waitForWriter(ioWaitDeadlineMs)) replaceStoredFile(*m_shared, number, path, std::nullopt);
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

void StowbayStore::runOnWriter(std::function<void()> job) {
    QMetaObject::invokeMethod(m_writerContext, std::move(job), Qt::QueuedConnection);
}

void StowbayStore::runBehindFileWork(const QString &path, std::function<void()> job) {
    m_fileLanes->readMountTable();
    m_fileLanes->run(m_fileLanes->mountOf(path), std::move(job));
}

bool StowbayStore::waitForWriter(int ms) {
    auto reached = std::make_shared<QSemaphore>();
    runOnWriter([reached] { reached->release(); });
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

// The paths are made standard and sorted by the file system that holds them on the intake thread
// (text work only, which a drop of thousands of files would otherwise do on the main thread); each
// file system's I/O thread then examines its own.
void StowbayStore::add(const QList<QUrl> &urls, std::function<void(int)> completion) {
    if (urls.isEmpty()) {
        if (completion) completion(0);
        return;
    }
    m_fileLanes->readMountTable();
    QPointer<StowbayStore> store(this);
    m_intake.start([urls, table = m_fileLanes->mountTable(), shared = m_shared, store,
                    completion = std::move(completion)] {
        QSet<QString> seenPaths;
        QHash<QString, QStringList> pathsByMount;
        QStringList mounts; // in the order of the first file of each
        for (const QUrl &url : urls) {
            const std::optional<QString> path = standardizedFilePath(url);
            if (!path || seenPaths.contains(*path)) continue;
            seenPaths.insert(*path);
            const QString mount = MountLanes::mountOf(table, *path);
            if (!pathsByMount.contains(mount)) mounts.append(mount);
            pathsByMount[mount].append(*path);
        }
        handBack(shared, store, [pathsByMount, mounts, completion](StowbayStore *store) {
            if (store)
                store->addSorted(pathsByMount, mounts, completion);
            else if (completion)
                completion(0);
        });
    });
}

void StowbayStore::addSorted(const QHash<QString, QStringList> &pathsByMount, const QStringList &mounts,
                             std::function<void(int)> completion) {
    if (mounts.isEmpty()) {
        if (completion) completion(0);
        return;
    }
    auto progress = std::make_shared<AddProgress>();
    progress->parts = int(mounts.size());
    progress->completion = std::move(completion);
    QPointer<StowbayStore> store(this);
    for (const QString &mount : std::as_const(mounts)) {
        m_fileLanes->run(mount, [paths = pathsByMount.value(mount), shared = m_shared, store, progress] {
            Prepared prepared;
            for (const QString &path : paths) {
                const StowbayItem item{QUuid::createUuid(),
                                       path,
                                       FileBookmark::create(path),
                                       lastPathComponent(path),
                                       QDateTime::currentDateTimeUtc(),
                                       false};
                prepared.append({item, makeInfo(QUrl::fromLocalFile(path))});
            }
            handBack(shared, store, [prepared, progress](StowbayStore *store) {
                progress->added += store ? store->merge(prepared) : 0;
                if (--progress->parts == 0 && progress->completion) progress->completion(progress->added);
            });
        });
    }
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
    m_lastRemovalWasClear = false;
    m_lastRemovalInfos.clear();
    m_items.removeIf(removed);
    for (const auto &[place, item] : std::as_const(taken))
        if (m_infos.contains(item.id)) m_lastRemovalInfos.insert(item.id, m_infos.take(item.id));
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
        m_infos.insert(item.id, m_lastRemovalInfos.value(item.id, ItemInfo::placeholder(item.path)));
        restored << item.id;
    }
    m_lastRemovalInfos.clear();
    if (restored.isEmpty()) return {};
    emit itemsChanged();
    emit infosChanged();
    scheduleSave();
    refresh(); // their facts as they are now
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
    const bool clears =
        std::any_of(m_items.cbegin(), m_items.cend(), [](const auto &i) { return !i.pinned; });
    removeWhere([](const StowbayItem &item) { return !item.pinned; });
    if (clears) m_lastRemovalWasClear = true;
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
    if (m_items.isEmpty()) return;
    m_fileLanes->readMountTable();
    QHash<QString, QList<StowbayItem>> itemsByMount;
    for (const StowbayItem &item : std::as_const(m_items))
        itemsByMount[m_fileLanes->mountOf(item.path)].append(item);
    QPointer<StowbayStore> store(this);
    for (auto group = itemsByMount.cbegin(); group != itemsByMount.cend(); ++group) {
        std::shared_ptr<LaneRefresh> &lane = m_laneRefreshes[group.key()];
        if (!lane) lane = std::make_shared<LaneRefresh>();
        {
            const QMutexLocker lock(&lane->mutex);
            const bool queued = lane->waiting.has_value();
            lane->waiting = group.value();
            if (queued) continue;
        }
        m_fileLanes->run(group.key(), [lane, shared = m_shared, store] {
            QList<StowbayItem> snapshot;
            {
                const QMutexLocker lock(&lane->mutex);
                snapshot = lane->waiting.value_or(QList<StowbayItem>{});
                lane->waiting.reset();
            }
            refreshFiles(snapshot, shared, store);
        });
    }
}

// On an I/O thread: the facts of the files now, followed through their bookmarks when moved.
void StowbayStore::refreshFiles(const QList<StowbayItem> &snapshot, const std::shared_ptr<Shared> &shared,
                                QPointer<StowbayStore> store) {
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
}

void StowbayStore::setWatching(bool on) {
    if (on == m_watching) return;
    m_watching = on;
    if (!on) m_diskSettle.stop();
    updateWatches();
}

// Each file system's I/O thread gets the paths it is to watch now: the held files (a change of a
// file's content tells only the file) and their folders (a rename, a move or a deletion tells the
// folder). Off, the watches go, and with them the threads' only wake-ups.
void StowbayStore::updateWatches() {
    if (!m_watching && m_laneWatches.isEmpty()) return;
    QHash<QString, QSet<QString>> pathsByMount;
    if (m_watching) {
        m_fileLanes->readMountTable();
        for (const StowbayItem &item : std::as_const(m_items)) {
            const ItemInfo info = m_infos.value(item.id);
            const QString path = info.url.isLocalFile() ? info.url.toLocalFile() : item.path;
            QSet<QString> &paths = pathsByMount[m_fileLanes->mountOf(path)];
            paths.insert(path);
            paths.insert(QFileInfo(path).path());
        }
    }
    const QStringList mounts = QSet<QString>(m_laneWatches.keyBegin(), m_laneWatches.keyEnd())
                                   .unite(QSet<QString>(pathsByMount.keyBegin(), pathsByMount.keyEnd()))
                                   .values();
    QPointer<StowbayStore> store(this);
    for (const QString &mount : mounts) {
        std::shared_ptr<LaneWatch> &lane = m_laneWatches[mount];
        if (!lane) lane = std::make_shared<LaneWatch>();
        const QSet<QString> paths = pathsByMount.value(mount);
        m_fileLanes->run(mount, [lane, paths, store] {
            if (paths.isEmpty()) {
                delete std::exchange(lane->watcher, nullptr);
                return;
            }
            if (!lane->watcher) {
                lane->watcher = new QFileSystemWatcher;
                // Told on the main thread, as long as the store is there.
                const auto changed = [store] {
                    onMainThread([store] {
                        if (store) store->diskChanged();
                    });
                };
                QObject::connect(lane->watcher, &QFileSystemWatcher::fileChanged, lane->watcher, changed);
                QObject::connect(lane->watcher, &QFileSystemWatcher::directoryChanged, lane->watcher,
                                 changed);
            }
            const QStringList watched = lane->watcher->files() + lane->watcher->directories();
            QStringList gone;
            for (const QString &path : watched)
                if (!paths.contains(path)) gone << path;
            if (!gone.isEmpty()) lane->watcher->removePaths(gone);
            QStringList added;
            for (const QString &path : paths)
                if (!watched.contains(path) && QFileInfo::exists(path)) added << path;
            if (!added.isEmpty()) lane->watcher->addPaths(added);
        });
        if (paths.isEmpty()) m_laneWatches.remove(mount);
    }
}

void StowbayStore::diskChanged() {
    if (m_watching) m_diskSettle.start();
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
