// The source of a drag of files out of the panel. It offers copy, move and link to other
// applications and nothing at all to Stowbay's own windows, marks the drag as internal while it
// runs, and when it ends settles the store and announces the end (stowbayInternalDragEnded).
// A drop ends the drag only once the target has confirmed that it received the files, or failed
// to: only a delivered drop counts as accepted.
#pragma once

#include <QList>
#include <QObject>
#include <QPixmap>
#include <QUrl>
#include <QUuid>
#include <functional>
#include <memory>

class QDrag;
class QMimeData;

class StowbayDragSource : public QObject {
    Q_OBJECT
public:
    using EndCallback = std::function<void(const QList<QUuid> &ids, bool accepted)>;

    static constexpr Qt::DropActions outsideOperations = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    // Carried by every drag out of the panel, so that Stowbay's windows know to refuse it.
    static constexpr const char *internalFormat = "application/x-stowbay-internal-drag";

    StowbayDragSource(QList<QUuid> ids, EndCallback onEnd);

    const QList<QUuid> ids; // the dragged items whose files exist
    const EndCallback onEnd;

    // Runs the drag of `urls` with `image` under the pointer at `hotSpot` (QDrag runs it in a
    // nested event loop); returns at the drop, when the end may still wait for the target's word.
    // The source is kept as current() until the end has been handled.
    static void beginDraggingSession(std::unique_ptr<StowbayDragSource> source, const QList<QUrl> &urls,
                                     const QPixmap &image, const QPoint &hotSpot);
    static StowbayDragSource *current();
    static bool isInternal(const QMimeData *data);

    // How a drag is run; tests replace it to act as the drop target. Empty: QDrag::exec.
    static std::function<Qt::DropAction(QDrag &drag)> perform;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Outcome { cancelled, delivered, notDelivered };
    void draggingSessionWillBegin();
    void draggingSessionEnded(Outcome outcome);
};
