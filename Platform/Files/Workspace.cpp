#include "Files/Workspace.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStandardPaths>
#include <QStyle>

namespace {

Workspace *installed = nullptr;

// The Icon= key of a desktop entry: a theme name or an absolute path; empty when there is none.
QString desktopEntryIcon(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    bool inEntry = false;
    for (int n = 0; n < 500 && !file.atEnd(); ++n) {
        const QString line = QString::fromUtf8(file.readLine(4096)).trimmed();
        if (line.startsWith('['))
            inEntry = line == QLatin1String("[Desktop Entry]");
        else if (inEntry && line.startsWith(QLatin1String("Icon=")))
            return line.mid(5).trimmed();
    }
    return {};
}

} // namespace

Workspace &Workspace::shared() {
    if (installed) return *installed;
    static DesktopWorkspace desktop;
    return desktop;
}

void Workspace::setShared(Workspace *workspace) {
    installed = workspace;
}

void DesktopWorkspace::prepareIcons() {
    if (std::exchange(m_prepared, true)) return;
    // Without a desktop environment Qt may know neither the XDG icon folders nor a theme with
    // icons for folders and file types; the Adwaita theme is part of our dependencies.
    if (QIcon::fromTheme(QStringLiteral("folder")).isNull()) {
        QStringList paths = QIcon::themeSearchPaths();
        const QStringList xdg = QStandardPaths::locateAll(
            QStandardPaths::GenericDataLocation, QStringLiteral("icons"), QStandardPaths::LocateDirectory);
        for (const QString &path : xdg)
            if (!paths.contains(path)) paths << path;
        QIcon::setThemeSearchPaths(paths);
        if (QIcon::fromTheme(QStringLiteral("folder")).isNull())
            QIcon::setThemeName(QStringLiteral("Adwaita"));
    }
    const QIcon styleFile = qApp ? qApp->style()->standardIcon(QStyle::SP_FileIcon) : QIcon();
    m_generic = themed({QStringLiteral("application-x-generic"), QStringLiteral("text-x-generic"),
                        QStringLiteral("x-office-document")},
                       styleFile);
    // A file type's own icon name is often missing from the theme, which then reads the themes it
    // inherits from. (Images are left to the first paint: loading the image formats now would
    // cost half a megabyte for a few milliseconds.)
    const QMimeType text = QMimeDatabase().mimeTypeForName(QStringLiteral("text/plain"));
    themed({text.iconName(), text.genericIconName()}, m_generic);
}

void DesktopWorkspace::open(const QUrl &url) {
    QDesktopServices::openUrl(url);
}

void DesktopWorkspace::activateFileViewerSelecting(const QList<QUrl> &urls) {
    if (urls.isEmpty()) return;
    QStringList uris;
    for (const QUrl &url : urls)
        uris << QString::fromUtf8(url.toEncoded());
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    // Asked asynchronously: a file manager being started by the bus must not stall the panel.
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, urls] {
        if (watcher->isError()) openParentFolders(urls);
        watcher->deleteLater();
    });
}

void DesktopWorkspace::openParentFolders(const QList<QUrl> &urls) {
    QStringList folders;
    for (const QUrl &url : urls) {
        const QString folder = QFileInfo(url.toLocalFile()).absolutePath();
        if (!folders.contains(folder)) folders << folder;
    }
    for (const QString &folder : folders)
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

QIcon DesktopWorkspace::themed(const QStringList &names, const QIcon &fallback) const {
    for (const QString &name : names) {
        if (name.isEmpty()) continue;
        QIcon icon = QIcon::fromTheme(name);
        if (!icon.isNull()) return icon;
    }
    return fallback;
}

// Theme names, best first, or the absolute path of an icon file a desktop entry names. Folders
// say "folder" last.
QStringList DesktopWorkspace::iconNames(const QString &path) {
    const QFileInfo info(path);
    if (info.isDir()) {
        if (QDir::cleanPath(info.absoluteFilePath()) == QDir::homePath())
            return {QStringLiteral("user-home"), QStringLiteral("folder")};
        return {QStringLiteral("folder")};
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
    QStringList names;
    if (type.inherits(QStringLiteral("application/x-desktop"))) {
        const QString entryIcon = desktopEntryIcon(path);
        if (QFileInfo(entryIcon).isAbsolute() ? QFileInfo::exists(entryIcon) : !entryIcon.isEmpty())
            names << entryIcon;
    }
    return names << type.iconName() << type.genericIconName();
}

QIcon DesktopWorkspace::iconFor(const QStringList &names) {
    prepareIcons();
    for (const QString &name : names) {
        if (name.isEmpty()) continue;
        QIcon icon = QFileInfo(name).isAbsolute() ? QIcon(name) : QIcon::fromTheme(name);
        if (!icon.isNull()) return icon;
    }
    if (names.endsWith(QStringLiteral("folder")) && qApp)
        return qApp->style()->standardIcon(QStyle::SP_DirIcon);
    return m_generic;
}

QIcon DesktopWorkspace::genericDocumentIcon() {
    prepareIcons();
    return m_generic;
}
