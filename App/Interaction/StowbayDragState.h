// Whether a drag out of the panel is in progress, and the announcement of its end. Written by
// the panel's drag source; read by the drag watcher and the panel controller. Main thread only.
#pragma once

#include <QObject>

class StowbayDragState : public QObject {
    Q_OBJECT
public:
    // True from the moment a drag out of the panel begins until it ends (after a drop, once the
    // target's word on it is in).
    static bool internalActive;

    // The process-wide sender of stowbayInternalDragEnded.
    static StowbayDragState &center();

    // Announces the end of a drag out of the panel, after the store has been settled.
    static void postInternalDragEnded() { emit center().stowbayInternalDragEnded(); }
    // Announces, just before the end, that the target took the drop but never received the files.
    static void postDropNotDelivered() { emit center().dropNotDelivered(); }

signals:
    void stowbayInternalDragEnded();
    void dropNotDelivered();

private:
    StowbayDragState() = default;
};
