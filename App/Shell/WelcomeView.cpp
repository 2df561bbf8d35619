#include "Shell/WelcomeView.h"

#include "Session/UserDefaults.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <numbers>

namespace {
const char *const kDidShowWelcome = "didShowWelcome";

const QColor white(255, 255, 255);
const QColor blue(0, 122, 255);
const QColor grey(142, 142, 147);
const QColor black(0, 0, 0);

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(float(std::clamp(alpha, 0.0, 1.0)));
    return color;
}

double clamp01(double t) {
    return std::clamp(t, 0.0, 1.0);
}

double ease(double t) {
    t = clamp01(t);
    return t * t * (3 - 2 * t);
}

QPainterPath roundedRect(const QRectF &rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// A document centred on (x, y): a page with a folded corner and three lines of text.
void drawFile(QPainter &painter, double x, double y, double alpha) {
    const QRectF r(x - 16, y - 20, 32, 40);
    painter.fillPath(roundedRect(r, 5), withAlpha(white, alpha));
    QPainterPath corner;
    corner.moveTo(r.right() - 10, r.top());
    corner.lineTo(r.right(), r.top() + 10);
    corner.lineTo(r.right() - 10, r.top() + 10);
    corner.closeSubpath();
    painter.fillPath(corner, withAlpha(blue, alpha * 0.5));
    for (double dy : {16.0, 23.0, 30.0})
        painter.fillRect(QRectF(r.left() + 6, r.top() + dy, 20, 2), withAlpha(grey, alpha * 0.6));
}

// The drawing with its dark rounded background; repainted on every frame while shown.
class Canvas : public QWidget {
public:
    explicit Canvas(QWidget *parent) : QWidget(parent) { setFixedSize(WelcomeView::canvasSize); }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPainterPath background = roundedRect(rect(), 12);
        painter.fillPath(background, QColor::fromRgbF(0.12f, 0.12f, 0.12f));
        painter.setClipPath(background);
        const double seconds = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
        WelcomeView::paintFrame(painter, size(), WelcomeView::phase(seconds));
    }
};
} // namespace

double WelcomeView::phase(double seconds) {
    const double p = std::fmod(seconds, loopSeconds) / loopSeconds;
    return p < 0 ? p + 1 : p;
}

