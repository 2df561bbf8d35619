// The selection rules, what a drag carries, settling the store after a drag and copied paths; the
// mouse on an item row, the row's context menu and the preview; and what comes in with a drop:
// file URLs from dropped data and icons for the rows.
#include "Files/Pasteboard.h"
#include "Files/PreviewPanel.h"
#include "Files/Thumbnails.h"
#include "Interaction/QuickLookController.h"
#include "Interaction/RowInteractionView.h"
#include "Interaction/StowbayDragSource.h"
#include "InteractionFixture.h"
#include "Items/IconCache.h"
#include "TestSupport.h"
#include "Views/FileDropLoader.h"

#include <QDrag>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QSysInfo>
#include <QThread>

namespace {

// A row in a window of its own, over a store of A to E where A to C are selected with the anchor
// on A and E's file is missing. Drags are recorded instead of run.
struct Row : InteractionFixture {
    QWidget window;
    RowInteractionView *view = nullptr;
    QList<QList<QUrl>> drags;
    bool prepare(const QString &row) {
        interaction->click(id("A"), Qt::NoModifier);
        interaction->click(id("C"), Qt::ShiftModifier);
        view = RowInteractionView::cover(&window, id(row), interaction.get());
        StowbayDragSource::perform = [this](QDrag &drag) {
            drags << drag.mimeData()->urls();
            return Qt::IgnoreAction;
        };
        return QFile::remove(path("E")) && refreshed();
    }
    ~Row() { StowbayDragSource::perform = nullptr; }
    void send(QEvent::Type type, QPointF at, int modifiers) {
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
    // Undo after a Delete, a Clear (C pinned) and a drag out writes the stored file back byte for
    // byte (ids, dates, pins, bookmarks, order); one removal is remembered.
    void undoRestoresTheStoredFile() {
        for (int removal = 0; removal < 3; ++removal) {
            InteractionFixture f;
            f.store->setPinned(f.ids(words("C")), true);
            f.store->flush();
            const QByteArray before = TestSupport::storedContents();
            if (removal == 0) f.store->remove(f.ids(words("B D")));
            if (removal == 1) f.store->clear();
            if (removal == 2) f.interaction->dragFinished(f.ids(words("A E")), true);
            f.store->flush();
            QVERIFY(TestSupport::storedContents() != before);
            // Back with their facts, before any refresh: a drag, Open or Ctrl+C carries them at once.
            const QList<QUuid> back = f.store->undoRemoval();
            QVERIFY(!back.isEmpty() && f.store->infos().value(back.first()).size == 1);
            QCOMPARE(f.interaction->urls(back).size(), back.size());
            f.store->flush();
            QCOMPARE(TestSupport::storedContents(), before);
            QVERIFY(f.store->undoRemoval().isEmpty());
        }
    }

    // Steps: "C" is a plain click on C, "shift:C", "ctrl:C", "ctrlshift:C" are modified clicks and
    // "rm:C" removes C from the store.
    void clickRules_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("anchor");
        // clang-format off
        QTest::newRow("ctrl toggles the only one out") << "B ctrl:B" << "" << "B";
        QTest::newRow("ctrl adds and moves the anchor") << "A ctrl:D" << "A D" << "D";
        QTest::newRow("shift upwards pivots on the anchor") << "C shift:E shift:A" << "A B C" << "C";
        QTest::newRow("shift replaces range and additions") << "B ctrl:E shift:C" << "C D E" << "E";
        QTest::newRow("ctrl-shift acts as ctrl") << "A ctrlshift:C" << "A C" << "C";
        QTest::newRow("a removed anchor acts as none") << "B rm:B shift:D" << "D" << "D";
        QTest::newRow("removed items leave the selection") << "A ctrl:C ctrl:E rm:C rm:D" << "A E" << "E";
        // clang-format on
    }

