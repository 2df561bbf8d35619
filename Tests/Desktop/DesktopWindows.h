// Other programs' windows as a person sees them, through xdotool and xwininfo: where the real
// Stowbay's windows are, and folder windows of the file manager placed where a test wants them.
#pragma once

#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QStringList>
#include <optional>

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

enum class Kind { trayIcon, menu, panel };

// A shown window of process `pid`, as another program sees it: its tray icon (a small window inside
// the tray host's), its panel (a top-level window over the others, 240 points wide, or 16 as the
// tab) or its menu (any other window over the others).
inline std::optional<QRect> windowOf(qint64 pid, Kind kind) {
    for (const QString &id : shown({"--pid", QString::number(pid)})) {
        const QString info = run("xwininfo", {"-id", id, "-stats", "-tree"});
        const QRect r = shownAt(id);
        const bool over = info.contains("Override Redirect State: yes"),
                   top = info.contains(QRegularExpression("Parent window id: \\S+ \\(the root window\\)"));
        if (kind == Kind::trayIcon
                ? !top && r.width() > 4 && r.width() <= 64 // not while the tray host has yet to size it
                : top && over && (r.width() == 240 || r.width() == 16) == (kind == Kind::panel))
            return r;
    }
    return std::nullopt;
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
