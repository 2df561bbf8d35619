// The store's costs at full capacity (100 items): adding, refreshing, saving and loading. Each
// benchmark also reports the main thread's own CPU time per iteration ("main_ms"), the part that
// could delay the interface; the rest runs on the store's I/O thread.
#include "Items/StowbayStore.h"
#include "Session/UserDefaults.h"
#include "Settings/AppSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>

namespace {

double mainThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Measures the main thread's CPU time between construction and report().
struct MainThreadShare {
    explicit MainThreadShare(benchmark::State &state) : m_state(state), m_start(mainThreadCpuMs()) {}
    void report() {
        m_state.counters["main_ms"] =
            benchmark::Counter(mainThreadCpuMs() - m_start - m_paused, benchmark::Counter::kAvgIterations);
    }
    void pause() { m_pausedAt = mainThreadCpuMs(); }
    void resume() { m_paused += mainThreadCpuMs() - m_pausedAt; }

private:
    benchmark::State &m_state;
    double m_start;
    double m_pausedAt = 0;
    double m_paused = 0;
};

QString filesFolder() {
    return QDir::homePath() + QStringLiteral("/Documents/bench");
}

QList<QUrl> makeFiles(int count) {
    QDir(filesFolder()).removeRecursively();
    QDir().mkpath(filesFolder());
    QList<QUrl> urls;
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/file-%2.txt").arg(filesFolder()).arg(i);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) file.write(QByteArray(i * 10, 'x'));
        urls << QUrl::fromLocalFile(path);
    }
    return urls;
}

void addAndWait(StowbayStore &store, const QList<QUrl> &urls) {
    QEventLoop loop;
    store.add(urls, [&](int) { loop.quit(); });
    loop.exec();
}

void refreshAndWait(StowbayStore &store) {
    QEventLoop loop;
    const auto connection = QObject::connect(&store, &StowbayStore::infosChanged, &loop, &QEventLoop::quit);
    store.refresh();
    loop.exec();
    QObject::disconnect(connection);
}

struct Settings {
    explicit Settings(bool keepOnQuit) { settings.setKeepOnQuit(keepOnQuit); }
    MemoryUserDefaults defaults;
    AppSettings settings{defaults};
};

// From the call to the moment the last of 100 new files is merged into the list.
void BM_Add100(benchmark::State &state) {
    const QList<QUrl> urls = makeFiles(100);
    Settings s(false);
    MainThreadShare share(state);
    for (auto _ : state) {
        state.PauseTiming();
        share.pause();
        auto store = std::make_unique<StowbayStore>(s.settings);
        share.resume();
        state.ResumeTiming();

        addAndWait(*store, urls);

        state.PauseTiming();
        share.pause();
        store.reset();
        share.resume();
        state.ResumeTiming();
    }
    share.report();
}
BENCHMARK(BM_Add100)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Refresh100Unmoved(benchmark::State &state) {
    Settings s(false);
    StowbayStore store(s.settings);
    addAndWait(store, makeFiles(100));
    MainThreadShare share(state);
    for (auto _ : state)
        refreshAndWait(store);
    share.report();
}
BENCHMARK(BM_Refresh100Unmoved)->UseRealTime()->Unit(benchmark::kMillisecond);

// Every file got a new name since the last refresh: each is found again through its bookmark.
void BM_Refresh100AllRenamed(benchmark::State &state) {
    Settings s(false);
    StowbayStore store(s.settings);
    addAndWait(store, makeFiles(100));
    MainThreadShare share(state);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        share.pause();
        ++round;
        for (const StowbayItem &item : store.items())
            QFile::rename(item.path, QStringLiteral("%1-%2").arg(item.path.section('-', 0, -2)).arg(round));
        share.resume();
        state.ResumeTiming();

        refreshAndWait(store);
    }
    share.report();
    if (!store.items().first().path.endsWith(QStringLiteral("-%1").arg(round)))
        state.SkipWithError("not followed");
}
BENCHMARK(BM_Refresh100AllRenamed)->UseRealTime()->Unit(benchmark::kMillisecond);

// Encoding on the main thread, the atomic write on the I/O thread, waited for.
void BM_Save100(benchmark::State &state) {
    Settings s(false);
    StowbayStore store(s.settings);
    addAndWait(store, makeFiles(100));
    MainThreadShare share(state);
    for (auto _ : state)
        store.flush();
    share.report();
}
BENCHMARK(BM_Save100)->UseRealTime()->Unit(benchmark::kMillisecond);

// Construction of a store that reads a stored file of 100 items (its I/O thread's start included,
// the destructor's wait for that thread not).
void BM_Load100(benchmark::State &state) {
    {
        Settings s(false);
        StowbayStore store(s.settings);
        addAndWait(store, makeFiles(100));
        store.flush();
    }
    Settings s(true);
    double mainMs = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = mainThreadCpuMs();
        StowbayStore store(s.settings);
        mainMs += mainThreadCpuMs() - cpuStart;
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (store.items().size() != 100) state.SkipWithError("not loaded");
    }
    state.counters["main_ms"] = benchmark::Counter(mainMs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_Load100)->UseManualTime()->Unit(benchmark::kMillisecond);

// Reading the stored text alone.
void BM_Decode100(benchmark::State &state) {
    QList<StowbayItem> items;
    for (int i = 0; i < 100; ++i)
        items << StowbayItem{QUuid::createUuid(),
                             QStringLiteral("/home/someone/Documents/project/file-%1.txt").arg(i),
                             QByteArray(120, 'b'),
                             QStringLiteral("file-%1.txt").arg(i),
                             QDateTime::currentDateTimeUtc(),
                             i % 3 == 0};
    const QByteArray text = StoredItems::encode(items);
    for (auto _ : state)
        benchmark::DoNotOptimize(StoredItems::decode(text));
}
BENCHMARK(BM_Decode100)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv) {
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/stowbay-bench-XXXXXX"));
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
