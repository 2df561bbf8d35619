// One Stowbay per user. The first process takes a lock on a file in the user's runtime folder and
// holds it for as long as it runs, so no two processes ever write the same stored file; it also
// listens on a local socket beside the lock. A later start finds the lock taken, asks the running
// Stowbay to show itself through that socket and exits.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class QLocalSocket;
class QSocketNotifier;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // How long a connection may stay silent before it is dropped, and how many are kept at once.
    static constexpr int silentClientMs = 1000;
    static constexpr int maxClients = 16;

    // `folder` holds the lock file and the socket; by default $XDG_RUNTIME_DIR, else the data folder.
    explicit SingleInstance(const QString &folder = defaultFolder(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the one Stowbay (it then listens for later starts). False when
    // another Stowbay holds the lock. When the lock cannot be taken at all (the folder is not
    // writable), Stowbay runs anyway: true, without the lock.
    bool acquire();

    // From a later start: asks the running Stowbay to show itself, trying again until `timeoutMs`
    // is over while the running one is not listening yet. False when it could not be reached.
    bool requestActivation(int timeoutMs = 3000);

    // Called on the main thread of the running Stowbay when a later start asks it to show itself.
    std::function<void()> onActivationRequest;

    QString lockPath() const;
    QString socketPath() const;
    bool isListening() const { return m_listenFd >= 0; }

    static QString defaultFolder();

private:
    void listen();
    void acceptConnections();
    void addClient(int fd);
    void dropClient(QLocalSocket *socket);

    QString m_folder;
    int m_lockFd = -1;
    int m_listenFd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QList<QLocalSocket *> m_clients; // oldest first
};
