// A second process to drag from: a window that, once the left button has moved the usual distance
// inside it, drags two files ("files") or some text ("text"). It prints "ready" once shown and
// "dropped, taken" or "dropped, refused" each time a drag is over, and "pressed" at each press.
// Files given after the window's place are dragged instead. A size of 0x0 fills the screen (on
// the Wayland platform, where a window cannot choose its place).
//   stowbay_dragsource files|text X Y WIDTH HEIGHT [FILE...]
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>
#include <cstdio>

class Source : public QWidget {
public:
    bool files = false, shown = false, fill = false;
    QList<QUrl> urls{QUrl::fromLocalFile("/tmp/report.txt"), QUrl::fromLocalFile("/tmp/photo.png")};
    QPoint pressedAt;

protected:
    void paintEvent(QPaintEvent *) override {
        // Not maximized yet: then it spans the screen's width (a desktop's top bar may take some of
        // the height).
        if (fill && width() != screen()->availableSize().width()) return;
        if (!std::exchange(shown, true)) std::puts("ready");
    }
    void mousePressEvent(QMouseEvent *event) override {
        pressedAt = event->position().toPoint();
        std::puts("pressed");
    }
    void mouseMoveEvent(QMouseEvent *event) override {
        if (!(event->buttons() & Qt::LeftButton) ||
            (event->position().toPoint() - pressedAt).manhattanLength() < QApplication::startDragDistance())
            return;
        auto *data = new QMimeData;
        if (files)
            data->setUrls(urls);
        else
            data->setText("a few words, no files");
        auto *drag = new QDrag(this);
        drag->setMimeData(data);
        const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
        std::puts(action == Qt::IgnoreAction ? "dropped, refused" : "dropped, taken");
    }
};

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc < 6) return 2;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    Source source;
    source.files = QByteArray(argv[1]) == "files";
    if (argc > 6) source.urls.clear();
    for (int i = 6; i < argc; ++i)
        source.urls << QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i]));
    // Frameless also when it fills the screen: a frame the desktop draws (KWin's) would keep it
    // from filling the available area.
    source.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                          Qt::WindowStaysOnTopHint);
    source.setGeometry(atoi(argv[2]), atoi(argv[3]), atoi(argv[4]), atoi(argv[5]));
    source.fill = source.width() == 0;
    if (source.fill) return source.resize(400, 300), source.showMaximized(), app.exec();
    source.show();
    return app.exec();
}
