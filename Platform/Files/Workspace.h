// What Stowbay asks of the desktop about files: open them, show them in the file manager, and
// give their icons. The desktop implementation talks to the XDG file manager over D-Bus; tests
// put their own in place with setShared().
#pragma once

#include <QIcon>
#include <QList>
#include <QString>
#include <QUrl>

class Workspace {
public:
    virtual ~Workspace() = default;

    // Opens the file in its default application. The outcome is not reported.
    virtual void open(const QUrl &url) = 0;
    // Shows the files selected in the file manager, all of them in one request.
    virtual void activateFileViewerSelecting(const QList<QUrl> &urls) = 0;
    // The icon of the file at `path` by its type: folders, applications and documents differ. It
    // comes in two steps: iconNames() reads the file (safe on any thread; held files may sit on a
    // file system that stopped answering, so not on the main thread for them), iconFor() makes the
    // icon from what it found (main thread).
    virtual QStringList iconNames(const QString &path) = 0;
    virtual QIcon iconFor(const QStringList &names) = 0;
    QIcon icon(const QString &path) { return iconFor(iconNames(path)); }
    // The plain document icon, the same image on every call.
    virtual QIcon genericDocumentIcon() = 0;
    // Does ahead of time the slow part of the first icon: finding and reading the icon themes and
    // the file types.
    virtual void prepareIcons() {}

    static Workspace &shared();
    // Replaces the shared workspace (tests); nullptr puts the desktop one back.
    static void setShared(Workspace *workspace);
};

// The desktop's own services: QDesktopServices, org.freedesktop.FileManager1, the icon theme.
class DesktopWorkspace : public Workspace {
public:
    void open(const QUrl &url) override;
    void activateFileViewerSelecting(const QList<QUrl> &urls) override;
    QStringList iconNames(const QString &path) override;
    QIcon iconFor(const QStringList &names) override;
    QIcon genericDocumentIcon() override;
    // Also done the first time an icon is asked for.
    void prepareIcons() override;

    // Opens the distinct folders that hold the files; what happens when no file manager answers.
    static void openParentFolders(const QList<QUrl> &urls);

private:
    QIcon themed(const QStringList &names, const QIcon &fallback) const;

    bool m_prepared = false;
    QIcon m_generic;
};
