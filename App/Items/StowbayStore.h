// The one owner of the kept items and their live file facts. Changes happen on the main thread;
// file-system work happens on the store's I/O thread and comes back queued.
#pragma once

#include "Items/StowbayItem.h"
#include "Settings/AppSettings.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QThread;

class StowbayStore : public QObject {
    Q_OBJECT
public:
    static constexpr int capacity = 100;
    static constexpr int saveDelayMs = 500;
    // How long the quit waits for the I/O thread before it writes from the main thread: a file
    // system that stopped answering must not keep Stowbay from ending with the list saved.
    static constexpr int ioWaitDeadlineMs = 2000;

    // Loads the stored file when the settings keep items on quit.
    explicit StowbayStore(AppSettings &settings = AppSettings::shared(), QObject *parent = nullptr);
    ~StowbayStore() override;

    const QList<StowbayItem> &items() const { return m_items; }
    const QHash<QUuid, ItemInfo> &infos() const { return m_infos; }

    // Adds files by URL, on the I/O thread; completion gets the number added, on the main thread.
    void add(const QList<QUrl> &urls, std::function<void(int)> completion = {});
    void remove(const QList<QUuid> &ids);
    void setPinned(const QList<QUuid> &ids, bool pinned);
    void clear();
    // Puts back what the last removal (remove or clear) took, each item as it was and where it was,
    // and saves; returns their ids (none when there is nothing to put back). One removal is
    // remembered.
    QList<QUuid> undoRemoval();
    bool canUndoRemoval() const { return !m_lastRemoval.isEmpty(); }
    void purgeExpired();
    void refresh();
    std::optional<StowbayItem> item(const QUuid &id) const;

    void flush();           // used at quit: applies finished adds and refreshes, writes now and waits
    void deletePersisted(); // used at quit: removes the stored file and waits

    // Queues a job on the I/O thread, after every job queued before it. Tests use it to stall the
    // thread.
    void runOnIOThread(std::function<void()> job);

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

    void load();
    // Takes the items that `removed` picks out of the list, remembering them for undoRemoval().
    void removeWhere(const std::function<bool(const StowbayItem &)> &removed);
    static ItemInfo makeInfo(const QUrl &url);
    int merge(const Prepared &prepared);
    void applyRefresh(const QHash<QUuid, ItemInfo> &newInfos, const QHash<QUuid, QString> &movedPaths,
                      const QHash<QUuid, QByteArray> &renewedBookmarks);
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
    // Waits up to `ms` for every job queued so far; false when the I/O thread did not get there.
    bool waitForIOThread(int ms);

    AppSettings &m_settings;
    std::shared_ptr<Shared> m_shared; // also held by the jobs, which may outlive a stalled store
    QList<StowbayItem> m_items;
    QHash<QUuid, ItemInfo> m_infos;
    QThread *m_ioThread = nullptr;
    QObject *m_ioContext = nullptr; // lives on the I/O thread; its queued calls are the jobs
    QTimer m_saveWork;              // the pending debounced save
    quint64 m_writeNumber = 0;      // numbers the writes and removals, in the order queued
    bool m_saveFailing = false;     // the last write failed and saveFailed() was said
    QList<std::pair<qsizetype, StowbayItem>> m_lastRemoval; // by place in the list, first to last
};
