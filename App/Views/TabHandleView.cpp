#include "Views/TabHandleView.h"

#include "Views/FileDropLoader.h"
#include "Views/Symbols.h"

#include <QDragEnterEvent>
#include <QMouseEvent>
#include <QPainter>

TabHandleView::TabHandleView(QWidget *parent) : QWidget(parent) {
    setCursor(Qt::PointingHandCursor);
    setAcceptDrops(true);
    setCount(0);
}

void TabHandleView::setEdge(StowbayEdge edge) {
    m_edge = edge;
    update();
}

void TabHandleView::setCount(int count) {
    m_count = count;
    const QString text =
        QStringLiteral("Stowbay, %1 item%2").arg(count).arg(count == 1 ? QString() : QStringLiteral("s"));
    setToolTip(text);
    setAccessibleName(text);
    update();
}

QRectF TabHandleView::countRect() const {
    const QRectF r(rect());
    return m_edge == StowbayEdge::bottom ? QRectF(r.left(), r.top(), r.width() / 2, r.height())
                                         : QRectF(r.left(), r.top(), r.width(), r.height() / 2);
}

QRectF TabHandleView::gripRect() const {
    const bool across = m_edge == StowbayEdge::bottom;
    const QSizeF grip = across ? QSizeF(24, 4) : QSizeF(4, 24);
    const QRectF r(rect());
    const QRectF half = across ? QRectF(r.center().x(), r.top(), r.width() / 2, r.height())
                               : QRectF(r.left(), r.center().y(), r.width(), r.height() / 2);
    QRectF g(QPointF(), grip);
    g.moveCenter(half.center());
    return g;
}

void TabHandleView::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(PanelColors::white(0.55));
    const QRectF grip = gripRect();
    const double radius = std::min(grip.width(), grip.height()) / 2;
    p.drawRoundedRect(grip, radius, radius);

    // The count in the tab's narrow width: three digits ("100") stand on their side.
    const QString text = QString::number(m_count);
    QFont font = this->font();
    font.setPixelSize(11);
    font.setWeight(QFont::DemiBold);
    p.setFont(font);
    p.setPen(PanelColors::primary());
    const QRectF box = countRect();
    const double thickness = std::min(width(), height());
    if (QFontMetricsF(font).horizontalAdvance(text) <= thickness - 2 || m_edge == StowbayEdge::bottom) {
        p.drawText(box, Qt::AlignCenter, text);
        return;
    }
    p.translate(box.center());
    p.rotate(m_edge == StowbayEdge::left ? 90 : -90);
    p.drawText(QRectF(-box.height() / 2, -box.width() / 2, box.height(), box.width()), Qt::AlignCenter, text);
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