    void clickRules() {
        QFETCH(QString, steps);
        QFETCH(QString, selected);
        QFETCH(QString, anchor);
        InteractionFixture f;
        for (const QString &step : words(steps)) {
            const QString modifiers = step.section(':', 0, -2), name = step.section(':', -1);
            Qt::KeyboardModifiers flags;
            flags.setFlag(Qt::ControlModifier, modifiers.contains("ctrl"));
            flags.setFlag(Qt::ShiftModifier, modifiers.contains("shift"));
            if (modifiers == "rm")
                f.store->remove({f.id(name)});
            else
                f.interaction->click(f.id(name), flags);
        }
        QTRY_COMPARE(f.interaction->orderedSelection(), f.ids(words(selected)));
        QCOMPARE(f.interaction->anchor(), std::optional(f.id(anchor)));
    }

    void dragAndCopyWithMissingAndMovedFiles() {
        InteractionFixture f;
        f.interaction->setSelection(f.set({"E", "B", "C"}));
        // A row outside the selection carries itself alone (a selected row's drag, in store order, and
        // "Drag all" are the desktop drag-out test's).
        QCOMPARE(f.interaction->dragIDs(f.id("D")), f.ids({"D"}));

        // A drag carries live URLs in the order given: none for missing files and unknown ids. Copied
        // paths give a missing file's stored path and a moved file's new one.
        QVERIFY(QFile::remove(f.path("B")));
        QVERIFY(QFile::rename(f.path("D"), f.path("moved D")));
        QVERIFY(f.refreshed());
        QCOMPARE(f.interaction->urls(f.ids({"E", "B", "unknown", "A"})), f.urls({"E", "A"}));
        f.interaction->copyPaths(f.ids({"D", "unknown", "B", "A"}));
        QCOMPARE(Pasteboard::generalString(),
                 QStringList({f.path("moved D"), f.path("B"), f.path("A")}).join('\n'));

        // A drop the target took leaves the items where the settings keep them; the store is
        // refreshed, as the target may have moved the files.
        f.settings.setAfterDrag(AfterDrag::keep);
        QVERIFY(QFile::remove(f.path("C")));
        f.interaction->dragFinished(f.ids({"C", "E"}), true);
        QCOMPARE(f.store->items().size(), 5);
        QTRY_COMPARE(f.store->infos().value(f.id("C")).exists, false);
    }

    // A press on B moved by `by` and released, or (`by` null) a double click.
    void mouse_data() {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QPointF>("by");
        QTest::addColumn<QString>("carried");
        QTest::addColumn<QString>("selectedAfter");
        QTest::addColumn<QString>("opened");
        // clang-format off
        QTest::newRow("4.0: no drag; a selected row alone on release") << 0 << QPointF(4, 0) << "" << "B" << "";
        QTest::newRow("4.01 drags the selection") << 0 << QPointF(4.01, 0) << "A B C" << "A B C" << "";
        QTest::newRow("double click: the row alone, its file opens") << 0 << QPointF() << "" << "B" << "B";
        QTest::newRow("ctrl double click: out and back in") << ctrl << QPointF() << "" << "A B C" << "";
        QTest::newRow("shift double click: the range") << shift << QPointF() << "" << "A B" << "";
        // clang-format on
    }

    void mouse() {
        QFETCH(int, modifiers);
        QFETCH(QPointF, by);
        QFETCH(QString, carried);
        QFETCH(QString, selectedAfter);
        QFETCH(QString, opened);
        Row r;
        QVERIFY(r.prepare("B"));
        const QPointF at(20.25, 20.5);
        r.send(QEvent::MouseButtonPress, at, modifiers);
        if (by.isNull()) {
            r.send(QEvent::MouseButtonRelease, at, modifiers);
            r.send(QEvent::MouseButtonDblClick, at, modifiers);
        } else {
            r.send(QEvent::MouseMove, at + by, modifiers);
        }
        r.send(QEvent::MouseButtonRelease, at + by, modifiers);
        QCOMPARE(r.drags,
                 carried.isEmpty() ? QList<QList<QUrl>>{} : QList<QList<QUrl>>{r.urls(words(carried))});
        QCOMPARE(r.interaction->selection(), r.set(words(selectedAfter)));
        QCOMPARE(r.workspace.opened, r.urls(words(opened)));
    }

