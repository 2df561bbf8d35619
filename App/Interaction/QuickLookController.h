// Previews of the selected files: holds the list of files to show and feeds it to the preview
// window. The callers work out which files (those that exist, in the stowbay's order).
#pragma once

#include "Files/PreviewPanel.h"

#include <QList>
#include <QUrl>

class QuickLookController : public PreviewPanelDataSource {
public:
    static QuickLookController &shared();

    // Shows these files, starting with the first; replaces what a visible preview shows. An empty
    // list changes nothing at all.
    void show(const QList<QUrl> &urls);

    int numberOfPreviewItems() const override { return int(items.size()); }
    QUrl previewItemURL(int index) const override { return items.value(index).url; }

private:
    struct PreviewItem {
        QUrl url;
    };
    QList<PreviewItem> items;
};
