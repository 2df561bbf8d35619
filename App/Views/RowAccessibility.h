// What a screen reader learns about the item list: a list with one item per row, each named by
// its file's name and described by what its row says under the name (its size, "Folder",
// "Missing") and "Pinned"; selectable, selected, and focused where the keyboard stands.
#pragma once

class QWidget;

namespace RowAccessibility {
// Makes `rows`, the widget that holds the item rows in their order, the list; installs the
// accessibility factory the first time.
void exposeAsList(QWidget *rows);
// Makes a control that draws itself and does something when clicked (the drop zone, "Drag all") a
// button to a screen reader.
void exposeAsButton(QWidget *control);
} // namespace RowAccessibility
