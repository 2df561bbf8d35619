// The mouse on an item row and on the "Drag all" control: deferred selection, double clicks, the
// drag threshold, what a drag carries and how its end settles the store, and the context menu.
#include "InteractionFixture.h"
#include "Pasteboard.h"
#include "RowInteractionView.h"
#include "StowbayDragSource.h"
#include "StowbayDragState.h"
#include "TestSupport.h"

#include <QDrag>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

namespace {

const QStringList fourFiles{"A", "B", "C", "D"};

// A row in a window of its own, with the view over it.
struct Row {
    QWidget window;
    RowInteractionView *view = nullptr;
    Row(InteractionFixture &f, const QString &name) {
        window.resize(200, 40);
        view = RowInteractionView::cover(&window, name.isEmpty() ? std::nullopt : std::optional(f.id(name)),
                                         f.interaction.get());
    }
    void send(QEvent::Type type, QPointF at, Qt::KeyboardModifiers modifiers = {},
              Qt::MouseButton button = Qt::LeftButton) {
        const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, at, window.mapToGlobal(at),
                          type == QEvent::MouseMove ? Qt::NoButton : button, buttons, modifiers);
        QApplication::sendEvent(view, &event);
    }
    void press(QPointF at, Qt::KeyboardModifiers modifiers = {}) {
        send(QEvent::MouseButtonPress, at, modifiers);
    }
    void doubleClick(QPointF at, Qt::KeyboardModifiers modifiers = {}) {
        send(QEvent::MouseButtonPress, at, modifiers);
        send(QEvent::MouseButtonRelease, at, modifiers);
        send(QEvent::MouseButtonDblClick, at, modifiers);
        send(QEvent::MouseButtonRelease, at, modifiers);
    }
    void move(QPointF at) { send(QEvent::MouseMove, at); }
    void release(QPointF at) { send(QEvent::MouseButtonRelease, at); }
    // Press, move by `by`, release.
    void drag(QPointF by, Qt::KeyboardModifiers modifiers = {}) {
        press({20, 20}, modifiers);
        move(QPointF(20, 20) + by);
        release(QPointF(20, 20) + by);
    }
};

// Stands in for the drop target: records what each drag carried and answers with `answer`.
struct DropTarget {
    QList<QList<QUrl>> drags;
    QList<bool> internalDuring;
    Qt::DropAction answer = Qt::IgnoreAction;
    DropTarget() {
        StowbayDragSource::perform = [this](QDrag &drag) {
            drags << drag.mimeData()->urls();
            internalDuring << StowbayDragState::internalActive;
            return answer;
        };
    }
    ~DropTarget() { StowbayDragSource::perform = nullptr; }
};

QList<QUrl> urlsOf(InteractionFixture &f, const QStringList &names) {
    QList<QUrl> urls;
    for (const QString &name : names)
        urls << QUrl::fromLocalFile(f.path(name));
    return urls;
}

QStringList titles(QMenu &menu) {
    QStringList list;
    for (QAction *action : menu.actions())
        list << (action->isSeparator() ? QString("-")
                                       : action->text() + (action->isEnabled() ? "" : " (off)"));
    return list;
}

} // namespace

class tst_RowInteractionView : public QObject {
    Q_OBJECT
private slots:
    void dragThreshold_data();
    void dragThreshold();
    void pressingASelectedRowWaitsForTheRelease();
    void whatADragCarries_data();
    void whatADragCarries();
    void doubleClicks_data();
    void doubleClicks();
    void dragEndSettlesTheStoreThenAnnounces();
    void aDragOfMissingFilesDoesNotStart();
    void ownWindowsRefuseTheDrag();
    void pileOfAtMostSixIcons();
    void contextMenu_data();
    void contextMenu();
    void menuActionsActOnTheWholeSelection();
    void dragAllHasNoMenuAndKeepsTheSelection();
};

void tst_RowInteractionView::dragThreshold_data() {
    QTest::addColumn<QPointF>("by");
    QTest::addColumn<bool>("starts");
    QTest::newRow("exactly 4.0 across") << QPointF(4.0, 0) << false;
    QTest::newRow("exactly 4.0 up") << QPointF(0, -4.0) << false;
    QTest::newRow("4.01 across") << QPointF(4.01, 0) << true;
    QTest::newRow("4.01 down") << QPointF(0, 4.01) << true;
    QTest::newRow("3 by 3 is 4.24") << QPointF(3, 3) << true;
    QTest::newRow("2.8 by 2.8 is 3.96") << QPointF(2.8, 2.8) << false;
}

