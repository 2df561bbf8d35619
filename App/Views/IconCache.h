// The icons of the item rows, remembered so that a row can be redrawn often without asking the
// icon theme each time. What kind of file a row holds is found out on threads of their own, one
// per file system: a file on a share that stopped answering holds up neither the panel nor the
// other icons. Until a file's own icon is there its row shows the plain document icon, and
// iconReady() says when to draw again. Main thread only.
#pragma once

#include <QHash>
#include <QIcon>
#include <QObject>
#include <QSet>
#include <QString>
#include <memory>

class MountLanes;

class IconCache : public QObject {
    Q_OBJECT
public:
    static IconCache &shared();

    // The file's own icon when it exists and is known; one plain document icon for every missing
    // file, and for a file whose kind is still being found out. Never null as long as the theme or
    // the style has a file icon. Entries are kept under "path|1" / "path|0".
    static QIcon icon(const QString &path, bool exists);

signals:
    void iconReady(const QString &path);

private:
    IconCache();
    ~IconCache() override;
    QIcon lookUp(const QString &path, bool exists);

    QHash<QString, QIcon> m_icons;
    QSet<QString> m_asking; // paths whose kind is being found out
    std::unique_ptr<MountLanes> m_lanes;
};
