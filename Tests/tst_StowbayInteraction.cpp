// The selection rules, what a drag carries, settling the store after a drag and copied paths; the
// mouse on an item row and on the "Drag all" control, the row's context menu, and the preview.
#include "InteractionFixture.h"
#include "Pasteboard.h"
#include "PreviewPanel.h"
#include "QuickLookController.h"
#include "RowInteractionView.h"
#include "StowbayDragSource.h"
#include "TestSupport.h"

#include <QDrag>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

namespace {

// A row (none for "Drag all") in a window of its own, over a store of A to E where A to C are
// selected with the anchor on A and E's file is missing. Drags are recorded instead of run.
struct Row : InteractionFixture {
    QWidget window;
    RowInteractionView *view = nullptr;
    QList<QList<QUrl>> drags;
    bool prepare(const QString &row) {
        interaction->click(id("A"), Qt::NoModifier);
        interaction->click(id("C"), Qt::ShiftModifier);
        view = RowInteractionView::cover(&window, row.isEmpty() ? std::nullopt : std::optional(id(row)),
                                         interaction.get());
        StowbayDragSource::perform = [this](QDrag &drag) {
            drags << drag.mimeData()->urls();
            return Qt::IgnoreAction;
        };
        return deleteFile("E");
    }
    ~Row() { StowbayDragSource::perform = nullptr; }
    void send(QEvent::Type type, QPointF at, int modifiers = 0) {
        QMouseEvent event(type, at, at, window.mapToGlobal(at),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::KeyboardModifiers(modifiers));
        QApplication::sendEvent(view, &event);
    }
};

const int ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier;

} // namespace

class tst_StowbayInteraction : public QObject {
    Q_OBJECT
private slots:
    void clickRules_data();
    void clickRules();
    void dragIDsAndLiveURLs();
    void dragFinished_data();
    void dragFinished();
    void copyPaths_data();
    void copyPaths();
    void pressMoveRelease_data();
    void pressMoveRelease();
    void doubleClicks_data();
    void doubleClicks();
    void contextMenu_data();
    void contextMenu();
    void quickLookReplacesTheListUnlessEmpty();
};

// Steps: "C" is a plain click on C, "shift:C", "ctrl:C", "ctrlshift:C", "alt:C" are modified
// clicks, "all" selects all and "rm:C" removes C from the store.
void tst_StowbayInteraction::clickRules_data() {
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("anchor");
    // clang-format off
    QTest::newRow("plain click selects alone") << "A shift:E D" << "D" << "D";
    QTest::newRow("ctrl toggles the only one out") << "B ctrl:B" << "" << "B";
    QTest::newRow("ctrl adds and moves the anchor") << "A ctrl:D" << "A D" << "D";
    QTest::newRow("shift without anchor") << "shift:C" << "C" << "C";
    QTest::newRow("shift upwards pivots on the anchor") << "C shift:E shift:A" << "A B C" << "C";
    QTest::newRow("shift replaces the range") << "A shift:D shift:B" << "A B" << "A";
    QTest::newRow("shift replaces ctrl additions") << "B ctrl:E shift:C" << "C D E" << "E";
    QTest::newRow("ctrl-shift acts as ctrl") << "A ctrlshift:C" << "A C" << "C";
    QTest::newRow("alt is ignored") << "A alt:C" << "C" << "C";
    QTest::newRow("select all keeps the anchor") << "B all shift:D" << "B C D" << "B";
    QTest::newRow("a removed anchor acts as none") << "B rm:B shift:D" << "D" << "D";
    QTest::newRow("removed items leave the selection") << "A ctrl:C ctrl:E rm:C rm:D" << "A E" << "E";
    // clang-format on
}

void tst_StowbayInteraction::clickRules() {
    QFETCH(QString, steps);
    QFETCH(QString, selected);
    QFETCH(QString, anchor);
    InteractionFixture f;
    for (const QString &step : words(steps)) {
        const QString modifiers = step.section(':', 0, -2), name = step.section(':', -1);
        Qt::KeyboardModifiers flags;
        flags.setFlag(Qt::ControlModifier, modifiers.contains("ctrl"));
        flags.setFlag(Qt::ShiftModifier, modifiers.contains("shift"));
        flags.setFlag(Qt::AltModifier, modifiers.contains("alt"));
        if (step == "all")
            f.interaction->selectAll();
        else if (modifiers == "rm")
            f.store->remove({f.id(name)});
        else
            f.interaction->click(f.id(name), flags);
    }
    QTRY_COMPARE(f.interaction->selection(), f.set(words(selected)));
    QCOMPARE(f.interaction->orderedSelection(), f.ids(words(selected)));
    QCOMPARE(f.interaction->anchor(), std::optional<QUuid>(f.id(anchor)));
}

