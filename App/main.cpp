// Stowbay: a holding place for files while you drag.
#include "AppDelegate.h"
#include "QuitSignals.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QSessionManager>
#include <cstdio>

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
        if (instance.requestActivation()) return 0;
        std::fprintf(stderr, "Stowbay is already running, but did not answer on %s\n",
                     qPrintable(instance.socketPath()));
        return 1;
    }

    AppDelegate delegate;
    instance.onActivationRequest = [&delegate] { delegate.showStowbay(); };

    // Every way out goes through the same quit path as "Quit Stowbay", so the stored items are
    // always saved or deleted as the user chose.
    quitSignals.onQuit = [&delegate] { delegate.quitApp(); };
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &delegate,
                     [&delegate](QSessionManager &manager) {
                         // Autostart brings Stowbay back at the next login, not the session.
                         manager.setRestartHint(QSessionManager::RestartNever);
                         delegate.quitApp();
                     });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);

    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
