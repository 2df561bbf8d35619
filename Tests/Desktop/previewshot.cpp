// Takes a picture of the preview window showing one file, for the README.
//   stowbay_previewshot FILE OUTPUT.png
// With FILE "-" it first draws a sample picture of its own and previews that.
#include "QuickLookController.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QWindow>

static QString drawSample(const QString &folder) {
    QImage image(960, 600, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 600);
    sky.setColorAt(0, QColor(40, 60, 120));
    sky.setColorAt(0.6, QColor(230, 120, 80));
    sky.setColorAt(1, QColor(250, 200, 120));
    painter.fillRect(image.rect(), sky);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 230, 150));
    painter.drawEllipse(QPointF(620, 380), 90, 90);
    painter.setBrush(QColor(40, 40, 70));
    painter.drawPolygon(
        QPolygonF({{0, 600}, {0, 430}, {220, 300}, {420, 450}, {640, 330}, {960, 480}, {960, 600}}));
    painter.end();
    const QString path = folder + "/evening hills.png";
    image.save(path);
    return path;
}

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc != 3) return 2;
    QTemporaryDir dir;
    const QString file =
        QString::fromLocal8Bit(argv[1]) == "-" ? drawSample(dir.path()) : QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    QuickLookController::shared().show({QUrl::fromLocalFile(file)});
    QWidget *panel = PreviewPanel::shared();
    // Time for the window manager to frame it and the compositor to draw it.
    QTimer::singleShot(1500, [&] {
        const QRect frame = panel->frameGeometry();
        QScreen *screen = panel->screen();
        const QPixmap shot = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        app.exit(shot.save(output) ? 0 : 1);
    });
    return app.exec();
}
