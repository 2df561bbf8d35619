// A second process that takes what Stowbay hands to other programs. It prints "ready" once it can,
// then a line for each thing it is given.
//   stowbay_droptarget X Y WIDTH HEIGHT: a window that accepts any drag of URLs; prints "over" when a
//       drag moves over it, and "drop <url> <url> ..." for each drop. A size of 0x0 fills the
//       screen (on the Wayland platform, where a window cannot choose its place). With a fifth
//       argument "refuse" it refuses every drag (as a file manager refuses files for a folder it
//       cannot write to), printing "refused <url> ..." as one comes over it.
//   stowbay_droptarget filemanager1: a stand-in file manager on the session bus, which owns
//       org.freedesktop.FileManager1 and prints "ShowItems <uri> <uri> ..." per call.
//   stowbay_droptarget silent|xdnd4 NAME: a window titled NAME that speaks XDND itself and accepts
//       every drag as a copy. Silent, it neither reads the data nor finishes; speaking version 4,
//       it reads the file list at the drop, then finishes with no verdict (versions 2 to 4 send
//       none). It ends when its window is closed.
#include <QApplication>
#include <QDBusConnection>
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

static bool refuses = false;

class Target : public QWidget {
    bool m_shown = false;
    void paintEvent(QPaintEvent *) override {
        // Not filled yet: then it spans the screen's width (a desktop's top bar may take some of the
        // height).
        if (isMaximized() && width() != screen()->availableSize().width()) return;
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
    if (argc != 5 && (argc != 6 || qstrcmp(argv[5], "refuse") != 0)) return 2;
    Target target;
    refuses = argc == 6;
    target.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                          Qt::WindowStaysOnTopHint);
    target.setAcceptDrops(true);
    target.setGeometry(atoi(argv[1]), atoi(argv[2]), atoi(argv[3]), atoi(argv[4]));
    if (target.width() == 0) return target.resize(400, 300), target.showMaximized(), app.exec();
    target.show();
    return app.exec();
}

#include "droptarget.moc"
