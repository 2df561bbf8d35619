// One Stowbay per user: the lock, and the socket through which a later start reaches the running one.
#include "SingleInstance.h"
#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// Starts a process that opens `count` connections to `socketPath`, never writes, and stays until
// killed; it writes a byte to the returned descriptor once they are all made or refused.
pid_t silentClients(const QString &socketPath, int count, int *ready) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    const QByteArray path = QFile::encodeName(socketPath);
    const pid_t pid = ::fork();
    if (pid == 0) { // only system calls from here on
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::copy(path.begin(), path.end(), address.sun_path);
        for (int i = 0; i < count; ++i) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
                ::close(fd);
        }
        (void)!::write(fds[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    ::close(fds[1]);
    *ready = fds[0];
    return pid;
}

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

int highestOpenDescriptor() {
    int highest = 2;
    for (const QString &name : QDir("/proc/self/fd").entryList(QDir::Files | QDir::System))
        highest = std::max(highest, name.toInt());
    return highest;
}
} // namespace

class tst_SingleInstance : public QObject {
    Q_OBJECT
private slots:
    void oneStowbayWhateverTheLockFileHolds_data();
    void oneStowbayWhateverTheLockFileHolds();
    void silentClientsDoNotTakeTheSocketAway();
    void aStartThatCannotReachStowbaySaysSo();
};

void tst_SingleInstance::oneStowbayWhateverTheLockFileHolds_data() {
    QTest::addColumn<QByteArray>("leftOver"); // the lock file's contents before the first start
    QTest::newRow("no lock file") << QByteArray();
    QTest::newRow("empty, from a crash") << QByteArray("");
    QTest::newRow("garbled") << QByteArray("\xff\x01not a lock\n", 13);
    QTest::newRow("another host's") << QByteArray("4242\nStowbay\nanother-host\n");
    QTest::newRow("a process that is gone")
        << QByteArray("2147483\nStowbay\n") + QSysInfo::machineHostName().toUtf8();
}

// Whatever a crash or another machine left in the lock file, the first start runs; a later one
// is locked out and reaches it.
void tst_SingleInstance::oneStowbayWhateverTheLockFileHolds() {
    QFETCH(QByteArray, leftOver);
    QTemporaryDir folder;
    SingleInstance running(folder.path());
    if (!leftOver.isNull()) {
        QFile file(running.lockPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(leftOver);
    }
    int activations = 0;
    running.onActivationRequest = [&] { ++activations; };
    QVERIFY(running.acquire());

    SingleInstance later(folder.path());
    QVERIFY(!later.acquire());
    QVERIFY(later.requestActivation());
    QTRY_COMPARE(activations, 1);

    // A folder it has to make for the lock is the user's alone.
    SingleInstance elsewhere(folder.path() + "/made");
    QVERIFY(elsewhere.acquire());
    QCOMPARE(QFile::permissions(folder.path() + "/made") & 0x7077,
             QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Programs that connect and never write, more of them than there are descriptors to spare, do not
// close the socket: a later start still reaches the running Stowbay.
void tst_SingleInstance::silentClientsDoNotTakeTheSocketAway() {
    QTemporaryDir folder;
    SingleInstance running(folder.path());
    int activations = 0;
    running.onActivationRequest = [&] { ++activations; };
    QVERIFY(running.acquire());

    int ready = -1;
    const pid_t clients = silentClients(running.socketPath(), 200, &ready);
    QVERIFY(clients > 0);
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit near = saved;
    near.rlim_cur = rlim_t(highestOpenDescriptor() + 1 + 24); // a process near its limit
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &near), 0);
    const bool flooded = QTest::qWaitFor([&] { return readable(ready); }, 20000);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ::close(ready);

    SingleInstance later(folder.path());
    QVERIFY(!later.acquire());
    const bool reached = later.requestActivation();
    if (reached) QTRY_COMPARE(activations, 1);
    ::kill(clients, SIGKILL);
    ::waitpid(clients, nullptr, 0);
    QVERIFY(flooded);
    QVERIFY(reached);
    QCOMPARE(activations, 1);
}

// The lock is held, but nothing answers on the socket: the start says so and fails.
void tst_SingleInstance::aStartThatCannotReachStowbaySaysSo() {
    SingleInstance instance; // the folder the program uses
    QDir().mkpath(SingleInstance::defaultFolder());
    const int fd =
        ::open(QFile::encodeName(instance.lockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    QVERIFY(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);
    QProcess stowbay;
    stowbay.start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), {});
    const bool finished = stowbay.waitForFinished(20000);
    ::close(fd);
    if (!finished) stowbay.kill(), stowbay.waitForFinished();
    QVERIFY(finished);
    QCOMPARE(stowbay.exitStatus(), QProcess::NormalExit);
    QCOMPARE(stowbay.exitCode(), 1);
    QVERIFY2(stowbay.readAllStandardError().contains("already running"), "says why");
}

STOWBAY_TEST_MAIN(tst_SingleInstance)
#include "tst_SingleInstance.moc"
