#include "Views/Symbols.h"

#include <QPainter>
#include <QPainterPath>

namespace {
// Draws on a 24-unit grid scaled into `box`, with round strokes of `width` grid units.
void withGrid(QPainter &p, const QRectF &box, const QColor &color, double width, auto draw) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(box.width(), box.height());
    p.translate(box.center() - QPointF(side / 2, side / 2));
    p.scale(side / 24, side / 24);
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    draw();
    p.restore();
}
} // namespace

void Symbols::arrowIntoTray(QPainter &p, const QRectF &box, const QColor &color) {
    withGrid(p, box, color, 1.6, [&] {
        QPainterPath tray;
        tray.moveTo(7, 10);
        tray.lineTo(4, 10);
        tray.lineTo(4, 20);
        tray.lineTo(20, 20);
        tray.lineTo(20, 10);
        tray.lineTo(17, 10);
        p.drawPath(tray);
        p.drawLine(QPointF(12, 2.5), QPointF(12, 14.5));
        p.drawPolyline(QPolygonF({{8, 10.5}, {12, 14.5}, {16, 10.5}}));
    });
}

void Symbols::arrowOutOfSquare(QPainter &p, const QRectF &box, const QColor &color) {
    withGrid(p, box, color, 1.8, [&] {
        p.drawPolyline(QPolygonF({{11, 5}, {5, 5}, {5, 19}, {19, 19}, {19, 13}}));
        p.drawLine(QPointF(11, 13), QPointF(20, 4));
        p.drawPolyline(QPolygonF({{14, 4}, {20, 4}, {20, 10}}));
    });
}

void Symbols::pin(QPainter &p, const QRectF &box, const QColor &color) {
    withGrid(p, box, color, 2.0, [&] {
        p.setBrush(color);
        QPainterPath head;
        head.moveTo(8, 3);
        head.lineTo(16, 3);
        head.lineTo(15, 10);
        head.lineTo(18, 14);
        head.lineTo(6, 14);
        head.lineTo(9, 10);
        head.closeSubpath();
        p.drawPath(head);
        p.drawLine(QPointF(12, 14), QPointF(12, 22));
    });
}
