#include "Session/QuitSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
// The write end of the pipe, used by the handler; -1 when no instance is installed.
volatile sig_atomic_t writeFd = -1;

constexpr int handledSignals[] = {SIGTERM, SIGINT};

extern "C" void onSignal(int signo) {
    const int savedErrno = errno;
    const char byte = char(signo);
    if (writeFd >= 0) {
        const ssize_t written = ::write(writeFd, &byte, 1); // a full pipe already holds a request
        (void)written;
    }
    errno = savedErrno;
}
} // namespace

QuitSignals::QuitSignals(QObject *parent) : QObject(parent) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return; // no pipe: the signals keep their defaults
    m_readFd = fds[0];
    writeFd = fds[1];

    m_notifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::readPending);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signo : handledSignals)
        ::sigaction(signo, &action, nullptr);
}

QuitSignals::~QuitSignals() {
    if (m_readFd < 0) return;
    for (const int signo : handledSignals)
        ::signal(signo, SIG_DFL);
    const int fd = writeFd;
    writeFd = -1;
    ::close(fd);
    ::close(m_readFd);
}

void QuitSignals::readPending() {
    char bytes[16];
    ssize_t n;
    while ((n = ::read(m_readFd, bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            if (onQuit) onQuit();
    }
}
