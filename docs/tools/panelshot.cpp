// Takes the README's pictures of the panel: full with a few items (two selected, one pinned, one
// whose file has gone), a row under the pointer with its tool tip, empty, and the tab with its count
// at the right and at the bottom.
//   stowbay_panelshot OUTPUT_FOLDER SUFFIX
#include "InteractionFixture.h"
#include "Panel/StowbayPanelController.h"
#include "TestSupport.h"
#include "Views/StowbayContentView.h"

#include <QCursor>

#include <QScreen>

namespace {
bool shoot(StowbayPanelController &controller, const QString &path, int left = 24) {
    QTest::qWait(900); // the slide, and the compositor's next frame
    const QRect r = controller.panel().geometry().adjusted(-left, -24, 24, 24) &
                    QGuiApplication::primaryScreen()->geometry();
    return QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).save(path);
}
} // namespace

int main(int argc, char **argv) {
    TestSupport::isolateHome();
    QApplication app(argc, argv);
    if (argc != 3) return 2;
    const QString out = QString::fromLocal8Bit(argv[1]) + "/", suffix = QString::fromLocal8Bit(argv[2]);
    const QStringList names{"Quarterly report.pdf", "evening sun.png", "notes.txt", "old draft.odt"};
    InteractionFixture f(names);
    QFile(f.path("Quarterly report.pdf")).resize(2'480'000);
    QFile(f.path("evening sun.png")).resize(845'000);
    f.store->setPinned({f.id("notes.txt")}, true);
    QFile::remove(f.path("old draft.odt"));
    QDir(f.dir.path()).mkdir("Holiday photos");
    f.store->add({QUrl::fromLocalFile(f.path("Holiday photos"))});
    if (!QTest::qWaitFor([&] { return f.store->items().size() == 5; }, 5000)) return 1;
    f.interaction->setSelection({f.id("evening sun.png"), f.id("Quarterly report.pdf")});

    StowbayPanelController controller(*f.store, *f.interaction, f.settings, [] { return false; });
    controller.mouseLocation = [] { return QPoint(10, 10); };
    bool ok = true;
    controller.present(true);
    ok &= shoot(controller, out + "panel-" + suffix + ".png");
    const QWidget *row = controller.content()->row(f.id("notes.txt"));
    QCursor::setPos(row->mapToGlobal(row->rect().center()));
    ok &= shoot(controller, out + "row-hovered-" + suffix + ".png", 200);
    QCursor::setPos(10, 10);
    controller.collapse();
    ok &= shoot(controller, out + "tab-right-" + suffix + ".png");
    f.settings.setEdge(StowbayEdge::bottom);
    QTest::qWait(100);
    ok &= shoot(controller, out + "tab-bottom-" + suffix + ".png");

    f.settings.setEdge(StowbayEdge::right);
    QList<QUuid> all;
    for (const StowbayItem &item : f.store->items())
        all << item.id;
    f.store->remove(all);
    QTest::qWait(StowbayContentView::undoMs + 100); // the empty panel as it stands, past the offer to undo
    controller.present(true);
    ok &= shoot(controller, out + "empty-" + suffix + ".png");
    return ok ? 0 : 1;
}
