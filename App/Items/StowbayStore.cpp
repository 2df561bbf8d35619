// The list and its rules: what an add may take, removals and their undo, pins and expiry. The work
// on the files and on the stored file is in StowbayStoreIO.cpp.
#include "Items/StowbayStore.h"

#include <QSet>
#include <algorithm>

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

std::optional<StowbayItem> StowbayStore::item(const QUuid &id) const {
    for (const StowbayItem &item : m_items)
        if (item.id == id) return item;
    return std::nullopt;
}
