#include "SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace {
// What a later start sends, and the most the running one reads from a connection.
const QByteArray activateMessage = QByteArrayLiteral("activate\n");
constexpr qint64 maxMessageBytes = 64;
} // namespace

SingleInstance::SingleInstance(const QString &folder, QObject *parent) : QObject(parent), m_folder(folder) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QFileInfo info(runtime);
    if (!runtime.isEmpty() && info.isAbsolute() && info.isDir() && info.isWritable()) return runtime;
    QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty()) data = QDir::homePath() + "/.local/share";
    return data + "/Stowbay";
}

QString SingleInstance::lockPath() const {
    return m_folder + "/stowbay.lock";
}

QString SingleInstance::socketPath() const {
    return m_folder + "/stowbay.socket";
}

bool SingleInstance::acquire() {
    QDir().mkpath(m_folder);
    m_lock = std::make_unique<QLockFile>(lockPath());
    // Held for the life of the process: never stale by age. A lock left by a process that has died
    // is found stale by its process id and taken over.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() == QLockFile::LockFailedError) return false;
        m_lock.reset(); // the folder does not let us lock: run unguarded rather than not at all
        return true;
    }
    listen();
    return true;
}

void SingleInstance::listen() {
    // We hold the lock, so a socket file left here belongs to a Stowbay that is gone.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    if (!m_server->listen(socketPath())) {
        delete m_server; // later starts then exit without showing us; nothing else depends on it
        m_server = nullptr;
    }
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > maxMessageBytes) socket->abort();
                return;
            }
            const QByteArray line = socket->readLine(maxMessageBytes);
            socket->disconnectFromServer();
            if (line == activateMessage && onActivationRequest) onActivationRequest();
        });
    }
}

bool SingleInstance::requestActivation(int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(activateMessage);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
    return true;
}
