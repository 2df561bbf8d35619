// The one owner of the kept items and their live file facts. Changes happen on the main thread;
// the work on the held files happens on the store's I/O threads, one per file system that holds
// them, and comes back queued; the stored file is written on a thread of its own, so a file system
// that stopped answering never holds up a save.
#pragma once

#include "Items/StowbayItem.h"
#include "Settings/AppSettings.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class MountLanes;
class QThread;

class StowbayStore : public QObject {
    Q_OBJECT
public:
    static constexpr int capacity = 100;
    static constexpr int saveDelayMs = 500;
    // How long the quit waits for the I/O threads and the writer before it writes from the main
    // thread: a file system that stopped answering must not keep Stowbay from ending with the list
    // saved.
    static constexpr int ioWaitDeadlineMs = 2000;

    // Loads the stored file when the settings keep items on quit.
    explicit StowbayStore(AppSettings &settings = AppSettings::shared(), QObject *parent = nullptr);
    ~StowbayStore() override;

    const QList<StowbayItem> &items() const { return m_items; }
    const QHash<QUuid, ItemInfo> &infos() const { return m_infos; }

    // Adds files by URL, on the I/O threads; completion gets the number added, on the main thread,
    // once the files of every file system are examined. Files on a file system that answers are
    // added without waiting for the others.
    void add(const QList<QUrl> &urls, std::function<void(int)> completion = {});
    void remove(const QList<QUuid> &ids);
    void setPinned(const QList<QUuid> &ids, bool pinned);
    void clear();
    // Puts back what the last removal (remove or clear) took, each item as it was and where it was,
    // and saves; returns their ids (none when there is nothing to put back). One removal is
    // remembered.
    QList<QUuid> undoRemoval();
    bool canUndoRemoval() const { return !m_lastRemoval.isEmpty(); }
    // The last removal was a clear, and can be undone.
    bool canUndoClear() const { return m_lastRemovalWasClear && canUndoRemoval(); }
    void purgeExpired();
    void refresh();
    // While on (the panel is open), the held files and their folders are watched: a file renamed,
    // moved, deleted or changed is refreshed at once. Off, no watch is left and nothing wakes.
    void setWatching(bool on);
    bool isWatching() const { return m_watching; }
    std::optional<StowbayItem> item(const QUuid &id) const;

    void flush();           // used at quit: applies finished adds and refreshes, writes now and waits
    void deletePersisted(); // used at quit: removes the stored file and waits

    // Queue a job after every job queued before it: on the writer of the stored file, or on the
    // I/O thread that examines the file at `path`. Tests use them to stall the threads.
    void runOnWriter(std::function<void()> job);
    void runBehindFileWork(const QString &path, std::function<void()> job);

    // ~/.local/share/Stowbay/stowbay.json, computed afresh on every use.
    static QString fileURL();

signals:
    void itemsChanged();
    void infosChanged();
    // A write of the stored file finished (whether or not it succeeded), on the main thread.
    void saved();
    // The stored file could not be written; said once until a write succeeds again. The reason
    // is short and readable, for the user.
    void saveFailed(const QString &reason);
    // An add found the stowbay full: `count` new files were not added.
    void refusedWhenFull(int count);
    // An add named files the stowbay already holds: these items.
    void addedAgain(const QList<QUuid> &ids);

private:
    using Prepared = QList<std::pair<StowbayItem, ItemInfo>>;
    struct Shared;
    // Applies a result of the I/O thread on the main thread; the store is null when it is gone.
    using Result = std::function<void(StowbayStore *)>;
    struct LaneRefresh;
    struct LaneWatch;

    void load();
    // Takes the items that `removed` picks out of the list, remembering them for undoRemoval().
    void removeWhere(const std::function<bool(const StowbayItem &)> &removed);
    static ItemInfo makeInfo(const QUrl &url);
    void addSorted(const QHash<QString, QStringList> &pathsByMount, const QStringList &mounts,
                   std::function<void(int)> completion);
    int merge(const Prepared &prepared);
    static void refreshFiles(const QList<StowbayItem> &snapshot, const std::shared_ptr<Shared> &shared,
                             QPointer<StowbayStore> store);
    void applyRefresh(const QHash<QUuid, ItemInfo> &newInfos, const QHash<QUuid, QString> &movedPaths,
                      const QHash<QUuid, QByteArray> &renewedBookmarks);
    void updateWatches();
    void diskChanged();
    void scheduleSave();
    void saveNow();
    void saveFinished(const std::optional<QString> &failure);
    // From the I/O thread: hands a result to the main thread, where results apply in order.
    static void handBack(const std::shared_ptr<Shared> &shared, QPointer<StowbayStore> store, Result result);
    static void applyResults(Shared &shared, StowbayStore *store);
    // Writes `bytes` to the stored file, or removes it when there are none, as write `number`.
    // Returns why the file could not be written.
    static std::optional<QString> replaceStoredFile(Shared &shared, quint64 number, const QString &path,
                                                    const std::optional<QByteArray> &bytes);
    // Waits up to `ms` for every write queued so far; false when the writer did not get there.
    bool waitForWriter(int ms);

    AppSettings &m_settings;
    std::shared_ptr<Shared> m_shared; // also held by the jobs, which may outlive a stalled store
    QList<StowbayItem> m_items;
    QHash<QUuid, ItemInfo> m_infos;
    std::unique_ptr<MountLanes> m_fileLanes;                      // the I/O threads
    QHash<QString, std::shared_ptr<LaneRefresh>> m_laneRefreshes; // by mount point
    QHash<QString, std::shared_ptr<LaneWatch>> m_laneWatches;     // by mount point
    bool m_watching = false;
    QTimer m_diskSettle;  // a burst of changes on disk refreshes once
    QThreadPool m_intake; // sorts the files of an add by file system: text work, off the main thread
    QThread *m_writerThread = nullptr;
    QObject *m_writerContext = nullptr; // lives on the writer thread; its queued calls are the writes
    QTimer m_saveWork;                  // the pending debounced save
    quint64 m_writeNumber = 0;          // numbers the writes and removals, in the order queued
    bool m_saveFailing = false;         // the last write failed and saveFailed() was said
    QList<std::pair<qsizetype, StowbayItem>> m_lastRemoval; // by place in the list, first to last
    QHash<QUuid, ItemInfo> m_lastRemovalInfos;              // their facts, shown again on undo
    bool m_lastRemovalWasClear = false;
};
