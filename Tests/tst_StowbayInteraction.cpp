// The selection rules, the items and URLs of drags, settling the store after a drag, and copied
// paths, against a real store on temporary files.
#include "InteractionFixture.h"
#include "Pasteboard.h"
#include "TestSupport.h"

namespace {
const QStringList fiveFiles{"A", "B", "C", "D", "E"};
}

class tst_StowbayInteraction : public QObject {
    Q_OBJECT
private slots:
    void clickRules_data();
    void clickRules();
    void aStaleAnchorActsAsNone();
    void everyClickNotifies();
    void pruningFollowsTheStoreLater();
    void dragIDs();
    void urlsAndOpenSkipMissingFiles();
    void dragFinished_data();
    void dragFinished();
    void copyPaths_data();
    void copyPaths();
    void copyPathsOfNothingLeavesTheClipboard();
};

// Steps: "A" is a plain click, "shift:A", "ctrl:A", "ctrlshift:A", "alt:A", "altshift:A" are
// modified clicks, "all" is select all.
void tst_StowbayInteraction::clickRules_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QString>("anchor");
    QTest::newRow("plain click selects alone") << QStringList{"A", "C"} << QStringList{"C"} << "C";
    QTest::newRow("ctrl-click on the only selected item empties it")
        << QStringList{"B", "ctrl:B"} << QStringList{} << "B";
    QTest::newRow("ctrl-click adds and moves the anchor")
        << QStringList{"A", "ctrl:D"} << QStringList{"A", "D"} << "D";
    QTest::newRow("shift-click without anchor selects alone")
        << QStringList{"shift:C"} << QStringList{"C"} << "C";
    QTest::newRow("shift range downwards")
        << QStringList{"A", "shift:C"} << QStringList{"A", "B", "C"} << "A";
    QTest::newRow("shift range upwards keeps the anchor")
        << QStringList{"C", "shift:A"} << QStringList{"A", "B", "C"} << "C";
    QTest::newRow("a second shift-click replaces the range")
        << QStringList{"A", "shift:C", "shift:B"} << QStringList{"A", "B"} << "A";
    QTest::newRow("shift range replaces ctrl additions")
        << QStringList{"B", "ctrl:E", "shift:C"} << QStringList{"C", "D", "E"} << "E";
    QTest::newRow("ctrl-shift acts as ctrl")
        << QStringList{"A", "ctrlshift:C"} << QStringList{"A", "C"} << "C";
    QTest::newRow("select all keeps the earlier anchor")
        << QStringList{"B", "all", "shift:D"} << QStringList{"B", "C", "D"} << "B";
    QTest::newRow("alt is ignored") << QStringList{"A", "alt:C"} << QStringList{"C"} << "C";
    QTest::newRow("alt-shift is a shift-click")
        << QStringList{"A", "altshift:C"} << QStringList{"A", "B", "C"} << "A";
    QTest::newRow("plain click after a range") << QStringList{"A", "shift:E", "D"} << QStringList{"D"} << "D";
}

void tst_StowbayInteraction::clickRules() {
    QFETCH(QStringList, steps);
    QFETCH(QStringList, selected);
    QFETCH(QString, anchor);
    InteractionFixture f(fiveFiles);
    for (const QString &step : steps) {
        if (step == "all") {
            f.interaction->selectAll();
            continue;
        }
        const QString modifiers = step.section(':', 0, -2);
        Qt::KeyboardModifiers flags;
        if (modifiers.contains("ctrl")) flags |= Qt::ControlModifier;
        if (modifiers.contains("shift")) flags |= Qt::ShiftModifier;
        if (modifiers.contains("alt")) flags |= Qt::AltModifier;
        f.interaction->click(f.id(step.section(':', -1)), flags);
    }
    QCOMPARE(f.interaction->selection(), f.idSet(selected));
    QCOMPARE(f.interaction->orderedSelection(), f.idList(selected));
    QCOMPARE(f.interaction->anchor(), std::optional<QUuid>(f.id(anchor)));
}

void tst_StowbayInteraction::aStaleAnchorActsAsNone() {
    InteractionFixture f(fiveFiles);
    f.interaction->click(f.id("B"), Qt::NoModifier);
    f.store->remove({f.id("B")});
    f.interaction->click(f.id("D"), Qt::ShiftModifier);
    QCOMPARE(f.interaction->selection(), f.idSet({"D"}));
    QCOMPARE(f.interaction->anchor(), std::optional<QUuid>(f.id("D")));
}

void tst_StowbayInteraction::everyClickNotifies() {
    InteractionFixture f(fiveFiles);
    QSignalSpy changed(f.interaction.get(), &StowbayInteraction::selectionChanged);
    f.interaction->click(f.id("A"), Qt::NoModifier);
    f.interaction->click(f.id("A"), Qt::NoModifier);
    QCOMPARE(changed.count(), 2);
}

