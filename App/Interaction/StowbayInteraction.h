// Which items the user has selected, and what the user's gestures on item rows do to the store:
// selecting by click, Shift-click and Ctrl-click, selecting all, opening, the items and file URLs
// of a drag out of the panel, settling the store after it, and copying paths. Main thread only.
#pragma once

#include "Items/StowbayStore.h"
#include "Settings/AppSettings.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QUrl>
#include <QUuid>
#include <optional>

class Workspace;

class StowbayInteraction : public QObject {
    Q_OBJECT
public:
    StowbayInteraction(StowbayStore &store, AppSettings &settings, QObject *parent = nullptr);
    // With the workspace that opens and reveals files (tests give their own).
    StowbayInteraction(StowbayStore &store, AppSettings &settings, Workspace &workspace,
                       QObject *parent = nullptr);

    StowbayStore &store() const { return m_store; }
    AppSettings &settings() const { return m_settings; }
    Workspace &workspace() const { return m_workspace; }

    // Unordered; wherever an order counts it is the store's (orderedSelection()).
    const QSet<QUuid> &selection() const { return m_selection; }
    // Every assignment notifies, also of the same set.
    void setSelection(const QSet<QUuid> &selection);
    // The fixed end of a Shift-click range; may name an item that has gone since.
    std::optional<QUuid> anchor() const { return m_anchor; }

    // Ctrl toggles the item (with or without Shift); Shift selects the range from the anchor,
    // replacing the selection; anything else selects the item alone. Other modifiers are ignored.
    void click(const QUuid &id, Qt::KeyboardModifiers flags);
    // The row the keyboard stands on: the last one clicked or moved to, while anything is selected.
    std::optional<QUuid> current() const;
    // Moves the keyboard's row `delta` rows on, stopping at either end; with nothing selected the
    // first step down goes to the first row and the first step up to the last. `extend` selects the
    // range from the anchor instead of the row alone.
    void step(int delta, bool extend);
    // The same, to the row at `index` (clamped to the list).
    void stepTo(qsizetype index, bool extend);
    QList<QUuid> orderedSelection() const;
    void selectAll();
    // Opens each existing file in its default application.
    void open(const QList<QUuid> &ids);
    // What a drag from a row carries: the whole selection when the row is selected, else the row
    // alone; every item for the "Drag all" control (no row).
    QList<QUuid> dragIDs(const std::optional<QUuid> &rowID) const;
    // The current file URLs of those items whose files exist, in the order given.
    QList<QUrl> urls(const QList<QUuid> &ids) const;
    // After a drag out: an accepted drag removes the dragged items that are not pinned when the
    // setting says so; the store is refreshed in every case.
    void dragFinished(const QList<QUuid> &ids, bool accepted);
    // The current paths (the stored one for a missing file), one per line, on the clipboard.
    void copyPaths(const QList<QUuid> &ids);
    // The existing files on the clipboard as files, so that a file manager's Paste copies them;
    // false when none of them exists.
    bool copyFiles(const QList<QUuid> &ids);

    // The current file URL of an item whose file exists.
    std::optional<QUrl> liveURL(const QUuid &id) const;

signals:
    void selectionChanged();

private:
    // The ids of the store's items, in list order.
    QList<QUuid> itemIDs() const;
    void pruneSelection();

    StowbayStore &m_store;
    AppSettings &m_settings;
    Workspace &m_workspace;
    QSet<QUuid> m_selection;
    std::optional<QUuid> m_anchor;
    std::optional<QUuid> m_current;
};
