// What a drag out of the program needs from the desktop besides the toolkit's drag: that every
// program asking for the dragged data gets it, and word of whether the drop target received it.
#pragma once

#include <functional>

class QMimeData;

class DragDelivery {
public:
    virtual ~DragDelivery() = default;

    // Called before a drag of `data` runs: from then on its data goes to whoever asks for it, in
    // every type the drag offers, and what the drop target answers is followed. A drop of an
    // earlier drag still waiting for its word is settled first, as not delivered.
    virtual void serve(const QMimeData &data) = 0;

    // Called once the drag was dropped on a target that accepted it. `settled` is called once,
    // later or at once: true when the target confirmed that it received the data; false when it
    // refused it, never read it, or said nothing within a few seconds.
    virtual void awaitDelivery(std::function<void(bool delivered)> settled) = 0;

    // The desktop's own; where it tells nothing, an accepted drop counts as delivered at once.
    static DragDelivery &system();
};
