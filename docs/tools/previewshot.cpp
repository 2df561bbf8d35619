// Takes a picture of the preview window showing one file, for the README.
//   stowbay_previewshot FILE OUTPUT.png
// With FILE "-" it previews a sample picture of its own.
#include "Interaction/QuickLookController.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

static QString drawSample(const QString &folder) {
    QImage image(960, 600, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 600);
    sky.setColorAt(0, QColor(40, 60, 120));
    sky.setColorAt(1, QColor(250, 200, 120));
    painter.fillRect(image.rect(), sky);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 230, 150));
    painter.drawEllipse(QPointF(620, 380), 90, 90);
    painter.end();
    const QString path = folder + "/evening sun.png";
    return image.save(path) ? path : QString();
}

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc != 3) return 2;
    QTemporaryDir dir;
    const QString file =
        QByteArray(argv[1]) == "-" ? drawSample(dir.path()) : QString::fromLocal8Bit(argv[1]);
    QuickLookController::shared().show({QUrl::fromLocalFile(file)});
    // Time for the window manager to frame it and the compositor to draw it.
    QTimer::singleShot(1500, [&] {
        const QRect frame = PreviewPanel::shared()->frameGeometry();
        const QPixmap shot = PreviewPanel::shared()->screen()->grabWindow(0, frame.x(), frame.y(),
                                                                          frame.width(), frame.height());
        app.exit(shot.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1);
    });
    return app.exec();
}
