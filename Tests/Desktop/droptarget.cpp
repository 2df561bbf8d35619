// A second process to drop files on: a window that accepts any drag of URLs. It prints "ready"
// once shown, "over" when a drag moves over it, and "drop <url> <url> ..." for each drop.
//   stowbay_droptarget X Y WIDTH HEIGHT
#include <QApplication>
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

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc != 5) return 2;
    Target target;
    target.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                          Qt::WindowStaysOnTopHint);
    target.setAcceptDrops(true);
    target.setGeometry(atoi(argv[1]), atoi(argv[2]), atoi(argv[3]), atoi(argv[4]));
    target.show();
    return app.exec();
}
