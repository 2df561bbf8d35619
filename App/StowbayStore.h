// The one owner of the kept items and their live file facts. Changes happen on the main thread;
// file-system work happens on the store's I/O thread and comes back queued.
#pragma once

#include "AppSettings.h"
#include "StowbayItem.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <functional>
#include <optional>
#include <utility>

class QThread;

class StowbayStore : public QObject {
    Q_OBJECT
public:
    static constexpr int capacity = 100;
    static constexpr int saveDelayMs = 500;

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
    void purgeExpired();
    void refresh();
    std::optional<StowbayItem> item(const QUuid &id) const;

    void flush();           // used at quit: writes now and waits
    void deletePersisted(); // used at quit: removes the stored file and waits

    // ~/.local/share/Stowbay/stowbay.json, computed afresh on every use.
    static QString fileURL();

signals:
    void itemsChanged();
    void infosChanged();
    // A write of the stored file finished (whether or not it succeeded), on the main thread.
    void saved();

private:
    using Prepared = QList<std::pair<StowbayItem, ItemInfo>>;

    void load();
    static ItemInfo makeInfo(const QUrl &url);
    int merge(const Prepared &prepared);
    void applyRefresh(const QHash<QUuid, ItemInfo> &newInfos, const QHash<QUuid, QString> &movedPaths);
    void scheduleSave();
    void saveNow();
    // Queues a job on the I/O thread, after every job queued before it.
    void runOnIOThread(std::function<void()> job);
    // Runs a job on the I/O thread and waits for it and for every job queued before it.
    void runOnIOThreadAndWait(std::function<void()> job);

    AppSettings &m_settings;
    QList<StowbayItem> m_items;
    QHash<QUuid, ItemInfo> m_infos;
    QThread *m_ioThread = nullptr;
    QObject *m_ioContext = nullptr; // lives on the I/O thread; its queued calls are the jobs
    QTimer m_saveWork;              // the pending debounced save
};
