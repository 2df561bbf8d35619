#include "Session/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// The longest header line, with its line end.
constexpr qsizetype maxHeaderBytes = 64;
// A later start tries this long to connect while the running Stowbay is not listening yet.
constexpr int connectTimeoutMs = 3000;
// How long a client may take to read its answer.
constexpr int answerTimeoutMs = 5000;
// Out of file descriptors with no client to drop: how long to wait before accepting again.
constexpr int acceptPauseMs = 100;

struct Header {
    QByteArray kind;
    qsizetype length = 0;
    QByteArray error; // why the header is refused; empty when it is sound
};

Header refused(const QByteArray &why) {
    Header header;
    header.error = why;
    return header;
}

bool isNumber(const QByteArray &field) {
    return !field.isEmpty() && field.size() <= 10 &&
           std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "STOWBAY <version> <kind> <length>", without its line end.
Header parseHeader(const QByteArray &line) {
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() != 4 || fields[0] != "STOWBAY" || !isNumber(fields[1]) || !isNumber(fields[3]))
        return refused("the message is not a Stowbay message");
    if (fields[1].toLongLong() != SingleInstance::protocolVersion)
        return refused("the message is of version " + fields[1] + ", and this Stowbay speaks version " +
                       QByteArray::number(SingleInstance::protocolVersion));
    const qint64 length = fields[3].toLongLong();
    if (length > SingleInstance::maxBodyBytes)
        return refused("the message is too large (" + fields[3] + " bytes, at most " +
                       QByteArray::number(SingleInstance::maxBodyBytes) + ")");
    Header header;
    header.kind = fields[2];
    header.length = qsizetype(length);
    return header;
}

QByteArray frame(const QByteArray &kind, const QByteArray &body) {
    return "STOWBAY " + QByteArray::number(SingleInstance::protocolVersion) + ' ' + kind + ' ' +
           QByteArray::number(body.size()) + '\n' + body;
}

bool socketAddress(const QString &path, sockaddr_un &address) {
    const QByteArray name = QFile::encodeName(path);
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (size_t(name.size()) >= sizeof address.sun_path) return false;
    std::copy(name.begin(), name.end(), address.sun_path);
    return true;
}

// Waits until `fd` is ready for `events`; false when the deadline passes first.
bool waitFor(int fd, short events, const QDeadlineTimer &deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, int(std::max<qint64>(deadline.remainingTime(), 0)));
        if (n != 0 && !(n < 0 && errno == EINTR)) return n > 0;
        if (deadline.hasExpired()) return false;
    }
}

// The whole of a file, for a lock of the open file.
struct flock wholeFile(short type) {
    struct flock whole {};
    whole.l_type = type;
    whole.l_whence = SEEK_SET;
    return whole;
}

struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};
} // namespace

// One connection to the running Stowbay: it sends a request, waits for the answer, takes it.
struct SingleInstance::Client : QObject {
    enum class State { reading, answering, writing, holding };

    Client(int fd, QObject *parent)
        : QObject(parent), fd(fd), reader(fd, QSocketNotifier::Read), writer(fd, QSocketNotifier::Write) {
        writer.setEnabled(false);
        deadline.setSingleShot(true);
    }
    ~Client() override { close(); }
    void close() {
        reader.setEnabled(false);
        writer.setEnabled(false);
        deadline.stop();
        if (fd >= 0) ::close(fd);
        fd = -1;
    }

    int fd;
    QSocketNotifier reader, writer;
    QTimer deadline;
    State state = State::reading;
    QByteArray in;
    qsizetype headerBytes = -1; // the header line's length with its line end, once it is read
    qsizetype bodyBytes = 0;
    QByteArray out;
    qsizetype written = 0;
    bool holdUntilExit = false;
};

SingleInstance::SingleInstance(const QString &folder, QObject *parent) : QObject(parent), m_folder(folder) {}

SingleInstance::~SingleInstance() {
    release();
}

