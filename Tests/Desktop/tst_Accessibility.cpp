// The item list as a screen reader finds it on the real AT-SPI bus (read by another process),
// walked with the keyboard alone.
#include "InteractionFixture.h"
#include "Panel/StowbayPanelController.h"
#include "TestSupport.h"

#include <QLocale>
#include <QMenu>
#include <QProcess>

#include "XTestDriver.h"
#include <X11/keysym.h>

namespace {
// The list as the reader prints it; this process answers the reader's questions meanwhile.
QStringList readList() {
    QProcess reader;
    reader.start(qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/listreader.py",
                 {QString::number(QCoreApplication::applicationPid())});
    if (!QTest::qWaitFor([&] { return reader.state() == QProcess::NotRunning; }, 20000)) return {"no end"};
    return QString::fromUtf8(reader.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}
} // namespace

class tst_Accessibility : public QObject {
    Q_OBJECT
    XTestDriver x;

private slots:
    // Down, Down, Shift+Down, Home: names, descriptions and states as read after each key; Enter
    // opens the selection, the Menu key opens the row menu.
    void listWalkedByKeys() {
        QVERIFY2(x.display(), "needs the test desktop");
        InteractionFixture f;
        StowbayPanelController controller(*f.store, *f.interaction, f.settings, [] { return false; });
        f.store->setPinned({f.id("E")}, true);
        QVERIFY(QFile::remove(f.path("D")) && f.refreshed());
        controller.present(true);
        QTRY_VERIFY(controller.panel().isActiveWindow());

        const QString size = QLocale().formattedDataSize(1, 1, QLocale::DataSizeSIFormat);
        const auto read = [&](const QString &selected, const QString &focused) {
            QStringList lines;
            for (const QString &name : words("A B C D E")) {
                const QString facts = name == "D" ? "Missing" : name == "E" ? size + ", Pinned" : size;
                QStringList states;
                if (words(selected).contains(name)) states << "selected";
                if (name == focused) states << "focused";
                lines << name + "|" + facts + "|" + states.join(' ');
            }
            return lines;
        };
        const struct {
            QList<KeySym> keys;
            const char *selected, *focused;
        } steps[] = {{{XK_Down}, "A", "A"},
                     {{XK_Down}, "B", "B"},
                     {{XK_Shift_L, XK_Down}, "B C", "C"},
                     {{XK_Home}, "A", "A"}};
        for (const auto &step : steps) {
            for (KeySym key : step.keys)
                x.key(key, true);
            for (KeySym key : step.keys)
                x.key(key, false);
            QTRY_COMPARE_WITH_TIMEOUT(readList(), read(step.selected, step.focused), 30000);
        }

        x.chord({XK_Return});
        QTRY_COMPARE(f.workspace.opened, f.urls({"A"}));
        x.chord({XK_Menu});
        QTRY_VERIFY(qobject_cast<QMenu *>(QApplication::activePopupWidget()));
        x.chord({XK_Escape});
        QTRY_VERIFY(!QApplication::activePopupWidget());
    }
};

STOWBAY_TEST_MAIN(tst_Accessibility)
#include "tst_Accessibility.moc"
