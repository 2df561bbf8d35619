// A second process that takes what Stowbay hands to other programs. It prints "ready" once it can,
// then a line for each thing it is given.
//   stowbay_droptarget X Y WIDTH HEIGHT: a window that accepts any drag of URLs; prints "over" when a
//       drag moves over it, and "drop <url> <url> ..." for each drop.
//   stowbay_droptarget filemanager1: a stand-in file manager on the session bus, which owns
//       org.freedesktop.FileManager1 and prints "ShowItems <uri> <uri> ..." per call.
#include <QApplication>
#include <QDBusConnection>
#include <QDropEvent>
#include <QMimeData>
#include <QWidget>
#include <cstdio>

static void say(const QString &line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

class Target : public QWidget {
    bool m_shown = false;
    void paintEvent(QPaintEvent *) override {
        if (!std::exchange(m_shown, true)) say("ready");
    }
    void dragEnterEvent(QDragEnterEvent *event) override {
        if (event->mimeData()->hasUrls()) event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent *event) override { event->acceptProposedAction(), say("over"); }
    void dropEvent(QDropEvent *event) override {
        event->acceptProposedAction();
        say("drop " + QUrl::toStringList(event->mimeData()->urls()).join(' '));
    }
};

class FileManager1 : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public slots:
    void ShowItems(const QStringList &uris, const QString &) { say("ShowItems " + uris.join(' ')); }
};

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "filemanager1") == 0) {
        FileManager1 manager;
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.registerObject("/org/freedesktop/FileManager1", &manager, QDBusConnection::ExportAllSlots) ||
            !bus.registerService("org.freedesktop.FileManager1"))
            return 1;
        say("ready");
        return app.exec();
    }
    if (argc != 5) return 2;
    Target target;
    target.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                          Qt::WindowStaysOnTopHint);
    target.setAcceptDrops(true);
    target.setGeometry(atoi(argv[1]), atoi(argv[2]), atoi(argv[3]), atoi(argv[4]));
    target.show();
    return app.exec();
}

#include "droptarget.moc"
