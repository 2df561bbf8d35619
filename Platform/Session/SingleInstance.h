// One Stowbay per user. The first process takes a lock on a file in the user's runtime folder and
// holds it for as long as it runs, so no two processes ever write the same stored file; it also
// listens on a local socket beside the lock. A later start finds the lock taken and hands its
// request to the running Stowbay through that socket. A process that only asks the running one
// never takes the lock, so it can never make a Stowbay that starts meanwhile give way to it.
//
// Each side sends one message on a connection, a header line and a body of the length it gives:
//
//     STOWBAY <version> <kind> <length>\n<length bytes>
//
// The version is 1. A later start sends kind "request"; the running Stowbay answers "ok" with the
// body its handler gives, or "error" with a text for the user (UTF-8). What a body means is the
// handler's business; this side only makes sure that a body reaches it whole.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class QSocketNotifier;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr int protocolVersion = 1;
    // The longest body either side sends or takes.
    static constexpr qsizetype maxBodyBytes = 4 << 20;
    // How long a connection may take to send its whole request, and how many are kept at once.
    static constexpr int silentClientMs = 1000;
    static constexpr int maxClients = 16;

    // `folder` holds the lock file and the socket; by default $XDG_RUNTIME_DIR, else the data folder.
    explicit SingleInstance(const QString &folder = defaultFolder(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the one Stowbay: it holds the lock, and later starts can
    // connect (their requests wait until answerRequests). False when another Stowbay holds the
    // lock. When the lock cannot be taken at all (the folder is not writable), Stowbay runs
    // anyway: true, without the lock. Needs no application object.
    bool acquire();
    // True when a Stowbay holds the lock, or the lock cannot be looked at; takes nothing.
    bool isHeld() const;
    // Lets go of the lock and stops listening, for another process to take over.
    void release();

    // Answers one request: `ok` false sends `body` as an error text. With `holdUntilExit` the
    // connection stays open until this process ends, so the client can wait for that. Does
    // nothing once the client is gone or answered.
    using Reply = std::function<void(bool ok, const QByteArray &body, bool holdUntilExit)>;
    // From now on, on the main thread, hands the body of every whole request to `onRequest`, which
    // answers through `reply`, at once or later. Garbled, oversized and unfinished messages get
    // an error answer here and never reach `onRequest`. Needs the application object.
    void answerRequests(std::function<void(const QByteArray &body, const Reply &reply)> onRequest);

    // From a later start: sends `body` to the running Stowbay and waits for its answer, trying to
    // connect for up to three seconds while the running one is not listening yet. With
    // `untilExit`, also waits for the running Stowbay to end after answering.
    struct Answer {
        enum Status { unreachable, noAnswer, ok, error } status = unreachable;
        QByteArray body;
        bool ended = false; // with untilExit: the running Stowbay has ended
    };
    Answer request(const QByteArray &body, int timeoutMs = 30000, bool untilExit = false) const;

    QString lockPath() const;
    QString socketPath() const;
    bool isListening() const { return m_listenFd >= 0; }

    static QString defaultFolder();

private:
    struct Client;

    void listen();
    void acceptConnections();
    void addClient(int fd);
    void readFrom(Client *client);
    bool takeRequest(Client *client);
    void answer(Client *client, bool ok, const QByteArray &body, bool holdUntilExit);
    void writeTo(Client *client);
    void refuse(Client *client, const QByteArray &why);
    void dropClient(Client *client);

    QString m_folder;
    int m_lockFd = -1;
    int m_listenFd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QList<Client *> m_clients; // oldest first
    std::function<void(const QByteArray &, const Reply &)> m_onRequest;
};