void tst_StowbayInteraction::dragIDsAndLiveURLs() {
    InteractionFixture f;
    f.interaction->setSelection(f.set({"E", "B", "C"}));
    QCOMPARE(f.interaction->dragIDs(f.id("E")), f.ids({"B", "C", "E"})); // store order
    QCOMPARE(f.interaction->dragIDs(f.id("D")), f.ids({"D"}));
    QCOMPARE(f.interaction->dragIDs(std::nullopt), f.ids(words("A B C D E")));

    // Missing files and unknown ids give no URL; the order given is kept.
    QVERIFY(f.deleteFile("B"));
    QCOMPARE(f.interaction->urls(f.ids({"E", "B", "unknown", "A"})), f.urls({"E", "A"}));
    f.interaction->open(f.ids({"B", "C"}));
    QCOMPARE(f.workspace.opened, f.urls({"C"}));
}

void tst_StowbayInteraction::dragFinished_data() {
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<AfterDrag>("afterDrag");
    QTest::addColumn<QString>("remaining");
    // clang-format off
    QTest::newRow("cancelled") << false << AfterDrag::remove << "A B C D E";
    QTest::newRow("accepted, keep") << true << AfterDrag::keep << "A B C D E";
    QTest::newRow("accepted, remove: pinned stay") << true << AfterDrag::remove << "A C E";
    // clang-format on
}

void tst_StowbayInteraction::dragFinished() {
    QFETCH(bool, accepted);
    QFETCH(AfterDrag, afterDrag);
    QFETCH(QString, remaining);
    InteractionFixture f;
    f.settings.setAfterDrag(afterDrag);
    f.store->setPinned({f.id("C")}, true);
    QVERIFY(QFile::remove(f.path("D"))); // the drop target moved D away
    f.interaction->dragFinished(f.ids({"B", "C", "D"}), accepted);
    QCOMPARE(f.names(), words(remaining));
    // The refresh afterwards finds out that D is gone.
    if (f.store->item(f.id("D"))) QTRY_VERIFY(!f.store->infos().value(f.id("D")).exists);
}

void tst_StowbayInteraction::copyPaths_data() {
    QTest::addColumn<QString>("names");
    QTest::addColumn<QString>("expected"); // %1 stands for the folder
    // clang-format off
    QTest::newRow("given order") << "C A" << "%1/C\n%1/A";
    QTest::newRow("a missing file gives its stored path") << "B" << "%1/B";
    QTest::newRow("a moved file gives where it is now") << "D E" << "%1/moved D\n%1/E";
    QTest::newRow("unknown ids give nothing") << "unknown A" << "%1/A";
    QTest::newRow("nothing leaves the clipboard") << "unknown" << "kept";
    // clang-format on
}

void tst_StowbayInteraction::copyPaths() {
    QFETCH(QString, names);
    QFETCH(QString, expected);
    InteractionFixture f;
    QVERIFY(QFile::remove(f.path("B")));
    QVERIFY(QFile::rename(f.path("D"), f.path("moved D")));
    QVERIFY(f.refreshed());
    Pasteboard::setGeneralString("kept");
    f.interaction->copyPaths(f.ids(words(names)));
    QCOMPARE(Pasteboard::generalString(), expected.replace("%1", f.dir.path()));
}

void tst_StowbayInteraction::pressMoveRelease_data() {
    QTest::addColumn<QString>("row");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QPointF>("by");
    QTest::addColumn<QString>("carried");
    QTest::addColumn<QString>("selectedAfter");
    // clang-format off
    QTest::newRow("4.0: no drag; a selected row alone on release") << "B" << 0 << QPointF(4, 0) << "" << "B";
    QTest::newRow("4.0 up: no drag") << "C" << 0 << QPointF(0, -4) << "" << "C";
    QTest::newRow("2.8 by 2.8: no drag") << "C" << 0 << QPointF(2.8, 2.8) << "" << "C";
    QTest::newRow("4.01 drags the selection") << "C" << 0 << QPointF(4.01, 0) << "A B C" << "A B C";
    QTest::newRow("3 by 3 drags") << "B" << 0 << QPointF(3, 3) << "A B C" << "A B C";
    QTest::newRow("an unselected row carries itself") << "D" << 0 << QPointF(0, 4.01) << "D" << "D";
    QTest::newRow("ctrl toggles a selected row out first") << "B" << ctrl << QPointF(9, 0) << "B" << "A C";
    QTest::newRow("shift extends from the anchor") << "D" << shift << QPointF(9, 0) << "A B C D" << "A B C D";
    QTest::newRow("a missing file does not start a drag") << "E" << 0 << QPointF(9, 0) << "" << "E";
    QTest::newRow("drag all carries every file there is") << "" << 0 << QPointF(9, 0) << "A B C D" << "A B C";
    QTest::newRow("drag all ignores clicks") << "" << ctrl << QPointF() << "" << "A B C";
    // clang-format on
}

void tst_StowbayInteraction::pressMoveRelease() {
    QFETCH(QString, row);
    QFETCH(int, modifiers);
    QFETCH(QPointF, by);
    QFETCH(QString, carried);
    QFETCH(QString, selectedAfter);
    Row r;
    QVERIFY(r.prepare(row));
    const QPointF at(20.25, 20.5);
    r.send(QEvent::MouseButtonPress, at, modifiers);
    r.send(QEvent::MouseMove, at + by);
    r.send(QEvent::MouseButtonRelease, at + by);
    QCOMPARE(r.drags, carried.isEmpty() ? QList<QList<QUrl>>{} : QList<QList<QUrl>>{r.urls(words(carried))});
    QCOMPARE(r.interaction->selection(), r.set(words(selectedAfter)));
}