    // The menu on E's row.
    void contextMenu_data() {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("pinned");
        QTest::addColumn<QString>("pinTitle");
        QTest::addColumn<bool>("filesOn"); // Show in Folder, Open and Preview
        // clang-format off
        QTest::newRow("mixed pinned, E missing") << "A B E" << "A" << "Pin" << true;
        QTest::newRow("all missing, all pinned") << "E" << "E" << "Unpin" << false;
        // clang-format on
    }

    void contextMenu() {
        QFETCH(QString, selected);
        QFETCH(QString, pinned);
        QFETCH(QString, pinTitle);
        QFETCH(bool, filesOn);
        Row r;
        QVERIFY(r.prepare("E"));
        r.store->setPinned(r.ids(words(pinned)), true);
        r.interaction->setSelection(r.set(words(selected)));
        std::unique_ptr<QMenu> menu = r.view->menu();
        QStringList titles;
        for (QAction *action : menu->actions())
            titles << (action->isSeparator() ? "-" : action->text() + (action->isEnabled() ? "" : " (off)"));
        const QString off = filesOn ? "" : " (off)";
        QCOMPARE(titles, QStringList({"Show in Folder" + off, "Open\tEnter" + off, "Preview\tSpace" + off,
                                      "Copy\tCtrl+C" + off, "Copy Path", "-", pinTitle, "Remove\tDel"}));
        menu->actions().at(6)->trigger(); // Pin and Unpin act on the whole selection
        for (const QUuid &id : r.ids(words(selected)))
            QCOMPARE(r.store->item(id)->pinned, pinTitle == "Pin");
    }

    // The preview opens on the first file; a second request replaces the list, an empty one changes
    // nothing. The thumbnails Stowbay makes, and its record of files it could not make one of, are
    // the user's alone. A document with a large thumbnail in the shared cache shows it in the
    // preview, as its row shows the small one.
    void previewAndThumbnails() {
        InteractionFixture f(words("a b c page.pdf broken.png"));
        const QList<QUrl> urls = f.urls(words("a b c"));
        PreviewPanel *panel = PreviewPanel::shared();
        QuickLookController::shared().show(urls);
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->itemCount(), 3);
        QCOMPARE(panel->shownText(), QString("a"));

        QTest::keyClick(panel, Qt::Key_Right);
        QuickLookController::shared().show({urls[2], urls[1]});
        QCOMPARE(panel->itemCount(), 2);
        QCOMPARE(panel->shownText(), QString("c"));

