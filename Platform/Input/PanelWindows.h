// The top-level windows that make up the panel. The left-button presses that go down on one of
// them belong to the panel, and the drag watcher leaves them alone until their release.
#pragma once

#include <QSet>
#include <QtGlobal>

namespace PanelWindows {
// `window` is the native window id (QWidget::winId()).
void add(quintptr window);
void remove(quintptr window);
bool contains(quintptr window);
} // namespace PanelWindows
