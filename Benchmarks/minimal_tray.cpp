// The smallest Qt program that sits in the tray with a menu: what every tray program pays.
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::darkGray);
    QMenu menu;
    menu.addAction("Quit", &app, &QCoreApplication::quit);
    QSystemTrayIcon icon{QIcon(pixmap)};
    icon.setToolTip("Minimal");
    icon.setContextMenu(&menu);
    icon.show();
    return app.exec();
}
