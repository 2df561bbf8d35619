#include "Interaction/StowbayInteraction.h"

#include "Files/Pasteboard.h"
#include "Files/Workspace.h"

StowbayInteraction::StowbayInteraction(StowbayStore &store, AppSettings &settings, QObject *parent)
    : StowbayInteraction(store, settings, Workspace::shared(), parent) {}

StowbayInteraction::StowbayInteraction(StowbayStore &store, AppSettings &settings, Workspace &workspace,
                                       QObject *parent)
    : QObject(parent), m_store(store), m_settings(settings), m_workspace(workspace) {
    // Queued, so the selection is pruned after the change has run its course, never in the middle
    // of a click.
    connect(&m_store, &StowbayStore::itemsChanged, this, &StowbayInteraction::pruneSelection,
            Qt::QueuedConnection);
}

void StowbayInteraction::setSelection(const QSet<QUuid> &selection) {
    m_selection = selection;
    emit selectionChanged();
}

void StowbayInteraction::click(const QUuid &id, Qt::KeyboardModifiers flags) {
    const QList<QUuid> order = itemIDs();

    if (flags & Qt::ControlModifier) {
        QSet<QUuid> toggled = m_selection;
        if (toggled.contains(id))
            toggled.remove(id);
        else
            toggled.insert(id);
        setSelection(toggled);
        m_anchor = m_current = id;
        return;
    }
    if ((flags & Qt::ShiftModifier) && m_anchor) {
        const qsizetype a = order.indexOf(*m_anchor);
        const qsizetype b = order.indexOf(id);
        if (a >= 0 && b >= 0) {
            const qsizetype lo = std::min(a, b), hi = std::max(a, b);
            m_current = id;
            setSelection(QSet<QUuid>(order.begin() + lo, order.begin() + hi + 1));
            return;
        }
    }
    m_anchor = m_current = id;
    setSelection({id});
}

std::optional<QUuid> StowbayInteraction::current() const {
    if (!m_current || m_selection.isEmpty() || !m_store.item(*m_current)) return std::nullopt;
    return m_current;
}

void StowbayInteraction::step(int delta, bool extend) {
    const QList<QUuid> order = itemIDs();
    if (order.isEmpty() || delta == 0) return;
    const std::optional<QUuid> from = current();
    if (!from) return stepTo(delta > 0 ? 0 : order.size() - 1, extend);
    stepTo(order.indexOf(*from) + delta, extend);
}

void StowbayInteraction::stepTo(qsizetype index, bool extend) {
    const QList<QUuid> order = itemIDs();
    if (order.isEmpty()) return;
    const QUuid id = order.at(std::clamp<qsizetype>(index, 0, order.size() - 1));
    const bool anchored = extend && m_anchor && order.contains(*m_anchor) && !m_selection.isEmpty();
    click(id, anchored ? Qt::ShiftModifier : Qt::NoModifier);
}

QList<QUuid> StowbayInteraction::orderedSelection() const {
    QList<QUuid> ordered;
    for (const StowbayItem &item : m_store.items())
        if (m_selection.contains(item.id)) ordered << item.id;
    return ordered;
}

void StowbayInteraction::selectAll() {
    const QList<QUuid> all = itemIDs();
    setSelection(QSet<QUuid>(all.begin(), all.end()));
}

void StowbayInteraction::open(const QList<QUuid> &ids) {
    for (const QUrl &url : urls(ids))
        m_workspace.open(url);
}

QList<QUuid> StowbayInteraction::dragIDs(const std::optional<QUuid> &rowID) const {
    if (!rowID) return itemIDs();
    if (m_selection.contains(*rowID)) return orderedSelection();
    return {*rowID};
}

QList<QUrl> StowbayInteraction::urls(const QList<QUuid> &ids) const {
    QList<QUrl> result;
    for (const QUuid &id : ids)
        if (const std::optional<QUrl> url = liveURL(id)) result << *url;
    return result;
}

std::optional<QUrl> StowbayInteraction::liveURL(const QUuid &id) const {
    const auto info = m_store.infos().constFind(id);
    if (info == m_store.infos().constEnd() || !info->exists) return std::nullopt;
    return info->url;
}

QList<QUuid> StowbayInteraction::itemIDs() const {
    QList<QUuid> ids;
    ids.reserve(m_store.items().size());
    for (const StowbayItem &item : m_store.items())
        ids << item.id;
    return ids;
}

void StowbayInteraction::dragFinished(const QList<QUuid> &ids, bool accepted) {
    if (accepted && m_settings.afterDrag() == AfterDrag::remove) {
        QList<QUuid> removal;
        for (const QUuid &id : ids) {
            const std::optional<StowbayItem> item = m_store.item(id);
            if (item && item->pinned) continue;
            removal << id;
        }
        m_store.remove(removal);
    }
    m_store.refresh();
}

void StowbayInteraction::copyPaths(const QList<QUuid> &ids) {
    QStringList paths;
    for (const QUuid &id : ids) {
        if (const std::optional<QUrl> url = liveURL(id))
            paths << url->toLocalFile();
        else if (const std::optional<StowbayItem> item = m_store.item(id))
            paths << item->path;
    }
    if (paths.isEmpty()) return;
    Pasteboard::setGeneralString(paths.join('\n'));
}

bool StowbayInteraction::copyFiles(const QList<QUuid> &ids) {
    const QList<QUrl> files = urls(ids);
    if (files.isEmpty()) return false;
    Pasteboard::setFiles(files);
    return true;
}

void StowbayInteraction::pruneSelection() {
    QSet<QUuid> present;
    for (const StowbayItem &item : m_store.items())
        if (m_selection.contains(item.id)) present.insert(item.id);
    if (present != m_selection) setSelection(present);
}
