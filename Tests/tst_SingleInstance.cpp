// One Stowbay per user: the lock, and the socket through which a later start reaches the running one.
#include "Session/SingleInstance.h"
#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// Starts a process that makes `count` connections to `socketPath`, sends `message` on each (closing
// its sending side after it when `hangUp`) and stays until killed. When the first connection has
// ended, or after five seconds, what came back on it goes to the descriptor returned in `answer`,
// which then closes.
pid_t clients(const QString &socketPath, int count, const QByteArray &message, bool hangUp, int *answer) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    const QByteArray path = QFile::encodeName(socketPath);
    const pid_t pid = ::fork();
    if (pid == 0) { // only system calls from here on
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::copy(path.begin(), path.end(), address.sun_path);
        int first = -1;
        for (int i = 0; i < count; ++i) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
                continue;
            (void)!::send(fd, message.constData(), size_t(message.size()), MSG_NOSIGNAL);
            if (hangUp) ::shutdown(fd, SHUT_WR);
            if (first < 0) first = fd;
        }
        const timeval patience{5, 0};
        ::setsockopt(first, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        char buffer[4096];
        for (ssize_t n; (n = ::recv(first, buffer, sizeof buffer, 0)) > 0;)
            (void)!::write(fds[1], buffer, size_t(n));
        ::close(fds[1]);
        ::pause();
        ::_exit(0);
    }
    ::close(fds[1]);
    *answer = fds[0];
    return pid;
}

// Reads what is there; true once the writer has closed.
bool readToEnd(int fd, QByteArray &into) {
    pollfd p{fd, POLLIN, 0};
    char buffer[4096];
    const ssize_t n = ::poll(&p, 1, 0) == 1 ? ::read(fd, buffer, sizeof buffer) : -1;
    if (n > 0) into.append(buffer, n);
    return n == 0;
}

// The result of work done on another thread, while this one runs its event loop (and answers).
template <class Work> auto meanwhile(Work work) {
    auto result = std::async(std::launch::async, work);
    while (result.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        QCoreApplication::processEvents();
    return result.get();
}

int highestOpenDescriptor() {
    const QStringList open = QDir("/proc/self/fd").entryList(QDir::Files | QDir::System);
    return std::ranges::max(TestSupport::mapped(open, [](const QString &name) { return name.toInt(); }));
}
} // namespace

class tst_SingleInstance : public QObject {
    Q_OBJECT
private slots:
    void laterStartsReachTheFirst_data() {
        QTest::addColumn<QByteArray>("leftOver"); // the lock file's contents before the first start
        QTest::addColumn<int>("count");           // careless clients that connect before the later start
        QTest::addColumn<QByteArray>("bad");      // what each sends
        QTest::addColumn<bool>("hangUp");         // and closes its sending side after it
        QTest::addColumn<QByteArray>("why");      // in the error answer the first gets
        const auto row = [](const char *name, const QByteArray &leftOver, int count, const QByteArray &bad,
                            bool hangUp, const QByteArray &why) {
            QTest::newRow(name) << leftOver << count << bad << hangUp << why;
        };
        const QByteArray none, cut = "STOWBAY 1 request 10\n{\"co";
        row("lock: garbled, another host's", QByteArray("\xff\x01\n4242\nanother-host\n", 21), 0, none, false,
            none);
        row("200 silent, at the descriptor limit", none, 200, "", false, none);
        row("garbage", none, 1, QByteArray("\0\xff\x13junk\n", 8), true, "not a Stowbay");
        row("no line end in 64 bytes", none, 1, QByteArray(200, 'x'), false, "not a Stowbay");
        row("length no number", none, 1, "STOWBAY 1 request -2\n{}", true, "not a");
        row("another version", none, 1, "STOWBAY 2 request 2\n{}", true, "version 2");
        row("one byte over the bound", none, 1, "STOWBAY 1 request 4194305\n" + QByteArray(1 << 20, 'x'),
            false, "too large");
        row("cut short, then hung up", none, 1, cut, true, "ended before its end");
        row("cut short, then silent", none, 1, cut, false, "not finished in time");
    }

