// A second process to drag from or drop on, for the desktop tests. It prints "ready" once it can,
// then a line for each thing that happens. A window's size of 0x0 fills the screen (on the Wayland
// platform, where a window cannot choose its place). Built as stowbay_dragsource and
// stowbay_droptarget; the arguments say which it is.
//   files|text X Y WIDTH HEIGHT [FILE...]: a window that, once the left button has moved the usual
//       distance inside it, drags two files ("files", or the FILEs given) or some text ("text"). It
//       prints "pressed" at each press and "dropped, taken" or "dropped, refused" each time a drag
//       is over.
//   X Y WIDTH HEIGHT [refuse]: a window that accepts any drag of URLs; prints "over" when a drag
//       moves over it, and "drop <url> <url> ..." for each drop. With "refuse" it refuses every
//       drag (as a file manager refuses files for a folder it cannot write to), printing
//       "refused <url> ..." as one comes over it.
//   filemanager1: a stand-in file manager on the session bus, which owns
//       org.freedesktop.FileManager1 and prints "ShowItems <uri> <uri> ..." per call.
//   silent|xdnd4 NAME: a window titled NAME that speaks XDND itself and accepts every drag as a
//       copy. Silent, it neither reads the data nor finishes; speaking version 4, it reads the file
//       list at the drop, then finishes with no verdict (versions 2 to 4 send none). It ends when
//       its window is closed.
#include <QApplication>
#include <QDBusConnection>
#include <QDrag>
#include <QDropEvent>
#include <QMimeData>
#include <QScreen>
#include <QWidget>
#include <cstdio>

// Xlib after Qt: its macros would break Qt's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

static void say(const QString &line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

class Peer : public QWidget {
public:
    bool drags = false, refuses = false; // a drag source; a drop target that refuses every drag
    bool fill = false;                   // a drag source asked to fill the screen, maximized or not
    QList<QUrl> urls;                    // what a drag source drags: files, else text
    QPoint pressedAt;

private:
    bool m_shown = false;
    void paintEvent(QPaintEvent *) override {
        // Not filled yet: then it spans the screen's width (a desktop's top bar may take some of the
        // height).
        if ((fill || isMaximized()) && width() != screen()->availableSize().width()) return;
        if (!std::exchange(m_shown, true)) say("ready");
    }
    void dragEnterEvent(QDragEnterEvent *event) override {
        if (refuses)
            return event->ignore(), say("refused " + QUrl::toStringList(event->mimeData()->urls()).join(' '));
        if (event->mimeData()->hasUrls()) event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent *event) override { event->acceptProposedAction(), say("over"); }
    void dropEvent(QDropEvent *event) override {
        event->acceptProposedAction();
        say("drop " + QUrl::toStringList(event->mimeData()->urls()).join(' '));
    }
    void mousePressEvent(QMouseEvent *event) override {
        if (!drags) return;
        pressedAt = event->position().toPoint();
        say("pressed");
    }
    void mouseMoveEvent(QMouseEvent *event) override {
        if (!drags || !(event->buttons() & Qt::LeftButton) ||
            (event->position().toPoint() - pressedAt).manhattanLength() < QApplication::startDragDistance())
            return;
        auto *data = new QMimeData;
        if (urls.isEmpty())
            data->setText("a few words, no files");
        else
            data->setUrls(urls);
        auto *drag = new QDrag(this);
        drag->setMimeData(data);
        const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
        say(action == Qt::IgnoreAction ? "dropped, refused" : "dropped, taken");
    }
};

class FileManager1 : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public slots:
    void ShowItems(const QStringList &uris, const QString &) { say("ShowItems " + uris.join(' ')); }
};

static int speaksXdnd(const char *name, long version) {
    Display *d = XOpenDisplay(nullptr);
    const auto atom = [d](const char *name) { return XInternAtom(d, name, False); };
    const Window window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 400, 300, 0, 0, 0xffffff);
    const long copy = long(atom("XdndActionCopy"));
    XChangeProperty(d, window, atom("XdndAware"), XA_ATOM, 32, PropModeReplace, (unsigned char *)&version, 1);
    XStoreName(d, window, name);
    XSelectInput(d, window, StructureNotifyMask);
    XMapWindow(d, window);
    Window source = None;
    const auto tell = [&](const char *message, long l1, long l4) {
        XEvent m{};
        m.xclient = {
            ClientMessage, 0, False, d, source, atom(message), 32, {.l = {long(window), l1, 0, 0, l4}}};
        XSendEvent(d, source, False, NoEventMask, &m);
    };
    for (XEvent e; XNextEvent(d, &e) == 0 && e.type != DestroyNotify;) {
        if (e.type == SelectionNotify) tell("XdndFinished", 0, 0); // the list has been read
        if (e.type != ClientMessage) continue;
        source = Window(e.xclient.data.l[0]);
        if (e.xclient.message_type == atom("XdndPosition")) tell("XdndStatus", 1, copy);
        if (e.xclient.message_type == atom("XdndDrop") && version < 5)
            XConvertSelection(d, atom("XdndSelection"), atom("text/uri-list"), atom("XdndSelection"), window,
                              Time(e.xclient.data.l[2]));
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 3 && (qstrcmp(argv[1], "silent") == 0 || qstrcmp(argv[1], "xdnd4") == 0))
        return speaksXdnd(argv[2], qstrcmp(argv[1], "silent") == 0 ? 5 : 4);
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
    Peer peer;
    const bool files = qstrcmp(argv[1], "files") == 0;
    peer.drags = argc >= 6 && (files || qstrcmp(argv[1], "text") == 0);
    for (int i = 6; files && i < argc; ++i)
        peer.urls << QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i]));
    if (files && peer.urls.isEmpty())
        peer.urls = {QUrl::fromLocalFile("/tmp/report.txt"), QUrl::fromLocalFile("/tmp/photo.png")};
    if (!peer.drags && argc != 5 && (argc != 6 || qstrcmp(argv[5], "refuse") != 0)) return 2;
    peer.refuses = !peer.drags && argc == 6;
    peer.setAcceptDrops(!peer.drags);
    char **place = argv + (peer.drags ? 2 : 1);
    // Frameless also when it fills the screen: a frame the desktop draws (KWin's) would keep it
    // from filling the available area.
    peer.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint);
    peer.setGeometry(atoi(place[0]), atoi(place[1]), atoi(place[2]), atoi(place[3]));
    peer.fill = peer.drags && peer.width() == 0;
    if (peer.width() == 0) return peer.resize(400, 300), peer.showMaximized(), app.exec();
    peer.show();
    return app.exec();
}

#include "dndpeer.moc"
