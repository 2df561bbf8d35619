// A real store on temporary files, with the settings in memory and a workspace that records what
// it is asked to open and reveal. Shared by the selection and row tests.
#pragma once

#include "AppSettings.h"
#include "StowbayInteraction.h"
#include "StowbayStore.h"
#include "UserDefaults.h"
#include "Workspace.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

class RecordingWorkspace : public Workspace {
public:
    void open(const QUrl &url) override { opened << url; }
    void activateFileViewerSelecting(const QList<QUrl> &urls) override { revealed << urls; }
    QIcon icon(const QString &) override { return QIcon(); }
    QIcon genericDocumentIcon() override { return QIcon(); }

    QList<QUrl> opened;
    QList<QList<QUrl>> revealed;
};

struct InteractionFixture {
    MemoryUserDefaults defaults;
    AppSettings settings{defaults};
    QTemporaryDir dir;
    std::unique_ptr<StowbayStore> store;
    RecordingWorkspace workspace;
    std::unique_ptr<StowbayInteraction> interaction;
    QHash<QString, QUuid> ids; // by file name

    // Files named by `names` are created and added to the store in that order.
    explicit InteractionFixture(const QStringList &names) {
        settings.setKeepOnQuit(false);
        store = std::make_unique<StowbayStore>(settings);
        interaction = std::make_unique<StowbayInteraction>(*store, settings, workspace);
        QList<QUrl> urls;
        for (const QString &name : names) {
            QFile file(dir.filePath(name));
            if (file.open(QIODevice::WriteOnly)) file.write(name.toUtf8());
            urls << QUrl::fromLocalFile(file.fileName());
        }
        bool done = false;
        store->add(urls, [&](int) { done = true; });
        if (!QTest::qWaitFor([&] { return done; }, 5000)) qFatal("the store did not add the files");
        for (const StowbayItem &item : store->items())
            ids.insert(item.name, item.id);
        QCoreApplication::processEvents(); // the add's own change notice, so it prunes nothing later
    }

    QUuid id(const QString &name) const { return ids.value(name); }
    QList<QUuid> idList(const QStringList &names) const {
        QList<QUuid> list;
        for (const QString &name : names)
            list << ids.value(name, QUuid::createUuid());
        return list;
    }
    QSet<QUuid> idSet(const QStringList &names) const {
        const QList<QUuid> list = idList(names);
        return QSet<QUuid>(list.begin(), list.end());
    }
    QString path(const QString &name) const { return dir.filePath(name); }

    // Refreshes the store and waits for the new file facts.
    bool refreshed() {
        QSignalSpy infos(store.get(), &StowbayStore::infosChanged);
        store->refresh();
        return infos.wait(5000);
    }
    // Deletes a file on disk and lets the store notice.
    bool deleteFile(const QString &name) { return QFile::remove(path(name)) && refreshed(); }
};