void tst_RowInteractionView::dragThreshold() {
    QFETCH(QPointF, by);
    QFETCH(bool, starts);
    InteractionFixture f(fourFiles);
    DropTarget target;
    Row row(f, "B");
    row.press({20.25, 20.5});
    row.move(QPointF(20.25, 20.5) + by);
    QCOMPARE(target.drags.size(), starts ? 1 : 0);
    // A further movement starts the drag now, and only one per press.
    row.move(QPointF(20.25, 20.5) + 3 * by);
    row.move(QPointF(20.25, 20.5) + 5 * by);
    QCOMPARE(target.drags.size(), 1);
}

void tst_RowInteractionView::pressingASelectedRowWaitsForTheRelease() {
    InteractionFixture f(fourFiles);
    Row row(f, "B");
    f.interaction->setSelection(f.idSet({"A", "B", "C"}));
    row.press({20, 20});
    QCOMPARE(f.interaction->selection(), f.idSet({"A", "B", "C"}));
    row.move({21, 22}); // within the threshold
    row.release({21, 22});
    QCOMPARE(f.interaction->selection(), f.idSet({"B"}));
}

void tst_RowInteractionView::whatADragCarries_data() {
    QTest::addColumn<QString>("row");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QStringList>("carried");
    QTest::addColumn<QStringList>("selectedAfter");
    QTest::newRow("a selected row carries the selection in store order")
        << "C" << 0 << QStringList{"A", "B", "C"} << QStringList{"A", "B", "C"};
    QTest::newRow("an unselected row carries itself and becomes the selection")
        << "D" << 0 << QStringList{"D"} << QStringList{"D"};
    QTest::newRow("ctrl on a selected row toggles it out first")
        << "B" << int(Qt::ControlModifier) << QStringList{"B"} << QStringList{"A", "C"};
    QTest::newRow("shift on a row extends from the anchor first")
        << "D" << int(Qt::ShiftModifier) << QStringList{"A", "B", "C", "D"}
        << QStringList{"A", "B", "C", "D"};
    QTest::newRow("drag all carries every item") << "" << 0 << fourFiles << QStringList{"A", "B", "C"};
}

void tst_RowInteractionView::whatADragCarries() {
    QFETCH(QString, row);
    QFETCH(int, modifiers);
    QFETCH(QStringList, carried);
    QFETCH(QStringList, selectedAfter);
    InteractionFixture f(fourFiles);
    DropTarget target;
    f.interaction->click(f.id("A"), Qt::NoModifier);
    f.interaction->click(f.id("C"), Qt::ShiftModifier);
    Row r(f, row);
    r.drag({10, 0}, Qt::KeyboardModifiers(modifiers));
    QCOMPARE(target.drags.size(), 1);
    QCOMPARE(target.drags.first(), urlsOf(f, carried));
    QCOMPARE(f.interaction->selection(), f.idSet(selectedAfter));
}

void tst_RowInteractionView::doubleClicks_data() {
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QStringList>("selectedAfter");
    QTest::addColumn<QStringList>("opened");
    QTest::newRow("plain: the row alone, its file opens") << 0 << QStringList{"B"} << QStringList{"B"};
    QTest::newRow("ctrl: toggled out and back in, nothing opens")
        << int(Qt::ControlModifier) << QStringList{"A", "B", "C"} << QStringList{};
    QTest::newRow("shift: the range twice, nothing opens")
        << int(Qt::ShiftModifier) << QStringList{"A", "B"} << QStringList{};
}

void tst_RowInteractionView::doubleClicks() {
    QFETCH(int, modifiers);
    QFETCH(QStringList, selectedAfter);
    QFETCH(QStringList, opened);
    InteractionFixture f(fourFiles);
    f.interaction->click(f.id("A"), Qt::NoModifier);
    f.interaction->click(f.id("C"), Qt::ShiftModifier);
    Row row(f, "B");
    row.doubleClick({20, 20}, Qt::KeyboardModifiers(modifiers));
    QCOMPARE(f.interaction->selection(), f.idSet(selectedAfter));
    QCOMPARE(f.workspace.opened, urlsOf(f, opened));
}