void tst_StowbayInteraction::pruningFollowsTheStoreLater() {
    InteractionFixture f(fiveFiles);
    f.interaction->setSelection(f.idSet({"A", "C", "E"}));
    QSignalSpy changed(f.interaction.get(), &StowbayInteraction::selectionChanged);

    f.store->remove({f.id("C"), f.id("D")});
    QVERIFY(f.interaction->selection().contains(f.id("C"))); // not in the middle of the removal
    QTRY_COMPARE(f.interaction->selection(), f.idSet({"A", "E"}));
    QCOMPARE(changed.count(), 1);

    // A change that leaves every selected item in place does not notify.
    f.store->setPinned({f.id("A")}, true);
    f.store->remove({f.id("B")});
    QTest::qWait(50);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(f.interaction->selection(), f.idSet({"A", "E"}));
}

void tst_StowbayInteraction::dragIDs() {
    InteractionFixture f(fiveFiles);
    f.interaction->setSelection(f.idSet({"E", "B", "C"}));
    QCOMPARE(f.interaction->dragIDs(f.id("E")), f.idList({"B", "C", "E"}));
    QCOMPARE(f.interaction->dragIDs(f.id("D")), f.idList({"D"}));
    QCOMPARE(f.interaction->selection(), f.idSet({"B", "C", "E"}));
    QCOMPARE(f.interaction->dragIDs(std::nullopt), f.idList(fiveFiles));
}

void tst_StowbayInteraction::urlsAndOpenSkipMissingFiles() {
    InteractionFixture f(fiveFiles);
    f.interaction->setSelection(f.idSet({"B", "D"}));
    QVERIFY(f.deleteFile("B"));
    const QList<QUrl> urls = f.interaction->urls(f.interaction->orderedSelection());
    QCOMPARE(urls, QList<QUrl>{QUrl::fromLocalFile(f.path("D"))});
    // Given order, not store order; an unknown id gives nothing.
    QCOMPARE(f.interaction->urls({f.id("E"), QUuid::createUuid(), f.id("A")}),
             (QList<QUrl>{QUrl::fromLocalFile(f.path("E")), QUrl::fromLocalFile(f.path("A"))}));
    f.interaction->open(f.interaction->orderedSelection());
    QCOMPARE(f.workspace.opened, urls);
    f.workspace.opened.clear();
    f.interaction->open({f.id("B")});
    QVERIFY(f.workspace.opened.isEmpty());
}

void tst_StowbayInteraction::dragFinished_data() {
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<AfterDrag>("afterDrag");
    QTest::addColumn<QStringList>("remaining");
    QTest::newRow("cancelled drag keeps everything")
        << false << AfterDrag::remove << QStringList{"A", "B", "C", "D", "E"};
    QTest::newRow("accepted, keep") << true << AfterDrag::keep << QStringList{"A", "B", "C", "D", "E"};
    QTest::newRow("accepted, remove: pinned stay") << true << AfterDrag::remove << QStringList{"A", "C", "E"};
}

void tst_StowbayInteraction::dragFinished() {
    QFETCH(bool, accepted);
    QFETCH(AfterDrag, afterDrag);
    QFETCH(QStringList, remaining);
    InteractionFixture f(fiveFiles);
    f.settings.setAfterDrag(afterDrag);
    f.store->setPinned({f.id("C")}, true);
    // The drop target moved D away: the refresh afterwards has to find that out.
    QVERIFY(QFile::remove(f.path("D")));
    QSignalSpy infos(f.store.get(), &StowbayStore::infosChanged);
    f.interaction->dragFinished(f.idList({"B", "C", "D"}), accepted);
    QStringList names;
    for (const StowbayItem &item : f.store->items())
        names << item.name;
    QCOMPARE(names, remaining);
    QTRY_VERIFY(infos.count() > 0);
    if (f.store->infos().contains(f.id("D"))) QTRY_VERIFY(!f.store->infos().value(f.id("D")).exists);
}

void tst_StowbayInteraction::copyPaths_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("expected"); // %1 stands for the folder
    QTest::newRow("two files, given order") << QStringList{"C", "A"} << "%1/C\n%1/A";
    QTest::newRow("a missing file gives its stored path") << QStringList{"B"} << "%1/B";
    QTest::newRow("a moved file gives where it is now") << QStringList{"D", "E"} << "%1/moved D\n%1/E";
    QTest::newRow("unknown ids give nothing") << QStringList{"nothing", "A"} << "%1/A";
}

void tst_StowbayInteraction::copyPaths() {
    QFETCH(QStringList, names);
    QFETCH(QString, expected);
    InteractionFixture f(fiveFiles);
    QVERIFY(QFile::remove(f.path("B")));
    QVERIFY(QFile::rename(f.path("D"), f.path("moved D")));
    QVERIFY(f.refreshed());
    f.interaction->copyPaths(f.idList(names));
    QCOMPARE(Pasteboard::generalString(), expected.arg(f.dir.path()));
}

void tst_StowbayInteraction::copyPathsOfNothingLeavesTheClipboard() {
    InteractionFixture f(fiveFiles);
    Pasteboard::setGeneralString("kept");
    f.interaction->copyPaths({});
    f.interaction->copyPaths({QUuid::createUuid()});
    QCOMPARE(Pasteboard::generalString(), QString("kept"));
}

STOWBAY_TEST_MAIN(tst_StowbayInteraction)
#include "tst_StowbayInteraction.moc"
