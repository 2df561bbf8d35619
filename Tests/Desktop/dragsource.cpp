// A second process to drag from: a window that starts a drag of files (argument "files") or of
// text only ("text") as soon as the left button has moved the usual distance inside it. It prints
// "ready" once shown and "dropped" each time a drag is over.
//   stowbay_dragsource files|text X Y WIDTH HEIGHT
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>
#include <cstdio>

namespace {
class Source : public QWidget {
public:
    Source(bool files, const QList<QUrl> &urls) : m_files(files), m_urls(urls) {
        setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint);
        setAttribute(Qt::WA_OpaquePaintEvent, false);
        setStyleSheet("background: #468");
    }

protected:
    void paintEvent(QPaintEvent *) override {
        if (m_announced) return;
        m_announced = true;
        say("ready");
    }
    void mousePressEvent(QMouseEvent *event) override { m_pressedAt = event->position().toPoint(); }
    void mouseMoveEvent(QMouseEvent *event) override {
        if (m_dragging || !(event->buttons() & Qt::LeftButton)) return;
        if ((event->position().toPoint() - m_pressedAt).manhattanLength() < QApplication::startDragDistance())
            return;
        m_dragging = true;
        auto *data = new QMimeData;
        if (m_files)
            data->setUrls(m_urls);
        else
            data->setText(QStringLiteral("a few words, no files"));
        auto *drag = new QDrag(this);
        drag->setMimeData(data);
        drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
        m_dragging = false;
        say("dropped");
    }

private:
    static void say(const char *line) {
        std::printf("%s\n", line);
        std::fflush(stdout);
    }

    bool m_files;
    QList<QUrl> m_urls;
    QPoint m_pressedAt;
    bool m_dragging = false;
    bool m_announced = false;
};
} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc != 6) return 2;
    QTemporaryDir dir;
    QList<QUrl> urls;
    for (const char *name : {"report.txt", "photo.png"}) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly)) return 1;
        file.write("content");
        urls.append(QUrl::fromLocalFile(file.fileName()));
    }
    Source source(QByteArray(argv[1]) == "files", urls);
    source.setGeometry(atoi(argv[2]), atoi(argv[3]), atoi(argv[4]), atoi(argv[5]));
    source.show();
    return app.exec();
}
