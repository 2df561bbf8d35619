// The panel's costs with a full stowbay (100 items): painting the whole panel, and the main
// thread's time from a change of the store to the rows updated.
#include "InteractionFixture.h"
#include "Panel/StowbayPanelController.h"
#include "TestSupport.h"
#include "Views/StowbayContentView.h"

#include <QImage>
#include <QPainter>
#include <QScrollArea>
#include <benchmark/benchmark.h>

namespace {
QStringList hundredNames() {
    QStringList names;
    for (int i = 0; i < 100; ++i)
        names << QStringLiteral("document %1.txt").arg(i);
    return names;
}

struct FullPanel {
    InteractionFixture fixture{hundredNames()};
    StowbayPanelController controller{*fixture.store, *fixture.interaction, fixture.settings,
                                      [] { return false; }};
    FullPanel() {
        controller.present(true);
        QTest::qWait(500); // slid in
    }
};

FullPanel &panel() {
    static FullPanel *p = new FullPanel;
    return *p;
}

// Every row of the list painted, as when the list is scrolled through, plus the panel around it.
void BM_PaintFullPanel(benchmark::State &state) {
    StowbayPanel &window = panel().controller.panel();
    auto *content = panel().controller.content();
    QWidget *rows = content->list()->widget();
    QImage image(window.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    QImage list(rows->size() * 2, QImage::Format_ARGB32_Premultiplied);
    list.setDevicePixelRatio(2);
    for (auto _ : state) {
        window.render(&image);
        rows->render(&list);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_PaintFullPanel)->Unit(benchmark::kMillisecond);

// A pin toggled on one item: the store publishes, the rows update (one repaints), and the queued
// work runs.
void BM_StoreChangeToRows(benchmark::State &state) {
    InteractionFixture &f = panel().fixture;
    const QList<QUuid> one{f.store->items().at(50).id};
    bool pinned = false;
    for (auto _ : state) {
        f.store->setPinned(one, pinned = !pinned);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_StoreChangeToRows)->Unit(benchmark::kMicrosecond);

// The selection of one row changed: only that row and the one before repaint.
void BM_SelectionToRows(benchmark::State &state) {
    InteractionFixture &f = panel().fixture;
    int i = 0;
    for (auto _ : state) {
        f.interaction->click(f.store->items().at(i++ % 100).id, Qt::NoModifier);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_SelectionToRows)->Unit(benchmark::kMicrosecond);
} // namespace

int main(int argc, char **argv) {
    TestSupport::isolateHome();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