void WelcomeView::paintFrame(QPainter &painter, QSizeF size, double p) {
    const double w = size.width();
    const double h = size.height();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    // The stowbay slides in while the file is shaken and out again at the end of the loop.
    const double s1 = ease((p - 0.38) / 0.12);
    const double s2 = ease((p - 0.9) / 0.1);
    const double px = w + 10 - 104 * (s1 - s2);
    const QRectF panel(px, 20, 84, h - 40);
    painter.fillPath(roundedRect(panel, 12), withAlpha(white, 0.16));
    QPen dashes(withAlpha(white, 0.35), 1.5, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    dashes.setDashPattern({5 / 1.5, 4 / 1.5}); // in points, where Qt counts in line widths
    dashes.setMiterLimit(10);
    painter.strokePath(roundedRect(panel.adjusted(8, 8, -8, -8), 8), dashes);

    // Where the file is: picked up, shaken, dropped on the stowbay, lying there.
    double fx = w - 52;
    double fy = 0.5 * h;
    double alpha = 1;
    const bool shaking = p >= 0.25 && p < 0.5;
    const double t = 4 * (p - 0.25);
    if (p < 0.25) {
        fx = 50 + 90 * ease(4 * p);
        fy = 0.72 * h - 40 * ease(4 * p);
    } else if (shaking) {
        fx = 140 + 42 * std::sin(8 * std::numbers::pi * t);
        fy = 0.5 * h - 4 * std::sin(2 * std::numbers::pi * t);
    } else if (p < 0.72) {
        fx = 140 + (w - 52 - 140) * ease((p - 0.5) / 0.22);
    } else {
        alpha = 1 - s2;
    }

    if (shaking) {
        // Two fading copies behind the file, on the side it comes from.
        const double d = std::sin(8 * std::numbers::pi * t + 0.4) > 0 ? 1 : -1;
        drawFile(painter, fx - 12 * d, fy, 0.18);
        drawFile(painter, fx - 24 * d, fy, 0.09);
    }
    drawFile(painter, fx, fy, alpha);

    // The pointer holds the file until it is dropped.
    if (p < 0.72) {
        const double x = fx + 14;
        const double y = fy + 14;
        QPainterPath arrow;
        arrow.moveTo(x, y);
        arrow.lineTo(x, y + 18);
        arrow.lineTo(x + 5, y + 14);
        arrow.lineTo(x + 12, y + 13);
        arrow.closeSubpath();
        painter.fillPath(arrow, white);
        painter.strokePath(arrow, QPen(black, 1));
    }
    painter.restore();
}

WelcomeView::WelcomeView(QWidget *parent) : QWidget(parent) {
    setFixedWidth(contentSize.width());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);

    m_canvas = new Canvas(this);
    layout->addWidget(m_canvas, 0, Qt::AlignHCenter);

    auto *headline = new QLabel(QStringLiteral("Drag a file and shake the mouse"), this);
    QFont font = headline->font();
    font.setPointSizeF(font.pointSizeF() * 1.3);
    font.setBold(true);
    headline->setFont(font);
    headline->setAlignment(Qt::AlignCenter);
    layout->addWidget(headline);

    QPalette secondary = palette();
    secondary.setColor(QPalette::WindowText, secondary.color(QPalette::PlaceholderText));
    auto *explanation = new QLabel(
        QStringLiteral(
            "While you drag files, shake the mouse and Stowbay slides in at the screen edge. Drop the "
            "files on it, go to another app or folder, then drag them out. Stowbay only keeps "
            "references, never copies."),
        this);
    explanation->setWordWrap(true);
    explanation->setAlignment(Qt::AlignCenter);
    explanation->setPalette(secondary);
    layout->addWidget(explanation);

    auto *hint = new QLabel(
        QStringLiteral("Stowbay lives in the system tray. Press Ctrl+Alt+S to show or hide it."), this);
    hint->setWordWrap(true);
    hint->setAlignment(Qt::AlignCenter);
    hint->setPalette(secondary);
    QFont callout = hint->font();
    callout.setPointSizeF(callout.pointSizeF() * 0.92);
    hint->setFont(callout);
    layout->addWidget(hint);

    auto *done = new QPushButton(QStringLiteral("Got it"), this);
    // Return presses it: it holds the keyboard from the start.
    done->setDefault(true);
    done->setFocus();
    connect(done, &QPushButton::clicked, this, [this] {
        if (onDone) onDone();
    });
    layout->addWidget(done, 0, Qt::AlignHCenter);

    m_frameTimer = new QTimer(this);
    m_frameTimer->setTimerType(Qt::PreciseTimer);
    connect(m_frameTimer, &QTimer::timeout, m_canvas, qOverload<>(&QWidget::update));

    // The desktop's fonts are often wider than the texts were written for: rather than let them
    // overlap the drawing, the window grows taller.
    setFixedHeight(std::max(contentSize.height(), sizeHint().height()));
}

void WelcomeView::showEvent(QShowEvent *event) {
    // One repaint per frame of the screen the window is on.
    const QScreen *screen = this->screen();
    const double rate = screen && screen->refreshRate() > 1 ? screen->refreshRate() : 60.0;
    m_frameTimer->start(std::max(1, int(std::lround(1000.0 / rate))));
    QWidget::showEvent(event);
}

void WelcomeView::keyPressEvent(QKeyEvent *event) {
    // Escape and the desktop's Close keys (Ctrl+W) close it, as they close any dialog.
    if (event->key() == Qt::Key_Escape || event->matches(QKeySequence::Close))
        close();
    else
        QWidget::keyPressEvent(event);
}

void WelcomeView::hideEvent(QHideEvent *event) {
    m_frameTimer->stop();
    QWidget::hideEvent(event);
}

WelcomeView *WelcomeView::showIfFirstRun(UserDefaults &defaults) {
    if (defaults.boolean(kDidShowWelcome)) return nullptr;
    defaults.setValue(kDidShowWelcome, true);
    return showWindow();
}

WelcomeView *WelcomeView::showWindow() {
    auto *window = new WelcomeView;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
    window->setWindowTitle(QStringLiteral("Welcome to Stowbay"));
    window->onDone = [window] { window->close(); };
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), window->size());
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
