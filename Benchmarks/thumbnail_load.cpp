// 100 held photos of 12 megapixels without thumbnails, and the panel opened on them once start-up
// has settled (its rows are built by then, as in the program): the longest
// time the main thread was kept from its loop while the panel slid in and the thumbnails arrived
// (also from the first picture on: the panel's first layout and paint of its rows come before
// it), the time until every row had its thumbnail, and the resident memory before and after. No
// thumbnailer service answers (the session bus is out of reach), so Stowbay makes every thumbnail
// itself. A 1 ms timer measures the blocks, as in drop_load. With "text", the same number of small
// text files instead, which have no thumbnails: what opening the panel costs without them. One run
// per process (the pictures are remembered for the life of the process). Runs on a display or
// offscreen.
//   stowbay_thumbnail_load [FILES] [photos|text]
#include "InteractionFixture.h"
#include "Items/IconCache.h"
#include "Panel/StowbayPanelController.h"
#include "TestSupport.h"
#include "Views/StowbayRootView.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <cstdio>

namespace {
double residentMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return -1;
}
} // namespace

int main(int argc, char **argv) {
    TestSupport::isolateHome();
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    QApplication app(argc, argv);
    const int files = argc > 1 ? atoi(argv[1]) : 100;
    const bool photos = argc <= 2 || qstrcmp(argv[2], "text") != 0;

    // One photo-like picture (gradients and detail, so it compresses as a photo does), copied.
    QTemporaryDir dir;
    const QString original = dir.filePath(photos ? QStringLiteral("photo.jpg") : QStringLiteral("note.txt"));
    if (photos) {
        QImage photo(4000, 3000, QImage::Format_RGB32);
        QPainter p(&photo);
        QLinearGradient sky(0, 0, 4000, 3000);
        sky.setColorAt(0, QColor(40, 90, 160));
        sky.setColorAt(1, QColor(220, 170, 90));
        p.fillRect(photo.rect(), sky);
        for (int i = 0; i < 4000; ++i)
            p.fillRect((i * 7919) % 4000, (i * 104729) % 3000, 40, 30, QColor::fromHsv(i % 360, 120, 200));
        p.end();
        photo.save(original, "jpg", 90);
    } else {
        TestSupport::writeFile(original, "a note");
    }
    QList<QUrl> urls;
    for (int i = 0; i < files; ++i) {
        const QString path = dir.filePath(
            QStringLiteral("held %1.%2").arg(i, 3, 10, QLatin1Char('0')).arg(QFileInfo(original).suffix()));
        QFile::copy(original, path);
        urls << QUrl::fromLocalFile(path);
    }
    std::printf("%d %s, %.1f MB each; ideal threads %d\n", files,
                photos ? "photos of 4000x3000" : "text files", QFileInfo(original).size() / 1e6,
                QThread::idealThreadCount());

    {
        InteractionFixture f{QStringList{}};
        bool added = false;
        f.store->add(urls, [&](int) { added = true; });
        if (!QTest::qWaitFor([&] { return added; }, 60000)) return 1;
        StowbayPanelController controller(*f.store, *f.interaction, f.settings, [] { return false; });
        // As in the program: its content (one row per item) is built once start-up has settled.
        QTest::qWait(StowbayRootView::startupDelayMs + 500);
        const double before = residentMiB();

        QElapsedTimer clock;
        qint64 last = 0, longest = 0, firstAt = 0, longestArriving = 0; // from the first thumbnail on
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            if (firstAt && last > firstAt) longestArriving = std::max(longestArriving, now - last);
            last = now;
        });
        const auto allShown = [&] {
            for (const QUrl &url : std::as_const(urls))
                if (IconCache::thumbnail(url.toLocalFile(), controller.panel().devicePixelRatioF()).isNull())
                    return false;
            return true;
        };
        QEventLoop loop;
        qint64 shownAt = 0;
        if (!photos) QTimer::singleShot(3000, &loop, [&] { shownAt = clock.nsecsElapsed(), loop.quit(); });
        QObject::connect(&IconCache::shared(), &IconCache::pictureReady, &loop, [&] {
            if (!firstAt) firstAt = clock.nsecsElapsed();
            if (!photos || shownAt || !allShown()) return;
            shownAt = clock.nsecsElapsed();
            QTimer::singleShot(200, &loop, &QEventLoop::quit); // the last paints
        });
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        clock.start();
        tick.start();
        controller.present(true);
        loop.exec(); // a plain event loop: QTest's waits sleep between their turns
        tick.stop();
        const double after = residentMiB();
        if (photos)
            std::printf("all %d thumbnails shown after %.0f ms%s; ", files, shownAt / 1e6,
                        shownAt ? "" : " (never)");
        else
            std::printf("3 s after the panel opened: ");
        std::printf("longest main-thread block %.1f ms (%.1f ms once the first picture was there); resident "
                    "%.1f MiB before, %.1f MiB after (+%.1f)\n",
                    longest / 1e6, longestArriving / 1e6, before, after, after - before);
    }
    return 0;
}
