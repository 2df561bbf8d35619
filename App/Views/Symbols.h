// The small line drawings of the panel, drawn by us so they look the same under every icon theme:
// an arrow down into a tray (drop here), an arrow out of a square (drag out) and a pin.
#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

namespace Symbols {
void arrowIntoTray(QPainter &p, const QRectF &box, const QColor &color);
void arrowOutOfSquare(QPainter &p, const QRectF &box, const QColor &color);
void pin(QPainter &p, const QRectF &box, const QColor &color);
} // namespace Symbols

// The colours drawn on the panel, which is always dark.
namespace PanelColors {
inline QColor white(double alpha) {
    return QColor::fromRgbF(1, 1, 1, float(alpha));
}
inline QColor accent(double alpha = 1) {
    return QColor::fromRgbF(0.04f, 0.52f, 1.0f, float(alpha));
}
inline QColor primary() {
    return white(0.92);
}
inline QColor secondary() {
    return white(0.55);
}
inline QColor missing() {
    return QColor(255, 105, 97);
}
} // namespace PanelColors
