#include "Views/TabHandleView.h"

#include "Views/FileDropLoader.h"
#include "Views/Symbols.h"

#include <QDragEnterEvent>
#include <QMouseEvent>
#include <QPainter>

TabHandleView::TabHandleView(QWidget *parent) : QWidget(parent) {
    setToolTip(QStringLiteral("Stowbay"));
    setCursor(Qt::PointingHandCursor);
    setAcceptDrops(true);
}

void TabHandleView::setEdge(StowbayEdge edge) {
    m_edge = edge;
    update();
}

QRectF TabHandleView::gripRect() const {
    const QSizeF grip = m_edge == StowbayEdge::bottom ? QSizeF(36, 4) : QSizeF(4, 36);
    return QRectF(QPointF(width() - grip.width(), height() - grip.height()) / 2, grip);
}

void TabHandleView::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(PanelColors::white(0.55));
    const QRectF grip = gripRect();
    const double radius = std::min(grip.width(), grip.height()) / 2;
    p.drawRoundedRect(grip, radius, radius);
}

void TabHandleView::mousePressEvent(QMouseEvent *event) {
    m_pressed = event->button() == Qt::LeftButton;
}

void TabHandleView::mouseReleaseEvent(QMouseEvent *event) {
    if (std::exchange(m_pressed, false) && event->button() == Qt::LeftButton &&
        rect().contains(event->position().toPoint()) && onClick)
        onClick();
}

// A drag holds the pointer, so the tab sees no pointer entering it: the drag's own arrival opens the
// panel, which then takes the drop.
void TabHandleView::dragEnterEvent(QDragEnterEvent *event) {
    if (!FileDropLoader::offersFiles(event->mimeData())) return event->ignore();
    event->acceptProposedAction();
    if (onFileDragEnter) onFileDragEnter();
}
