// A stand-in file manager on the session bus: owns org.freedesktop.FileManager1 and prints
// "ShowItems <uri> <uri> ..." per call, and "ready" once the name is its own.
#include <QCoreApplication>
#include <QDBusConnection>
#include <cstdio>

class FileManager1 : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public slots:
    void ShowItems(const QStringList &uris, const QString &) {
        std::printf("ShowItems %s\n", qPrintable(uris.join(' ')));
        std::fflush(stdout);
    }
};

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    FileManager1 manager;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject("/org/freedesktop/FileManager1", &manager, QDBusConnection::ExportAllSlots) ||
        !bus.registerService("org.freedesktop.FileManager1"))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "filemanager1.moc"