void SingleInstance::release() {
    // The clients are children of this object; the lock goes with the descriptor (or the process).
    delete std::exchange(m_notifier, nullptr);
    if (m_listenFd >= 0) {
        ::close(std::exchange(m_listenFd, -1));
        ::unlink(QFile::encodeName(socketPath()).constData());
    }
    if (m_lockFd >= 0) ::close(std::exchange(m_lockFd, -1));
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
    // A lock of the open file, not of the process, that another process can look at without
    // taking it (isHeld).
    const int fd = ::open(QFile::encodeName(lockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return true; // the folder does not let us lock: run unguarded rather than not at all
    struct flock whole = wholeFile(F_WRLCK);
    if (::fcntl(fd, F_OFD_SETLK, &whole) != 0) {
        const bool held = errno == EAGAIN || errno == EACCES;
        ::close(fd);
        return !held; // a file system without locks: unguarded too
    }
    m_lockFd = fd;
    listen();
    return true;
}

bool SingleInstance::isHeld() const {
    FileDescriptor file;
    file.fd = ::open(QFile::encodeName(lockPath()).constData(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0) return errno != ENOENT; // no lock file: no Stowbay has ever run here
    struct flock whole = wholeFile(F_WRLCK);
    return ::fcntl(file.fd, F_OFD_GETLK, &whole) != 0 || whole.l_type != F_UNLCK;
}

// Listens at once, so that a start racing this one can connect while this one launches.
void SingleInstance::listen() {
    sockaddr_un address;
    if (!socketAddress(socketPath(), address)) return; // later starts then cannot reach us
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    // We hold the lock, so a socket file left here belongs to a Stowbay that is gone.
    ::unlink(address.sun_path);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::chmod(address.sun_path, 0600) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        ::close(fd);
        return;
    }
    m_listenFd = fd;
}

void SingleInstance::answerRequests(std::function<void(const QByteArray &, const Reply &)> onRequest) {
    m_onRequest = std::move(onRequest);
    if (m_listenFd < 0 || m_notifier) return;
    m_notifier = new QSocketNotifier(m_listenFd, QSocketNotifier::Read, this);
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

// A later start sends its request at once: a client that has not sent all of it within
// `silentClientMs` is dropped, and at most `maxClients` are kept. The oldest one still sending
// makes room for the newest; the others wait for an answer that is on its way.
void SingleInstance::addClient(int fd) {
    if (m_clients.size() >= maxClients) {
        const auto sending = std::find_if(m_clients.begin(), m_clients.end(),
                                          [](Client *c) { return c->state == Client::State::reading; });
        dropClient(sending != m_clients.end() ? *sending : m_clients.first());
    }
    auto *client = new Client(fd, this);
    m_clients.append(client);
    connect(&client->reader, &QSocketNotifier::activated, client, [this, client] { readFrom(client); });
    connect(&client->writer, &QSocketNotifier::activated, client, [this, client] { writeTo(client); });
    connect(&client->deadline, &QTimer::timeout, client, [this, client] {
        if (client->state == Client::State::reading && !client->in.isEmpty())
            refuse(client, "the message was not finished in time");
        else
            dropClient(client);
    });
    client->deadline.start(silentClientMs);
}

void SingleInstance::readFrom(Client *client) {
    while (client->fd >= 0 && client->state == Client::State::reading) {
        // Never more than the message still needs, so a client cannot make us hold more than one.
        const qsizetype wanted = client->headerBytes < 0
                                     ? maxHeaderBytes - client->in.size()
                                     : client->headerBytes + client->bodyBytes - client->in.size();
        const qsizetype had = client->in.size();
        client->in.resize(had + std::min<qsizetype>(wanted, 64 * 1024));
        const ssize_t n = ::recv(client->fd, client->in.data() + had, size_t(client->in.size() - had), 0);
        client->in.resize(had + std::max<qsizetype>(n, 0));
        if (n > 0) {
            if (!takeRequest(client)) return;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        // The client hung up (or its connection broke) before its message was whole. One that
        // has only closed its sending side still reads the answer.
        if (client->in.isEmpty())
            dropClient(client);
        else
            refuse(client, "the message ended before its end");
        return;
    }
}

// True while the request is not whole yet.
bool SingleInstance::takeRequest(Client *client) {
    if (client->headerBytes < 0) {
        const qsizetype end = client->in.indexOf('\n');
        if (end < 0) {
            if (client->in.size() < maxHeaderBytes) return true;
            refuse(client, "the message is not a Stowbay message");
            return false;
        }
        Header header = parseHeader(client->in.first(end));
        if (header.error.isEmpty() && header.kind != "request") header.error = "the message is not a request";
        if (!header.error.isEmpty()) {
            refuse(client, header.error);
            return false;
        }
        client->headerBytes = end + 1;
        client->bodyBytes = header.length;
        client->in.reserve(client->headerBytes + client->bodyBytes);
    }
    if (client->in.size() < client->headerBytes + client->bodyBytes) return true;

    // Whole. Whatever else the client sends is never read.
    client->state = Client::State::answering;
    client->reader.setEnabled(false);
    client->deadline.stop();
    const QByteArray body = client->in.sliced(client->headerBytes, client->bodyBytes);
    client->in = QByteArray();
    const QPointer<Client> weak(client);
    m_onRequest(body, [this, weak](bool ok, const QByteArray &answerBody, bool holdUntilExit) {
        if (weak) answer(weak, ok, answerBody, holdUntilExit);
    });
    return false;
}

void SingleInstance::answer(Client *client, bool ok, const QByteArray &body, bool holdUntilExit) {
    if (client->fd < 0 || client->state != Client::State::answering) return;
    client->out = body.size() <= maxBodyBytes ? frame(ok ? "ok" : "error", body)
                                              : frame("error", "the answer is too large");
    client->holdUntilExit = holdUntilExit;
    client->state = Client::State::writing;
    client->deadline.start(answerTimeoutMs); // a client that does not take its answer is dropped
    writeTo(client);
}

void SingleInstance::writeTo(Client *client) {
    while (client->fd >= 0 && client->written < client->out.size()) {
        const ssize_t n = ::send(client->fd, client->out.constData() + client->written,
                                 size_t(client->out.size() - client->written), MSG_NOSIGNAL);
        if (n > 0) {
            client->written += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            client->writer.setEnabled(true);
            return;
        }
        dropClient(client); // gone
        return;
    }
    if (client->fd < 0) return;
    client->writer.setEnabled(false);
    client->deadline.stop();
    client->out = QByteArray();
    if (client->holdUntilExit)
        client->state = Client::State::holding; // closed when this process ends
    else
        dropClient(client);
}

// Sends an error answer and hangs up. Nothing was sent to the client before, so the few bytes
// always fit; a client that is gone never hears it.
void SingleInstance::refuse(Client *client, const QByteArray &why) {
    const QByteArray message = frame("error", why);
    (void)!::send(client->fd, message.constData(), size_t(message.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    dropClient(client);
}

void SingleInstance::dropClient(Client *client) {
    if (!m_clients.removeOne(client)) return;
    client->close();
    client->deleteLater(); // we may be inside one of its notifiers
}

SingleInstance::Answer SingleInstance::request(const QByteArray &body, int timeoutMs, bool untilExit) const {
    Answer answer;
    sockaddr_un address;
    if (!socketAddress(socketPath(), address)) return answer;
    FileDescriptor socket;
    // A Stowbay that has just taken the lock may not be listening yet, and one whose queue of
    // connections is full is not waited for beyond the same limit.
    const QDeadlineTimer connecting(connectTimeoutMs);
    for (;;) {
        socket.fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (socket.fd < 0) return answer;
        if (::connect(socket.fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) break;
        ::close(socket.fd);
        socket.fd = -1;
        if (connecting.hasExpired()) return answer;
        QThread::msleep(50);
    }
    answer.status = Answer::noAnswer;
    const QDeadlineTimer deadline(timeoutMs);

    const QByteArray out = frame("request", body);
    for (qsizetype sent = 0; sent < out.size();) {
        const ssize_t n = ::send(socket.fd, out.constData() + sent, size_t(out.size() - sent), MSG_NOSIGNAL);
        if (n > 0)
            sent += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else if (n < 0 && errno == EAGAIN && waitFor(socket.fd, POLLOUT, deadline))
            continue;
        else
            break; // it hung up, and may have said why
    }

    QByteArray in;
    Header header;
    qsizetype headerBytes = -1;
    bool hungUp = false;
    const auto receive = [&] {
        char buffer[64 * 1024];
        while (waitFor(socket.fd, POLLIN, deadline)) {
            const ssize_t n = ::recv(socket.fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                in.append(buffer, n);
                return true;
            }
            if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                hungUp = true;
                return false;
            }
        }
        return false;
    };
    for (;;) {
        if (headerBytes < 0) {
            const qsizetype end = in.indexOf('\n');
            if (end >= 0) {
                header = parseHeader(in.first(end));
                if (!header.error.isEmpty() || (header.kind != "ok" && header.kind != "error")) return answer;
                headerBytes = end + 1;
            } else if (in.size() >= maxHeaderBytes) {
                return answer;
            }
        }
        if (headerBytes >= 0 && in.size() >= headerBytes + header.length) break;
        if (!receive()) return answer;
    }
    answer.status = header.kind == "ok" ? Answer::ok : Answer::error;
    answer.body = in.sliced(headerBytes, header.length);
    // The running Stowbay closes the connection as its process ends.
    if (untilExit) {
        in.clear();
        while (receive())
            in.clear();
        answer.ended = hungUp;
    }
    return answer;
}
