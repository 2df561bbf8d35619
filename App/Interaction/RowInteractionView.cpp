#include "Interaction/RowInteractionView.h"

#include "Files/Workspace.h"
#include "Interaction/QuickLookController.h"
#include "Interaction/StowbayDragSource.h"
#include "Interaction/StowbayInteraction.h"
#include "Items/IconCache.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace {
constexpr Qt::KeyboardModifiers clickModifierMask = Qt::ControlModifier | Qt::ShiftModifier;
}

RowInteractionView::RowInteractionView(QWidget *parent) : QWidget(parent) {
    // Transparent: it draws nothing and never takes the keyboard, which belongs to the panel.
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
}

RowInteractionView *RowInteractionView::cover(QWidget *row, std::optional<QUuid> rowID,
                                              StowbayInteraction *interaction) {
    auto *view = new RowInteractionView(row);
    view->setRowID(rowID);
    view->setInteraction(interaction);
    view->setGeometry(row->rect());
    view->raise();
    row->installEventFilter(view);
    return view;
}

bool RowInteractionView::eventFilter(QObject *watched, QEvent *event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void RowInteractionView::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) mouseDown(event, 1);
    event->accept();
}

// Qt delivers the second press of a double click as its own event.
void RowInteractionView::mouseDoubleClickEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) mouseDown(event, 2);
    event->accept();
}

void RowInteractionView::mouseDown(QMouseEvent *event, int clickCount) {
    m_downPosition = event->scenePosition();
    m_dragStarted = false;
    m_deferredSelect = false;
    if (!m_rowID || !m_interaction) return;
    const QUuid rowID = *m_rowID;
    const Qt::KeyboardModifiers clickModifiers = event->modifiers() & clickModifierMask;

    bool doubleClick = false;
    if (!clickModifiers && m_interaction->selection().contains(rowID) &&
        m_interaction->selection().size() > 1) {
        // Held back until the release, so that a drag from here carries the whole selection.
        m_deferredSelect = true;
        doubleClick = clickCount == 2;
    } else {
        m_interaction->click(rowID, event->modifiers());
        doubleClick = clickCount == 2 && !clickModifiers;
    }
    if (!doubleClick) return;
    m_deferredSelect = false;
    m_interaction->click(rowID, Qt::NoModifier);
    m_interaction->open({rowID});
}

void RowInteractionView::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) {
        if (m_deferredSelect && !m_dragStarted && m_rowID && m_interaction)
            m_interaction->click(*m_rowID, Qt::NoModifier);
        m_deferredSelect = false;
    }
    event->accept();
}

void RowInteractionView::mouseMoveEvent(QMouseEvent *event) {
    if (event->buttons() & Qt::LeftButton) mouseDragged(event);
    event->accept();
}

void RowInteractionView::mouseDragged(QMouseEvent *event) {
    if (m_dragStarted || !m_downPosition || !m_interaction) return;
    const QPointF delta = event->scenePosition() - *m_downPosition;
    if (std::hypot(delta.x(), delta.y()) <= dragThreshold) return;
    m_dragStarted = true;

    StowbayInteraction &interaction = *m_interaction;
    const QList<QUuid> ids = interaction.dragIDs(m_rowID);
    // Only files that exist travel; the live ids and the URLs correspond one to one.
    QList<QUuid> liveIDs;
    QList<QUrl> urls;
    for (const QUuid &id : ids) {
        if (const std::optional<QUrl> url = interaction.liveURL(id)) {
            liveIDs << id;
            urls << *url;
        }
    }
    if (urls.isEmpty()) return;

    QPointer<StowbayInteraction> weak(&interaction);
    auto source =
        std::make_unique<StowbayDragSource>(liveIDs, [weak](const QList<QUuid> &ids, bool accepted) {
            if (weak) weak->dragFinished(ids, accepted);
        });
    QPoint hotSpot;
    const QPixmap image = pileImage(urls, devicePixelRatioF(), &hotSpot);
    // The drag runs in a nested event loop, during which this row may be rebuilt or deleted:
    // nothing here touches the view once it has begun.
    StowbayDragSource::beginDraggingSession(std::move(source), urls, image, hotSpot);
}

