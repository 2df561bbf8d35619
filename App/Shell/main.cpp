// Stowbay: a holding place for files while you drag.
#include "Session/DesktopSession.h"
#include "Session/QuitSignals.h"
#include "Session/SingleInstance.h"
#include "Shell/AppDelegate.h"
#include "Shell/CommandLine.h"

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
    // The arguments are read, and a later start hands its command to the running Stowbay, before
    // any application object exists: none of that needs a desktop. One Stowbay per user is decided
    // before the store reads or writes its file.
    const CommandLine commandLine(argc, argv);
    SingleInstance instance;
    if (const std::optional<int> status = commandLine.runUnlessBecomingStowbay(instance)) return *status;

    // This process becomes Stowbay, which needs the desktop (unless a test names another platform),
    // and in a Wayland session its X11 server, or the compositor itself where the panel can stand at
    // the screen's edge as a native surface.
    DesktopSession::choosePlatform();
    if (!DesktopSession::displayAnswers()) {
        const QByteArray display = qgetenv("DISPLAY");
        std::fprintf(stderr, "stowbay: Stowbay needs an X11 desktop, and %s\n",
                     display.isEmpty() ? "DISPLAY is not set"
                                       : qPrintable(QString("cannot open the display \"%1\"").arg(display)));
        return CommandLine::failure;
    }
    // `add`, `show` and `settings` start Stowbay in the background and return.
    if (const std::optional<int> status = commandLine.runInBackground(instance)) return *status;

    QApplication app(argc, argv);
    QApplication::setOrganizationName("Stowbay");
    QApplication::setApplicationName("Stowbay");
    QApplication::setApplicationVersion(CommandLine::version());
    // The menu entry it is installed as: the desktop names its windows and its shortcut after it.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.stowbay.Stowbay"));
    QApplication::setQuitOnLastWindowClosed(false);

    // From here on SIGTERM and SIGINT wait for the main loop, which then quits the usual way.
    QuitSignals quitSignals;

    AppDelegate delegate;
    instance.answerRequests([&delegate](const QByteArray &request, const SingleInstance::Reply &reply) {
        CommandLine::answer(delegate, request, reply);
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
    commandLine.runHere(delegate);
    return app.exec();
}
