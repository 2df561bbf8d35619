// Stowbay: a holding place for files while you drag.
#include <QApplication>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Stowbay");
    QApplication::setApplicationName("Stowbay");
    QApplication::setQuitOnLastWindowClosed(false);
    return app.exec();
}