        QTest::keyClick(panel, Qt::Key_Right);
        QuickLookController::shared().show({});
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->itemCount(), 2);
        QCOMPARE(panel->currentPreviewItemURL(), urls[1]);
        QImage picture(300, 200, QImage::Format_RGB32);
        picture.fill(Qt::cyan);
        QVERIFY(picture.save(f.path("picture.png")));
        for (const QString name : {"picture.png", "broken.png"})
            Thumbnails::make(*Thumbnails::source(f.path(name), "image/png"), Thumbnails::Flavour::normal);
        const QString cache = Thumbnails::cacheFolder();
        for (const QString folder : {"", "/normal", "/fail", "/fail/stowbay-0"})
            QCOMPARE(TestSupport::mode(cache + folder), 0700);
        const QByteArray uri = f.urls(words("page.pdf")).first().toEncoded();
        QImage page(181, 256, QImage::Format_RGB32);
        page.fill(Qt::magenta);
        page.setText("Thumb::URI", uri);
        page.setText("Thumb::MTime",
                     QString::number(QFileInfo(f.path("page.pdf")).lastModified().toSecsSinceEpoch()));
        const QString thumbnail = Thumbnails::thumbnailPath(uri, Thumbnails::Flavour::large);
        QVERIFY(QDir().mkpath(QFileInfo(thumbnail).path()) && page.save(thumbnail));
        QuickLookController::shared().show(f.urls(words("page.pdf")));
        const auto shows = [] {
            for (const QLabel *label : PreviewPanel::shared()->findChildren<QLabel *>())
                if (label->pixmap().size() == QSize(181, 256)) return true;
            return false;
        };
        QTRY_VERIFY(shows());
        PreviewPanel::shared()->dismiss();
    }

    // Remote and non-file URLs contribute nothing; a drop without any is delivered too, as none.
    void dropsDeliverLocalFilesOnceLater_data() {
        QTest::addColumn<QByteArray>("uriList"); // empty: the drop is plain text
        QTest::addColumn<QList<QUrl>>("expected");
        const QUrl a = QUrl::fromLocalFile("/tmp/a");
        // clang-format off
        QTest::newRow("files, whatever their names") << QByteArray("file:///tmp/a\r\nfile:///tmp/b%20c\r\nfile:///tmp/a%0Ab\r\nfile:///tmp/a%09b\r\nfile:///tmp/-rf\r\nfile:///tmp/%D7%A9%D7%9C%D7%95%D7%9D.txt\r\n") << QList<QUrl>{a, QUrl::fromLocalFile("/tmp/b c"), QUrl::fromLocalFile("/tmp/a\nb"), QUrl::fromLocalFile("/tmp/a\tb"), QUrl::fromLocalFile("/tmp/-rf"), QUrl::fromLocalFile("/tmp/שלום.txt")};
        QTest::newRow("another host's file") << QByteArray("file://fileserver/share/a\r\n") << QList<QUrl>{};
        QTest::newRow("this machine's name") << "file://" + QSysInfo::machineHostName().toUtf8() + "/tmp/a\r\n" << QList<QUrl>{a};
        QTest::newRow("a name not UTF-8 keeps its bytes") << QByteArray("file:///tmp/%FF\r\n") << QList<QUrl>{QUrl("file:///tmp/%FF")};
        QTest::newRow("plain text only") << QByteArray() << QList<QUrl>{};
        // clang-format on
    }

    void dropsDeliverLocalFilesOnceLater() {
        QFETCH(QByteArray, uriList);
        QFETCH(QList<QUrl>, expected);
        QList<QList<QUrl>> deliveries;
        bool onMainThread = false;
        {
            QMimeData data; // gone before the delivery
            uriList.isEmpty() ? data.setText("some selected words") : data.setData("text/uri-list", uriList);
            FileDropLoader::load(&data, [&](QList<QUrl> urls) {
                deliveries << urls;
                onMainThread = QThread::currentThread() == qApp->thread();
            });
        }
        QCOMPARE(deliveries.size(), 0);
        QTRY_COMPARE(deliveries.size(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(deliveries, QList<QList<QUrl>>{expected});
        QVERIFY(onMainThread);
    }

    void iconsAreCachedPerPathAndExistence() {
        RecordingWorkspace workspace;
        Workspace::setShared(&workspace);
        const QString path = "/tmp/stowbay-icon-test/report.pdf";
        const QIcon missing = IconCache::icon(path, false);
        QCOMPARE(missing.cacheKey(), workspace.generic.cacheKey());
        // The file's own icon is found out off the main thread: the plain one stands in until then.
        QCOMPARE(IconCache::icon(path, true).cacheKey(), missing.cacheKey());
        QSignalSpy ready(&IconCache::shared(), &IconCache::pictureReady);
        QVERIFY(ready.wait());
        const QIcon own = IconCache::icon(path, true);
        QVERIFY(own.cacheKey() != missing.cacheKey());
        QCOMPARE(IconCache::icon(path, false).cacheKey(), missing.cacheKey());
        QCOMPARE(workspace.iconsAsked.count(path), 1); // each asked once
        Workspace::setShared(nullptr);
    }
};

STOWBAY_TEST_MAIN(tst_StowbayInteraction)
#include "tst_StowbayInteraction.moc"
