// One Stowbay per user. The first process takes a lock file in the user's runtime folder and holds it
// for as long as it runs, so no two processes ever write the same stored file; it also listens on a
// local socket beside the lock. A later start finds the lock taken, asks the running Stowbay to show
// itself through that socket and exits.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `folder` holds the lock file and the socket; by default $XDG_RUNTIME_DIR, else the data folder.
    explicit SingleInstance(const QString &folder = defaultFolder(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the one Stowbay (it then listens for later starts). False when
    // another Stowbay holds the lock. When the lock cannot be taken at all (the folder is not
    // writable), Stowbay runs anyway: true, without the lock.
    bool acquire();

    // From a later start: asks the running Stowbay to show itself. False when it could not be reached.
    bool requestActivation(int timeoutMs = 1000);

    // Called on the main thread of the running Stowbay when a later start asks it to show itself.
    std::function<void()> onActivationRequest;

    QString lockPath() const;
    QString socketPath() const;

    static QString defaultFolder();

private:
    void listen();
    void acceptConnections();

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
