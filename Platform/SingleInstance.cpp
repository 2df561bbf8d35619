#include "SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// What a later start sends, and the most the running one reads from a connection.
const QByteArray activateMessage = QByteArrayLiteral("activate\n");
constexpr qint64 maxMessageBytes = 64;
// Out of file descriptors with no client to drop: how long to wait before accepting again.
constexpr int acceptPauseMs = 100;
} // namespace

SingleInstance::SingleInstance(const QString &folder, QObject *parent) : QObject(parent), m_folder(folder) {}

SingleInstance::~SingleInstance() {
    // The clients are children of this object; the lock goes with the descriptor (or the process).
    delete m_notifier;
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        ::unlink(QFile::encodeName(socketPath()).constData());
    }
    if (m_lockFd >= 0) ::close(m_lockFd);
}

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
    // A folder made here (our data folder, when there is no runtime folder) is the user's alone.
    if (!QFileInfo::exists(m_folder) && QDir().mkpath(m_folder))
        QFile::setPermissions(m_folder,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // The kernel holds the lock for the open file and lets go of it when the process ends, however
    // it ends: what the file holds (left by a crash, by an older Stowbay, by another host sharing
    // the home folder) never matters. Not inherited by programs we start, which may outlive us.
    const int fd = ::open(QFile::encodeName(lockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return true; // the folder does not let us lock: run unguarded rather than not at all
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return !held; // a file system without locks: unguarded too
    }
    m_lockFd = fd;
    listen();
    return true;
}

void SingleInstance::listen() {
    const QByteArray path = QFile::encodeName(socketPath());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path) return; // later starts then cannot reach us
    std::copy(path.begin(), path.end(), address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    // We hold the lock, so a socket file left here belongs to a Stowbay that is gone.
    ::unlink(path.constData());
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::chmod(path.constData(), 0600) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        ::close(fd);
        return;
    }
    m_listenFd = fd;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SingleInstance::acceptConnections);
}

// Every connection waiting is taken at once, so none piles up in the kernel; a failure to take
// one never ends the listening.
void SingleInstance::acceptConnections() {
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            addClient(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        // Out of descriptors or memory: make room with the oldest client, or wait a moment (the
        // waiting connection would wake us again at once).
        if (!m_clients.isEmpty()) {
            dropClient(m_clients.first());
            continue;
        }
        m_notifier->setEnabled(false);
        QTimer::singleShot(acceptPauseMs, m_notifier,
                           [notifier = m_notifier] { notifier->setEnabled(true); });
        return;
    }
}

// A later start writes its one line at once: a client that stays silent, or says too much, is
// dropped, and at most `maxClients` are kept, the oldest making room for the newest.
void SingleInstance::addClient(int fd) {
    if (m_clients.size() >= maxClients) dropClient(m_clients.first());
    auto *socket = new QLocalSocket(this);
    if (!socket->setSocketDescriptor(fd, QLocalSocket::ConnectedState, QIODevice::ReadOnly)) {
        ::close(fd);
        delete socket;
        return;
    }
    m_clients.append(socket);
    QTimer::singleShot(silentClientMs, socket, [this, socket] { dropClient(socket); });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] { dropClient(socket); });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > maxMessageBytes) dropClient(socket);
            return;
        }
        const QByteArray line = socket->readLine(maxMessageBytes);
        dropClient(socket);
        if (line == activateMessage && onActivationRequest) onActivationRequest();
    });
}

void SingleInstance::dropClient(QLocalSocket *socket) {
    if (!m_clients.removeOne(socket)) return;
    socket->disconnect(this);
    socket->abort(); // closes the descriptor now
    socket->deleteLater();
}

bool SingleInstance::requestActivation(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    // A Stowbay that has just taken the lock may not be listening yet.
    for (;;) {
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(int(deadline.remainingTime()))) break;
        if (deadline.hasExpired()) return false;
        QThread::msleep(50);
    }
    socket.write(activateMessage);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime()))) return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
    return true;
}