QPixmap RowInteractionView::pileImage(const QList<QUrl> &urls, qreal devicePixelRatio, QPoint *hotSpot) {
    const int count = std::min<int>(urls.size(), maxDragImages);
    const double spread = std::max(0, count - 1) * dragImageStep;
    const int side = dragImageSize + int(std::ceil(spread));
    QPixmap pixmap(QSize(side, side) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    // The first file lies on top of the pile.
    for (int i = count - 1; i >= 0; --i) {
        const double k = std::min(i, maxDragImages - 1) * dragImageStep;
        const QRectF frame(k, k, dragImageSize, dragImageSize);
        const QIcon icon = IconCache::icon(urls.at(i).toLocalFile(), true);
        icon.paint(&painter, frame.toRect());
    }
    if (hotSpot) *hotSpot = QPoint(dragImageSize / 2, dragImageSize / 2);
    return pixmap;
}

void RowInteractionView::contextMenuEvent(QContextMenuEvent *event) {
    event->accept();
    std::unique_ptr<QMenu> contextMenu = menu();
    if (contextMenu) contextMenu->exec(event->globalPos());
}

bool RowInteractionView::allPinned(const QList<QUuid> &ids) const {
    for (const QUuid &id : ids) {
        const std::optional<StowbayItem> item = m_interaction->store().item(id);
        if (!item || !item->pinned) return false;
    }
    return true;
}

std::unique_ptr<QMenu> RowInteractionView::menu() {
    if (!m_rowID || !m_interaction) return nullptr;
    if (!m_interaction->selection().contains(*m_rowID)) m_interaction->click(*m_rowID, Qt::NoModifier);
    const QList<QUuid> sel = m_interaction->orderedSelection();
    const bool hasFiles = !m_interaction->urls(sel).isEmpty();

    auto contextMenu = std::make_unique<QMenu>();
    // Each entry shows the key that does the same in the panel.
    auto add = [&](const QString &title, void (RowInteractionView::*action)(), bool enabled,
                   const QKeySequence &key = {}) {
        QAction *item = contextMenu->addAction(
            key.isEmpty() ? title : title + '\t' + key.toString(QKeySequence::NativeText));
        item->setEnabled(enabled);
        connect(item, &QAction::triggered, this, action);
    };
    add(QStringLiteral("Show in Folder"), &RowInteractionView::menuReveal, hasFiles);
    add(QStringLiteral("Open"), &RowInteractionView::menuOpen, hasFiles, QKeySequence(Qt::Key_Enter));
    add(QStringLiteral("Preview"), &RowInteractionView::menuQuickLook, hasFiles, QKeySequence(Qt::Key_Space));
    add(QStringLiteral("Copy"), &RowInteractionView::menuCopy, hasFiles, QKeySequence::Copy);
    add(QStringLiteral("Copy Path"), &RowInteractionView::menuCopyPath, true);
    contextMenu->addSeparator();
    add(allPinned(sel) ? QStringLiteral("Unpin") : QStringLiteral("Pin"), &RowInteractionView::menuPin, true);
    add(QStringLiteral("Remove"), &RowInteractionView::menuRemove, true, QKeySequence(Qt::Key_Delete));
    return contextMenu;
}

void RowInteractionView::menuReveal() {
    if (!m_interaction) return;
    const QList<QUrl> urls = m_interaction->urls(m_interaction->orderedSelection());
    if (!urls.isEmpty()) m_interaction->workspace().activateFileViewerSelecting(urls);
}

void RowInteractionView::menuOpen() {
    if (m_interaction) m_interaction->open(m_interaction->orderedSelection());
}

void RowInteractionView::menuQuickLook() {
    if (m_interaction)
        QuickLookController::shared().show(m_interaction->urls(m_interaction->orderedSelection()));
}

void RowInteractionView::menuCopy() {
    if (m_interaction) m_interaction->copyFiles(m_interaction->orderedSelection());
}

void RowInteractionView::menuCopyPath() {
    if (m_interaction) m_interaction->copyPaths(m_interaction->orderedSelection());
}

void RowInteractionView::menuPin() {
    if (!m_interaction) return;
    const QList<QUuid> sel = m_interaction->orderedSelection();
    m_interaction->store().setPinned(sel, !allPinned(sel));
}

void RowInteractionView::menuRemove() {
    if (m_interaction) m_interaction->store().remove(m_interaction->orderedSelection());
}
