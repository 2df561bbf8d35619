#include "Interaction/StowbayDragSource.h"

#include "Input/DragDelivery.h"
#include "Interaction/StowbayDragState.h"

#include <QCoreApplication>
#include <QDrag>
#include <QDropEvent>
#include <QMimeData>

std::function<Qt::DropAction(QDrag &drag)> StowbayDragSource::perform;

namespace {
std::unique_ptr<StowbayDragSource> &currentSource() {
    static std::unique_ptr<StowbayDragSource> source;
    return source;
}
} // namespace

StowbayDragSource::StowbayDragSource(QList<QUuid> ids, EndCallback onEnd)
    : ids(std::move(ids)), onEnd(std::move(onEnd)) {}

StowbayDragSource *StowbayDragSource::current() {
    return currentSource().get();
}

bool StowbayDragSource::isInternal(const QMimeData *data) {
    return data && data->hasFormat(QLatin1String(internalFormat));
}

void StowbayDragSource::beginDraggingSession(std::unique_ptr<StowbayDragSource> source,
                                             const QList<QUrl> &urls, const QPixmap &image,
                                             const QPoint &hotSpot) {
    auto *data = new QMimeData;
    data->setUrls(urls);
    data->setData(QLatin1String(internalFormat), QByteArray::number(QCoreApplication::applicationPid()));
    // The drag outlives its session: on X11 the drop target may still be reading the files' URLs
    // after QDrag::exec has returned, and the platform deletes the drag once it has. So it belongs
    // to the application, not to this short-lived source.
    auto *drag = new QDrag(QCoreApplication::instance());
    drag->setMimeData(data);
    drag->setPixmap(image);
    drag->setHotSpot(hotSpot);

    // Serving this drag's data first settles an earlier drop still waiting for its target's word,
    // while its source is still the current one.
    DragDelivery &delivery = DragDelivery::system();
    delivery.serve(*data);
    StowbayDragSource *self = source.get();
    currentSource() = std::move(source);

    self->draggingSessionWillBegin();
    if (perform) {
        const Qt::DropAction operation = perform(*drag);
        delete drag;
        self->draggingSessionEnded(operation == Qt::IgnoreAction ? Outcome::cancelled : Outcome::delivered);
        return;
    }
    if (drag->exec(outsideOperations, Qt::CopyAction) == Qt::IgnoreAction) {
        self->draggingSessionEnded(Outcome::cancelled);
        return;
    }
    // Accepted at the drop; it has ended once the target says it has the files, or fails to.
    delivery.awaitDelivery([self](bool delivered) {
        self->draggingSessionEnded(delivered ? Outcome::delivered : Outcome::notDelivered);
    });
}

void StowbayDragSource::draggingSessionWillBegin() {
    StowbayDragState::internalActive = true;
    // Every window of the program refuses the drag while it runs, whoever draws the window.
    if (QCoreApplication *app = QCoreApplication::instance()) app->installEventFilter(this);
}

void StowbayDragSource::draggingSessionEnded(Outcome outcome) {
    StowbayDragState::internalActive = false;
    if (QCoreApplication *app = QCoreApplication::instance()) app->removeEventFilter(this);
    // Keeps this source alive to the end of the function, while no longer current.
    std::unique_ptr<StowbayDragSource> ending;
    if (currentSource().get() == this) ending = std::move(currentSource());
    if (onEnd) onEnd(ids, outcome == Outcome::delivered);
    if (outcome == Outcome::notDelivered) StowbayDragState::postDropNotDelivered();
    StowbayDragState::postInternalDragEnded();
}

bool StowbayDragSource::eventFilter(QObject *watched, QEvent *event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        if (!isInternal(drop->mimeData())) break;
        drop->setDropAction(Qt::IgnoreAction);
        drop->ignore();
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