void tst_RowInteractionView::dragEndSettlesTheStoreThenAnnounces() {
    InteractionFixture f(fourFiles);
    f.store->setPinned({f.id("B")}, true);
    f.interaction->setSelection(f.idSet({"A", "B", "C"}));
    DropTarget target;
    target.answer = Qt::MoveAction;
    QStringList itemsWhenAnnounced;
    bool internalWhenAnnounced = true;
    QObject context;
    connect(&StowbayDragState::center(), &StowbayDragState::stowbayInternalDragEnded, &context, [&] {
        for (const StowbayItem &item : f.store->items())
            itemsWhenAnnounced << item.name;
        internalWhenAnnounced = StowbayDragState::internalActive;
    });
    Row row(f, "A");
    row.drag({0, 8});
    QCOMPARE(target.internalDuring, QList<bool>{true});
    QCOMPARE(itemsWhenAnnounced, (QStringList{"B", "D"}));
    QVERIFY(!internalWhenAnnounced);
    QVERIFY(!StowbayDragSource::current());
    QTRY_COMPARE(f.interaction->selection(), f.idSet({"B"}));
}

void tst_RowInteractionView::aDragOfMissingFilesDoesNotStart() {
    InteractionFixture f(fourFiles);
    QVERIFY(f.deleteFile("A"));
    f.interaction->setSelection(f.idSet({"A", "B"}));
    QVERIFY(f.deleteFile("B"));
    DropTarget target;
    QSignalSpy ended(&StowbayDragState::center(), &StowbayDragState::stowbayInternalDragEnded);
    Row row(f, "A");
    row.drag({10, 0});
    QCOMPARE(target.drags.size(), 0);
    QCOMPARE(ended.count(), 0);

    // Only the files that exist go out, and only their items are settled.
    f.settings.setAfterDrag(AfterDrag::remove);
    target.answer = Qt::CopyAction;
    f.interaction->setSelection(f.idSet({"A", "C"}));
    row.drag({10, 0});
    QCOMPARE(target.drags, QList<QList<QUrl>>{urlsOf(f, {"C"})});
    QStringList names;
    for (const StowbayItem &item : f.store->items())
        names << item.name;
    QCOMPARE(names, (QStringList{"A", "B", "D"}));
}

void tst_RowInteractionView::ownWindowsRefuseTheDrag() {
    InteractionFixture f(fourFiles);
    QWidget otherWindow;
    otherWindow.setAcceptDrops(true);
    struct Accepting : QObject {
        int seen = 0;
        bool eventFilter(QObject *, QEvent *event) override {
            if (event->type() != QEvent::DragEnter && event->type() != QEvent::Drop) return false;
            ++seen;
            static_cast<QDropEvent *>(event)->acceptProposedAction();
            return true;
        }
    } accepting;
    otherWindow.installEventFilter(&accepting);
    bool enterAccepted = true, dropAccepted = true;
    StowbayDragSource::perform = [&](QDrag &drag) {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, drag.mimeData(), Qt::LeftButton,
                              {});
        QApplication::sendEvent(&otherWindow, &enter);
        enterAccepted = enter.isAccepted();
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, drag.mimeData(), Qt::LeftButton, {});
        QApplication::sendEvent(&otherWindow, &drop);
        dropAccepted = drop.isAccepted();
        return Qt::IgnoreAction;
    };
    Row row(f, "A");
    row.drag({10, 0});
    StowbayDragSource::perform = nullptr;
    QVERIFY(!enterAccepted);
    QVERIFY(!dropAccepted);
    QCOMPARE(accepting.seen, 0);
    QCOMPARE(f.store->items().size(), 4);

    // Other applications' drags still reach the window.
    QMimeData files;
    files.setUrls(urlsOf(f, {"A"}));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, {});
    QApplication::sendEvent(&otherWindow, &enter);
    QCOMPARE(accepting.seen, 1);
}

void tst_RowInteractionView::pileOfAtMostSixIcons() {
    QList<QUrl> eight;
    for (int i = 0; i < 8; ++i)
        eight << QUrl::fromLocalFile(QString("/tmp/stowbay-pile/%1").arg(i));
    QPoint hotSpot;
    const QPixmap pile = RowInteractionView::pileImage(eight, 2.0, &hotSpot);
    QCOMPARE(pile.deviceIndependentSize(), QSizeF(52, 52)); // 32 plus five 4-point steps
    QCOMPARE(hotSpot, QPoint(16, 16));
    QCOMPARE(RowInteractionView::pileImage(eight.mid(0, 2), 1.0, &hotSpot).size(), QSize(36, 36));
}