    // Whatever a crash or another machine left in the lock file, the first start runs and a later one
    // is locked out. The later one's request reaches the first whole and is answered, whatever careless
    // clients did before: a bad message gets an error answer and never reaches the handler; silent
    // clients, more than there are descriptors to spare, are dropped without a word.
    void laterStartsReachTheFirst() {
        QFETCH(QByteArray, leftOver);
        QFETCH(int, count);
        QFETCH(QByteArray, bad);
        QFETCH(bool, hangUp);
        QFETCH(QByteArray, why);
        QTemporaryDir folder;
        SingleInstance running(folder.path());
        if (!leftOver.isNull()) TestSupport::writeFile(running.lockPath(), leftOver);
        QList<QByteArray> requests;
        QVERIFY(running.acquire());
        running.answerRequests([&requests](const QByteArray &body, const SingleInstance::Reply &reply) {
            requests << body; // answered with itself
            reply(true, body, false);
        });
        QVERIFY(!SingleInstance(folder.path()).acquire());

        int answerFd = -1;
        const pid_t careless = count ? clients(running.socketPath(), count, bad, hangUp, &answerFd) : 0;
        QByteArray answer;
        if (careless) {
            rlimit saved{};
            QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
            rlimit near = saved;
            near.rlim_cur = rlim_t(highestOpenDescriptor() + 1 + 24); // a process near its limit
            QCOMPARE(::setrlimit(RLIMIT_NOFILE, &near), 0);
            const bool ended = QTest::qWaitFor([&] { return readToEnd(answerFd, answer); }, 20000);
            ::setrlimit(RLIMIT_NOFILE, &saved);
            ::close(answerFd);
            QVERIFY(ended);
        }
        const QByteArray body = QByteArray("a line\nand a NUL \0 byte", 24).repeated(5000);
        const auto later = meanwhile([&] { return SingleInstance(folder.path()).request(body, 10000); });
        if (careless) ::kill(careless, SIGKILL), ::waitpid(careless, nullptr, 0);
        QVERIFY2(why.isNull() ? answer.isEmpty()
                              : answer.startsWith("STOWBAY 1 error ") && answer.contains(why),
                 answer.constData());
        QCOMPARE(later.status, SingleInstance::Answer::ok);
        QVERIFY(later.body == body && requests == QList<QByteArray>{body});

        // A folder it has to make for the lock is the user's alone.
        SingleInstance elsewhere(folder.path() + "/made");
        QVERIFY(elsewhere.acquire());
        QCOMPARE(QFile::permissions(folder.path() + "/made") & 0x7077,
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // A request of exactly the largest size is answered after its handler took 1.5 s: the deadline for
    // silent clients ends with the request, and the cap on clients drops one still sending, never one
    // waiting for its answer. A client gives up on an answer that never comes. Programs started from
    // here do not inherit the lock: one that outlives this Stowbay keeps no later start out.
    void answersOutwaitTheDeadlinesAndAskingTakesNoLock() {
        QTemporaryDir folder;
        QProcess program;
        {
            SingleInstance running(folder.path());
            QVERIFY(running.acquire());
            bool taken = false;
            running.answerRequests([&](const QByteArray &body, const SingleInstance::Reply &reply) {
                if (body == "never") return;
                taken = true;
                QTimer::singleShot(1500, &running, [reply, body] { reply(true, body, false); });
            });
            QCOMPARE(SingleInstance(folder.path()).request("never", 300).status,
                     SingleInstance::Answer::noAnswer);
            const QByteArray body(SingleInstance::maxBodyBytes, 'x');
            auto waiting =
                std::async(std::launch::async, [&] { return SingleInstance(folder.path()).request(body); });
            QTRY_VERIFY(taken);
            int answerFd = -1;
            const pid_t sending =
                clients(running.socketPath(), SingleInstance::maxClients, "STOWBAY 1", false, &answerFd);
            QByteArray dropped;
            QTRY_VERIFY(readToEnd(answerFd, dropped)); // the cap made room with the first of them
            ::close(answerFd);
            const SingleInstance::Answer answer = meanwhile([&] { return waiting.get(); });
            ::kill(sending, SIGKILL), ::waitpid(sending, nullptr, 0);
            QCOMPARE(answer.status, SingleInstance::Answer::ok);
            QVERIFY(answer.body == body);
            program.start("sleep", {"60"});
            QVERIFY(program.waitForStarted());
        }
        QVERIFY(SingleInstance(folder.path()).acquire());
        program.kill();
        program.waitForFinished();

        // A command that only asks (list, clear, quit) never takes the lock, so it never makes a
        // starting Stowbay take it for the running one: here Stowbay starts 200 times while they run
        // without pause.
        QProcess asking;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", folder.path());
        asking.setProcessEnvironment(environment);
        asking.setProcessChannelMode(QProcess::MergedChannels);
        asking.start("sh", {"-c", R"(while :; do "$0" list; "$0" clear; "$0" quit; done)",
                            qEnvironmentVariable("STOWBAY_STOWBAY_BIN")});
        QVERIFY(asking.waitForReadyRead(10000));
        int keptOut = 0;
        for (int start = 0; start < 200; ++start) {
            QTest::qWait(start % 7);
            keptOut += !SingleInstance(folder.path()).acquire();
        }
        asking.kill();
        asking.waitForFinished();
        QCOMPARE(keptOut, 0);
    }
};

STOWBAY_TEST_MAIN(tst_SingleInstance)
#include "tst_SingleInstance.moc"
