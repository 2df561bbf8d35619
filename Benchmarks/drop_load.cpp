// 10,000 files dropped on the panel at once, through the panel's own drop handling: how long the
// main thread was kept from its loop. A 1 ms timer runs from before the drop until the panel has
// settled (100 items shown, the save written); the longest gap between two of its turns is the
// longest block. Also says how many items the stowbay took and how many files it said were
// refused. Runs offscreen or on a display (QT_QPA_PLATFORM).
//   stowbay_drop_load [FILES] [RUNS]
#include "InteractionFixture.h"
#include "Panel/StowbayPanelController.h"
#include "TestSupport.h"
#include "Views/StowbayContentView.h"
#include "Views/StowbayRootView.h"

#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMimeData>
#include <QScreen>
#include <QTimer>
#include <cstdio>

namespace {
// The list as a drop from another program brings it: the bytes of text/uri-list, handed out as they
// are, as Qt's own drop data does (a plain QMimeData would parse them into URLs and write them back).
class DroppedList : public QMimeData {
public:
    explicit DroppedList(QByteArray list) : m_list(std::move(list)) {}
    QStringList formats() const override { return {QStringLiteral("text/uri-list")}; }

protected:
    QVariant retrieveData(const QString &type, QMetaType) const override {
        return type == QLatin1String("text/uri-list") ? QVariant(m_list) : QVariant();
    }

private:
    QByteArray m_list;
};
} // namespace

int main(int argc, char **argv) {
    TestSupport::isolateHome();
    QApplication app(argc, argv);
    const int files = argc > 1 ? atoi(argv[1]) : 10000;
    const int runs = argc > 2 ? atoi(argv[2]) : 3;

    QTemporaryDir dir;
    QByteArray uriList;
    for (int i = 0; i < files; ++i) {
        const QString path =
            dir.filePath(QStringLiteral("dropped file %1.txt").arg(i, 5, 10, QLatin1Char('0')));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) file.write("some text");
        uriList += QUrl::fromLocalFile(path).toEncoded() + "\r\n";
    }

    for (int run = 1; run <= runs; ++run) {
        InteractionFixture f{QStringList{}};
        StowbayPanelController controller(*f.store, *f.interaction, f.settings, [] { return false; });
        int refused = -1;
        QObject::connect(f.store.get(), &StowbayStore::refusedWhenFull, [&](int count) { refused = count; });
        controller.present(true);
        auto *content = controller.content();
        QTest::qWait(StowbayRootView::startupDelayMs + 200); // the slide is over, start-up has settled

        QElapsedTimer clock;
        qint64 last = 0, longest = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(1);
        qint64 dropAt = 0;
        QStringList blocks; // every block over 10 ms, and when it ended
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            if (now - last > 10'000'000)
                blocks << QStringLiteral("%1 ms at %2")
                              .arg((now - last) / 1e6, 0, 'f', 1)
                              .arg((now - dropAt) / 1e6, 0, 'f', 0);
            last = now;
        });
        clock.start();
        tick.start();
        QEventLoop before;
        QTimer::singleShot(20, &before, &QEventLoop::quit);
        before.exec();
        last = clock.nsecsElapsed();

        auto *data = new DroppedList(uriList);
        const QPoint at = content->rect().center();
        // Qt hands a drop to the widget that took the drag's entry.
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(content, &enter);
        QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        dropAt = clock.nsecsElapsed();
        QCoreApplication::sendEvent(content, &drop);
        const qint64 handled = clock.nsecsElapsed();
        // A plain event loop: QTest's waits sleep between their turns.
        QEventLoop loop;
        qint64 settledAt = 0;
        QObject::connect(f.store.get(), &StowbayStore::saved, &loop, [&] {
            settledAt = clock.nsecsElapsed();
            QTimer::singleShot(200, &loop, &QEventLoop::quit); // the last paints
        });
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
        const bool settled = settledAt > 0;
        tick.stop();
        delete data;

        std::printf("run %d: %d files dropped, %lld held, %d said refused; drop event %.1f ms, settled "
                    "after %.0f ms%s; longest main-thread block %.1f ms\n",
                    run, files, qlonglong(f.store->items().size()), refused, (handled - dropAt) / 1e6,
                    (settledAt - dropAt) / 1e6, settled ? "" : " (never)", longest / 1e6);
        if (!blocks.isEmpty())
            std::printf("  blocks over 10 ms (and when they ended): %s\n", qPrintable(blocks.join(", ")));
    }
    return 0;
}
