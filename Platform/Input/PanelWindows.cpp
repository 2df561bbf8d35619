#include "Input/PanelWindows.h"

namespace {
QSet<quintptr> &windows() {
    static QSet<quintptr> set;
    return set;
}
} // namespace

void PanelWindows::add(quintptr window) {
    windows().insert(window);
}

void PanelWindows::remove(quintptr window) {
    windows().remove(window);
}

bool PanelWindows::contains(quintptr window) {
    return window != 0 && windows().contains(window);
}
