#include "Interaction/QuickLookController.h"

QuickLookController &QuickLookController::shared() {
    static QuickLookController instance;
    return instance;
}

void QuickLookController::show(const QList<QUrl> &urls) {
    if (urls.isEmpty()) return;
    items.clear();
    for (const QUrl &url : urls)
        items.append(PreviewItem{url});
    PreviewPanel *panel = PreviewPanel::shared();
    if (!panel) return;
    // The window stays above the panel and takes the keyboard when it comes to the front.
    panel->setDataSource(this);
    panel->reloadData();
    panel->setCurrentPreviewItemIndex(0);
    panel->makeKeyAndOrderFront();
}
