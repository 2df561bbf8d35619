// Stowbay: a holding place for files while you drag.
#include "AppDelegate.h"
#include "QuitSignals.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QSessionManager>
#include <QThread>
#include <cstdio>
#include <cstdlib>

namespace {
// The delegate whose quit sequence runs when the process ends through exit().
AppDelegate *exitingDelegate = nullptr;
Qt::HANDLE mainThread = nullptr;

void runQuitSequence() {
    if (exitingDelegate && QThread::currentThreadId() == mainThread)
        exitingDelegate->applicationWillTerminate();
}

// For as long as it lives, an exit() from the main thread runs the delegate's quit sequence.
struct QuitAtExit {
    explicit QuitAtExit(AppDelegate &delegate) {
        std::atexit(runQuitSequence);
        mainThread = QThread::currentThreadId();
        exitingDelegate = &delegate;
    }
    ~QuitAtExit() { exitingDelegate = nullptr; }
};
} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Stowbay");
    QApplication::setApplicationName("Stowbay");
    QApplication::setQuitOnLastWindowClosed(false);

    // From here on SIGTERM and SIGINT wait for the main loop, which then quits the usual way.
    QuitSignals quitSignals;

    // One Stowbay per user, decided before the store reads or writes its file. A later start asks
    // the running one to show itself and leaves; when it cannot, the user hears why nothing shows.
    SingleInstance instance;
    if (!instance.acquire()) {
        if (instance.request("show").status == SingleInstance::Answer::ok) return 0;
        std::fprintf(stderr, "Stowbay is already running, but did not answer on %s\n",
                     qPrintable(instance.socketPath()));
        return 1;
    }

    AppDelegate delegate;
    instance.answerRequests([&delegate](const QByteArray &, const SingleInstance::Reply &reply) {
        delegate.showStowbay();
        reply(true, {}, false);
    });

    // Every way out goes through the same quit path as "Quit Stowbay", so the stored items are
    // always saved or deleted as the user chose.
    quitSignals.onQuit = [&delegate] { delegate.quitApp(); };
    // The session manager asks this at every checkpoint too, and a logout may still be cancelled:
    // nothing ends here. When the session does end, the session manager's "die" quits the main loop
    // (or a SIGTERM does, or the X server goes away, below).
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &delegate, [](QSessionManager &manager) {
        // Autostart brings Stowbay back at the next login, not the session.
        manager.setRestartHint(QSessionManager::RestartNever);
    });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
    // When the connection to the X server breaks, Qt ends the process with exit() from the main
    // loop and aboutToQuit never comes: the quit sequence then runs from exit (once, on this thread).
    const QuitAtExit quitAtExit(delegate);

    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
