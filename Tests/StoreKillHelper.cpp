// Saves a growing list as fast as it can, for a test that kills it at random moments: each round
// adds the next numbered path (dropping the oldest beyond 100 items), writes the file, waits for
// the write and prints "saved <items> <last number>". It starts from the list a killed run left.
#include "AppSettings.h"
#include "StowbayStore.h"
#include "UserDefaults.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    StowbayStore store(settings);
    QTextStream out(stdout);

    int next = store.items().isEmpty() ? 0 : store.items().last().name.toInt() + 1;
    std::function<void()> round = [&] {
        if (store.items().size() == StowbayStore::capacity) store.remove({store.items().first().id});
        const QString path =
            QStringLiteral("/stowbay-kill-test/%1/%2").arg(QString(200, QLatin1Char('x'))).arg(next);
        store.add({QUrl::fromLocalFile(path)}, [&](int) {
            store.flush();
            out << "saved " << store.items().size() << ' ' << next << Qt::endl;
            ++next;
            QTimer::singleShot(0, round);
        });
    };
    round();
    return app.exec();
}