void tst_StowbayInteraction::doubleClicks_data() {
    QTest::addColumn<QString>("row");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("selectedAfter");
    QTest::addColumn<QString>("opened");
    // clang-format off
    QTest::newRow("plain: the row alone, its file opens") << "B" << 0 << "B" << "B";
    QTest::newRow("ctrl: out and back in, nothing opens") << "B" << ctrl << "A B C" << "";
    QTest::newRow("shift: the range, nothing opens") << "B" << shift << "A B" << "";
    QTest::newRow("drag all: nothing") << "" << 0 << "A B C" << "";
    // clang-format on
}

void tst_StowbayInteraction::doubleClicks() {
    QFETCH(QString, row);
    QFETCH(int, modifiers);
    QFETCH(QString, selectedAfter);
    QFETCH(QString, opened);
    Row r;
    QVERIFY(r.prepare(row));
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                              QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease})
        r.send(type, {20, 20}, modifiers);
    QCOMPARE(r.interaction->selection(), r.set(words(selectedAfter)));
    QCOMPARE(r.workspace.opened, r.urls(words(opened)));
}

void tst_StowbayInteraction::contextMenu_data() {
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("pinned");
    QTest::addColumn<QString>("missing"); // besides E
    QTest::addColumn<QString>("row");
    QTest::addColumn<QString>("selectedAfter");
    QTest::addColumn<QString>("pinTitle");
    QTest::addColumn<bool>("filesOn"); // Reveal, Open and Quick Look
    // clang-format off
    QTest::newRow("an unselected row is selected") << "A B" << "A B" << "" << "C" << "C" << "Pin" << true;
    QTest::newRow("a selected row; all pinned") << "A B" << "A B" << "" << "B" << "A B" << "Unpin" << true;
    QTest::newRow("one of two pinned") << "A B" << "A" << "" << "A" << "A B" << "Pin" << true;
    QTest::newRow("all files missing") << "A E" << "" << "A" << "E" << "A E" << "Pin" << false;
    QTest::newRow("one of two files missing") << "A E" << "" << "" << "A" << "A E" << "Pin" << true;
    // clang-format on
}

void tst_StowbayInteraction::contextMenu() {
    QFETCH(QString, selected);
    QFETCH(QString, pinned);
    QFETCH(QString, missing);
    QFETCH(QString, row);
    QFETCH(QString, selectedAfter);
    QFETCH(QString, pinTitle);
    QFETCH(bool, filesOn);
    Row r;
    QVERIFY(r.prepare(row));
    r.store->setPinned(r.ids(words(pinned)), true);
    for (const QString &name : words(missing))
        QVERIFY(r.deleteFile(name));
    r.interaction->setSelection(r.set(words(selected)));
    std::unique_ptr<QMenu> menu = r.view->menu();
    QVERIFY(menu);
    QStringList titles;
    for (QAction *action : menu->actions())
        titles << (action->isSeparator() ? "-" : action->text() + (action->isEnabled() ? "" : " (off)"));
    const QString off = filesOn ? "" : " (off)";
    QCOMPARE(titles, QStringList({"Reveal in Finder" + off, "Open" + off, "Quick Look" + off, "Copy Path",
                                  "-", pinTitle, "Remove"}));
    QCOMPARE(r.interaction->selection(), r.set(words(selectedAfter)));

    // Pin and Unpin act on the whole selection.
    menu->actions().at(5)->trigger();
    for (const QUuid &id : r.ids(words(selectedAfter)))
        QCOMPARE(r.store->item(id)->pinned, pinTitle == "Pin");
}

// The preview opens on the first file; a second request replaces the list, an empty one changes nothing.
void tst_StowbayInteraction::quickLookReplacesTheListUnlessEmpty() {
    InteractionFixture f(words("a b c"));
    const QList<QUrl> urls = f.urls(words("a b c"));
    QuickLookController &controller = QuickLookController::shared();
    PreviewPanel *panel = PreviewPanel::shared();
    controller.show(urls);
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->itemCount(), 3);
    QCOMPARE(panel->shownText(), QString("a"));

    QTest::keyClick(panel, Qt::Key_Right);
    controller.show({urls[2], urls[1]});
    QCOMPARE(panel->itemCount(), 2);
    QCOMPARE(panel->shownText(), QString("c"));

    QTest::keyClick(panel, Qt::Key_Right);
    controller.show({});
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->itemCount(), 2);
    QCOMPARE(panel->currentPreviewItemURL(), urls[1]);

    panel->hide();
    controller.show({});
    QVERIFY(!panel->isVisible());
}

STOWBAY_TEST_MAIN(tst_StowbayInteraction)
#include "tst_StowbayInteraction.moc"