void tst_RowInteractionView::contextMenu_data() {
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QStringList>("pinned");
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<QString>("row");
    QTest::addColumn<QStringList>("selectedAfter");
    QTest::addColumn<QStringList>("menu");
    const QStringList allOn{"Reveal in Finder", "Open", "Quick Look", "Copy Path", "-", "Pin", "Remove"};
    QTest::newRow("an unselected row becomes the selection")
        << QStringList{"A", "B"} << QStringList{"A", "B"} << QStringList{} << "C" << QStringList{"C"}
        << allOn;
    QStringList unpin = allOn;
    unpin[5] = "Unpin";
    QTest::newRow("a selected row keeps the selection; all pinned")
        << QStringList{"A", "B"} << QStringList{"A", "B"} << QStringList{} << "B" << QStringList{"A", "B"}
        << unpin;
    QTest::newRow("one pinned and one not shows Pin")
        << QStringList{"A", "B"} << QStringList{"A"} << QStringList{} << "A" << QStringList{"A", "B"}
        << allOn;
    QTest::newRow("all files missing")
        << QStringList{"A", "D"} << QStringList{} << QStringList{"A", "D"} << "D" << QStringList{"A", "D"}
        << QStringList{
               "Reveal in Finder (off)", "Open (off)", "Quick Look (off)", "Copy Path", "-", "Pin", "Remove"};
    QTest::newRow("one of two files missing") << QStringList{"A", "D"} << QStringList{} << QStringList{"A"}
                                              << "A" << QStringList{"A", "D"} << allOn;
}

void tst_RowInteractionView::contextMenu() {
    QFETCH(QStringList, selected);
    QFETCH(QStringList, pinned);
    QFETCH(QStringList, missing);
    QFETCH(QString, row);
    QFETCH(QStringList, selectedAfter);
    QFETCH(QStringList, menu);
    InteractionFixture f(fourFiles);
    f.store->setPinned(f.idList(pinned), true);
    for (const QString &name : missing)
        QVERIFY(QFile::remove(f.path(name)));
    if (!missing.isEmpty()) QVERIFY(f.refreshed());
    f.interaction->setSelection(f.idSet(selected));
    Row r(f, row);
    std::unique_ptr<QMenu> contextMenu = r.view->menu();
    QVERIFY(contextMenu);
    QCOMPARE(titles(*contextMenu), menu);
    QCOMPARE(f.interaction->selection(), f.idSet(selectedAfter));
}

void tst_RowInteractionView::menuActionsActOnTheWholeSelection() {
    InteractionFixture f(fourFiles);
    QVERIFY(f.deleteFile("C"));
    f.store->setPinned({f.id("A")}, true);
    f.interaction->setSelection(f.idSet({"D", "A", "C"}));
    Row row(f, "A");

    row.view->menuReveal();
    QCOMPARE(f.workspace.revealed, QList<QList<QUrl>>{urlsOf(f, {"A", "D"})});
    row.view->menuOpen();
    QCOMPARE(f.workspace.opened, urlsOf(f, {"A", "D"}));
    row.view->menuCopyPath();
    QCOMPARE(Pasteboard::generalString(), QStringList({f.path("A"), f.path("C"), f.path("D")}).join('\n'));

    row.view->menuPin(); // a mixed selection: pins all of it
    for (const char *name : {"A", "C", "D"})
        QVERIFY(f.store->item(f.id(name))->pinned);
    row.view->menuPin(); // all pinned: unpins all of it
    for (const char *name : {"A", "C", "D"})
        QVERIFY(!f.store->item(f.id(name))->pinned);

    // Chosen from the menu itself, as the user would.
    std::unique_ptr<QMenu> contextMenu = row.view->menu();
    contextMenu->actions().last()->trigger();
    QCOMPARE(f.store->items().size(), 1);
    QCOMPARE(f.store->items().first().name, QString("B"));
    QTRY_VERIFY(f.interaction->selection().isEmpty());

    // A view that lost its interaction does nothing.
    row.view->setInteraction(nullptr);
    row.view->menuCopyPath();
    QVERIFY(!row.view->menu());
}

void tst_RowInteractionView::dragAllHasNoMenuAndKeepsTheSelection() {
    InteractionFixture f(fourFiles);
    f.interaction->setSelection(f.idSet({"B"}));
    Row dragAll(f, "");
    QVERIFY(!dragAll.view->menu());
    dragAll.doubleClick({20, 20});
    dragAll.press({20, 20}, Qt::ControlModifier);
    dragAll.release({20, 20});
    QCOMPARE(f.interaction->selection(), f.idSet({"B"}));
    QVERIFY(f.workspace.opened.isEmpty());
}

STOWBAY_TEST_MAIN(tst_RowInteractionView)
#include "tst_RowInteractionView.moc"
