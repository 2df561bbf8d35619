#include "Panel/StowbayPanel.h"

#include "Input/FloatingWindow.h"
#include "Input/PanelWindows.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

StowbayBackgroundView::StowbayBackgroundView(QWidget *parent) : QWidget(parent) {
    setAttribute(Qt::WA_Hover, false);
    setMouseTracking(false);
    setTranslucent(FloatingWindow::isTranslucent());
    FloatingWindow::watchTranslucency(this, [this](bool translucent) { setTranslucent(translucent); });
}

void StowbayBackgroundView::setCornerRadius(double radius) {
    if (radius == m_cornerRadius) return;
    m_cornerRadius = radius;
    updateShape();
    update();
}

void StowbayBackgroundView::setTranslucent(bool translucent) {
    m_translucent = translucent;
    updateShape();
    update();
}

// Without a compositor transparent pixels show black: the window is cut to the rounded shape.
void StowbayBackgroundView::updateShape() {
    QWidget *w = window();
    if (w == this) return;
    if (m_translucent) {
        w->clearMask();
        m_blurred = FloatingWindow::blurBehind(w);
        return;
    }
    QPainterPath path;
    path.addRoundedRect(QRectF(w->rect()), m_cornerRadius, m_cornerRadius);
    w->setMask(QRegion(path.toFillPolygon().toPolygon()));
}

void StowbayBackgroundView::enterEvent(QEnterEvent *) {
    if (onEnter) onEnter();
}

void StowbayBackgroundView::leaveEvent(QEvent *) {
    if (onExit) onExit();
}

void StowbayBackgroundView::resizeEvent(QResizeEvent *) {
    updateShape();
}

void StowbayBackgroundView::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    const QRectF r = QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25);
    p.setPen(QPen(QColor(255, 255, 255, qRound(0.15 * 255)), 0.5));
    // Translucent only as far as the window behind cannot be read through it: a little where the
    // compositor blurs it, hardly at all where it does not.
    p.setBrush(!m_translucent ? QColor(36, 36, 40) : QColor(28, 28, 32, m_blurred ? 215 : 250));
    p.drawRoundedRect(r, m_cornerRadius, m_cornerRadius);
}

StowbayPanel::StowbayPanel(const QRect &contentRect) {
    FloatingWindow::configure(this);
    setGeometry(contentRect);
    // Keys reach it when none of its views has the keyboard, but Tab never stops on it.
    setFocusPolicy(Qt::ClickFocus);
    setWindowTitle(QStringLiteral("Stowbay"));
    setAccessibleName(QStringLiteral("Stowbay"));
    // The rows' tool tips show while another program has the keyboard, as during a drag.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    // The press that goes down on the panel is the panel's own: the drag watcher leaves it alone.
    PanelWindows::add(winId());
    qApp->installEventFilter(this);
}

StowbayPanel::~StowbayPanel() {
    PanelWindows::remove(winId());
}

void StowbayPanel::setContentView(StowbayBackgroundView *view) {
    m_contentView = view;
    view->setParent(this);
    view->setGeometry(rect());
    view->show();
    view->setTranslucent(view->isTranslucent()); // now that it is in the window, cut the window
}

void StowbayPanel::resizeEvent(QResizeEvent *) {
    if (m_contentView) m_contentView->setGeometry(rect());
}

void StowbayPanel::setFade(double opacity) {
    FloatingWindow::setOpacity(this, opacity);
}

void StowbayPanel::orderFrontRegardless() {
    show();
    raise();
}

void StowbayPanel::makeKey() {
    FloatingWindow::activate(this);
}

void StowbayPanel::resignKey() {
    if (isKeyWindow()) FloatingWindow::resign(this);
}

bool StowbayPanel::event(QEvent *event) {
    if (event->type() == QEvent::KeyPress && keyHandler && keyHandler(static_cast<QKeyEvent *>(event)))
        return true;
    return QWidget::event(event);
}

// Key presses reach the panel whichever of its views has the keyboard; a click anywhere in it
// gives the panel the keyboard.
bool StowbayPanel::eventFilter(QObject *watched, QEvent *event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::KeyPress) return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != this) return false;
    if (type == QEvent::MouseButtonPress) {
        FloatingWindow::activate(this);
        return false;
    }
    // The panel's own presses go through event().
    return widget != this && keyHandler && keyHandler(static_cast<QKeyEvent *>(event));
}
