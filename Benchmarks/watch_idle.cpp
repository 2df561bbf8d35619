// A process that does nothing but watch for drags on the X server, as the program does while the
// user works elsewhere: for the whole-process figures of scripts/bench-input. Prints "watching"
// once it is, and exits after the given number of seconds.
//   stowbay_watch_idle SECONDS
#include "Session/UserDefaults.h"
#include "Settings/AppSettings.h"
#include "Triggers/DragWatcher.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? atoi(argv[1]) : 30;
    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    DragWatcher watcher(DragPasteboard::system(), MouseMonitor::system(), settings);
    int triggers = 0;
    watcher.onTrigger = [&] { ++triggers; };
    watcher.start();
    std::printf("watching\n");
    std::fflush(stdout);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    const int status = app.exec();
    std::printf("triggers %d\n", triggers);
    return status;
}
