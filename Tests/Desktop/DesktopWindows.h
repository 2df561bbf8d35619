// Other programs' windows as a person sees them, through xdotool and xwininfo: where the real
// Stowbay's windows are, and folder windows of the file manager placed where a test wants them.
#pragma once

#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QStringList>

namespace DesktopWindows {

inline QString run(const QString &program, const QStringList &args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(20000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

inline int field(const QString &text, const char *name) {
    return QRegularExpression(QString("%1[:=]\\s*(-?\\d+)").arg(name)).match(text).captured(1).toInt();
}

// The ids of the shown windows that xdotool's `search` finds (e.g. --name NAME, --pid PID).
inline QStringList shown(const QStringList &search) {
    return run("xdotool", QStringList{"search", "--onlyvisible"} + search).split('\n', Qt::SkipEmptyParts);
}

// Where window `id` is on the screen, as another client sees it; nothing when it is not shown.
inline QRect shownAt(const QString &id) {
    const QString info = run("xwininfo", {"-id", id});
    if (!info.contains("IsViewable")) return {};
    return QRect(field(info, "Absolute upper-left X"), field(info, "Absolute upper-left Y"),
                 field(info, "Width"), field(info, "Height"));
}

// The shown top-level windows of process `pid`.
inline QList<QRect> windowsOf(qint64 pid) {
    QList<QRect> rects;
    for (const QString &id : shown({"--pid", QString::number(pid)}))
        if (const QRect r = shownAt(id); !r.isNull()) rects << r;
    return rects;
}

// The window titled `name` (a folder window shows its folder's name), given `size` and placed at
// `at`; returns where it is.
inline QRect placeWindow(const QString &name, QPoint at, QSize size = {800, 480}) {
    const QString id =
        run("xdotool", {"search", "--sync", "--onlyvisible", "--name", name}).section('\n', 0, 0);
    run("xdotool",
        {"windowsize", "--sync", id, QString::number(size.width()), QString::number(size.height())});
    run("xdotool", {"windowmove", "--sync", id, QString::number(at.x()), QString::number(at.y())});
    return shownAt(id);
}

} // namespace DesktopWindows
