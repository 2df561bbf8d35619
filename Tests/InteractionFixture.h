// A real store holding temporary files (by default A to E, in that order), the settings in memory,
// and a workspace that records what it is asked for.
#pragma once

#include "Files/Workspace.h"
#include "Interaction/StowbayInteraction.h"
#include "Items/StowbayStore.h"
#include "Session/UserDefaults.h"
#include "Settings/AppSettings.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// "A B C" as a list of names.
inline QStringList words(const QString &names) {
    return names.split(' ', Qt::SkipEmptyParts);
}

// Adds `urls` and waits for the store's answer: how many it added, -1 when none came.
inline int addAndWait(StowbayStore &store, const QList<QUrl> &urls) {
    std::optional<int> added;
    store.add(urls, [&](int count) { added = count; });
    return QTest::qWaitFor([&] { return added.has_value(); }, 5000) ? *added : -1;
}

class RecordingWorkspace : public Workspace {
public:
    void open(const QUrl &url) override { opened << url; }
    void activateFileViewerSelecting(const QList<QUrl> &) override {}
    QStringList iconNames(const QString &path) override { return {path}; }
    QIcon iconFor(const QStringList &names) override { return iconsAsked << names, QIcon(QPixmap(8, 8)); }
    QIcon genericDocumentIcon() override { return iconsAsked << "generic", generic; }
    QList<QUrl> opened;
    QStringList iconsAsked;
    QIcon generic{QPixmap(8, 8)};
};

struct InteractionFixture {
    MemoryUserDefaults defaults;
    AppSettings settings{defaults};
    QTemporaryDir dir;
    std::unique_ptr<StowbayStore> store;
    RecordingWorkspace workspace;
    std::unique_ptr<StowbayInteraction> interaction;
    QHash<QString, QUuid> idByName;

    explicit InteractionFixture(const QStringList &names = words("A B C D E")) {
        settings.setKeepOnQuit(false);
        store = std::make_unique<StowbayStore>(settings);
        interaction = std::make_unique<StowbayInteraction>(*store, settings, workspace);
        for (const QString &name : names)
            TestSupport::writeFile(path(name), name.toUtf8());
        if (addAndWait(*store, urls(names)) < 0) qFatal("the store did not add the files");
        for (const StowbayItem &item : store->items())
            idByName.insert(item.name, item.id);
        QCoreApplication::processEvents(); // the add's own change notice
    }

    QString path(const QString &name) const { return dir.filePath(name); }
    QUuid id(const QString &name) const { return idByName.value(name, QUuid::createUuid()); }
    QList<QUuid> ids(const QStringList &names) const {
        return TestSupport::mapped(names, [this](const QString &name) { return id(name); });
    }
    QSet<QUuid> set(const QStringList &names) const {
        const QList<QUuid> list = ids(names);
        return {list.begin(), list.end()};
    }
    QList<QUrl> urls(const QStringList &names) const {
        return TestSupport::mapped(names,
                                   [this](const QString &name) { return QUrl::fromLocalFile(path(name)); });
    }
    QStringList names() const {
        return TestSupport::mapped(store->items(), [](const StowbayItem &item) { return item.name; });
    }
    // Refreshes the store and waits for the new file facts.
    bool refreshed() {
        QSignalSpy infos(store.get(), &StowbayStore::infosChanged);
        store->refresh();
        return infos.wait(5000);
    }
};
