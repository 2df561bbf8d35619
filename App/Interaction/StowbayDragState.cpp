#include "Interaction/StowbayDragState.h"

bool StowbayDragState::internalActive = false;

StowbayDragState &StowbayDragState::center() {
    static StowbayDragState instance;
    return instance;
}
