// A second process to drop files on: a window that accepts any drag of URLs with the action the
// source proposes. It prints "ready" once shown, "over" the first time a drag moves over it, and
// for each drop one line "drop <action> <possible actions> <url> <url> ...".
//   stowbay_droptarget X Y WIDTH HEIGHT
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>
#include <cstdio>

namespace {
void say(const QByteArray &line) {
    std::printf("%s\n", line.constData());
    std::fflush(stdout);
}

class Target : public QWidget {
public:
    Target() {
        setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint);
        setAcceptDrops(true);
        setStyleSheet("background: #684");
    }

protected:
    void paintEvent(QPaintEvent *) override {
        if (m_announced) return;
        m_announced = true;
        say("ready");
    }
    void dragEnterEvent(QDragEnterEvent *event) override {
        if (event->mimeData()->hasUrls()) event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent *event) override {
        if (!event->mimeData()->hasUrls()) return;
        event->acceptProposedAction();
        if (!m_over) say("over");
        m_over = true;
    }
    void dropEvent(QDropEvent *event) override {
        QByteArray line = "drop " + QByteArray::number(int(event->proposedAction())) + ' ' +
                          QByteArray::number(int(event->possibleActions()));
        for (const QUrl &url : event->mimeData()->urls())
            line += ' ' + url.toEncoded();
        event->acceptProposedAction();
        m_over = false;
        say(line);
    }

private:
    bool m_announced = false;
    bool m_over = false;
};
} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc != 5) return 2;
    Target target;
    target.setGeometry(atoi(argv[1]), atoi(argv[2]), atoi(argv[3]), atoi(argv[4]));
    target.show();
    return app.exec();
}
