// The real Stowbay in a Wayland session, on the compositor the test runs in
// (scripts/lib/wayland/session.sh): drags from a native Wayland program, driven through the
// compositor's virtual pointer, meet Stowbay only at the screen edge.
#include "Panel/StowbayPanelController.h"
#include "Session/SingleInstance.h"
#include "TestSupport.h"
#include "Triggers/EdgeTrigger.h"

#include <QFile>
#include <QScreen>

#include "DesktopWindows.h"

using namespace DesktopWindows;

class tst_WaylandSession : public QObject {
    Q_OBJECT
private:
    static constexpr int timeoutMs = 15000;
    QProcess m_stowbay;
    QString m_file;
    QSize m_screen;

    // Stowbay's command line, as a second process; its output, or "failed".
    QString stowbay(const QStringList &args) {
        QProcess p;
        p.start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), args);
        const bool ok = p.waitForFinished(timeoutMs) && p.exitCode() == 0;
        return ok ? QString::fromUtf8(p.readAllStandardOutput()) : QStringLiteral("failed");
    }
    void input(const QStringList &commands) {
        QFile fifo(qEnvironmentVariable("WL_INPUT"));
        QVERIFY(fifo.open(QIODevice::WriteOnly));
        fifo.write((commands.join('\n') + '\n').toUtf8());
    }
    // Whether Stowbay shows a window at `frame`.
    bool shows(const QRect &frame) { return windowsOf(m_stowbay.processId()).contains(frame); }

private slots:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("WL_INPUT"), "runs in scripts/lib/wayland/session.sh");
        m_screen = QGuiApplication::primaryScreen()->size();
        m_file = QDir::home().filePath("report.txt");
        TestSupport::writeFile(m_file, "quarterly numbers");
        TestSupport::writeFile(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                                   "/Stowbay/Stowbay.conf",
                               "[General]\ndidShowWelcome=true\n");
        // Started as a desktop starts it: no platform chosen.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("QT_QPA_PLATFORM");
        m_stowbay.setProcessEnvironment(environment);
        m_stowbay.setProcessChannelMode(QProcess::ForwardedChannels);
        m_stowbay.start(qEnvironmentVariable("STOWBAY_STOWBAY_BIN"), {});
        // Asked once it listens: a command that looks for a running Stowbay while it starts would
        // make it give up.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(SingleInstance().socketPath()), timeoutMs);
        QCOMPARE(stowbay({"list"}), QString());
    }
    void cleanupTestCase() {
        stowbay({"quit"});
        m_stowbay.waitForFinished(timeoutMs);
    }

    void edgeDrags_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("touchesEdge");
        QTest::newRow("text to the edge opens nothing") << "text" << true;
        QTest::newRow("a drag elsewhere leaves the edge to the program below") << "files" << false;
        QTest::newRow("files to the edge open the panel, which holds the drop") << "files" << true;
    }
    void edgeDrags() {
        QFETCH(QString, kind);
        QFETCH(bool, touchesEdge);
        QProcess source;
        QByteArray output;
        connect(&source, &QProcess::readyReadStandardOutput, this,
                [&] { output += source.readAllStandardOutput(); });
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "wayland");
        source.setProcessEnvironment(environment);
        source.start(qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/stowbay_dragsource",
                     {kind, "0", "0", "0", "0", m_file});
        QTRY_VERIFY_WITH_TIMEOUT(output.contains("ready"), timeoutMs);
        const auto stop = qScopeGuard([&] {
            source.kill();
            source.waitForFinished();
            if (QTest::currentTestFailed()) qInfo() << "the drag source said:" << output;
        });

        const int right = m_screen.width() - 1, y = m_screen.height() / 3;
        const QRect edge = EdgeTrigger::frame(QRect(QPoint(), m_screen), StowbayEdge::right);
        input({"abs 200 " + QString::number(y), "down", "wait 50", QString("abs 220 %1").arg(y), "wait 50",
               QString("abs 700 %1").arg(y), "wait 100"});
        QTRY_VERIFY_WITH_TIMEOUT(shows(edge), timeoutMs); // each new drag puts the target there
        const QRect panel = StowbayPanelController::expandedFrame(
            QGuiApplication::primaryScreen()->availableGeometry(), 0, StowbayEdge::right);
        if (kind == "files" && touchesEdge) {
            // Pushed against the edge, as a hand does: the compositor may take a moment to hand
            // drags to a window just shown.
            int push = 0;
            QTRY_VERIFY_WITH_TIMEOUT(
                shows(panel) ||
                    (input({QString("abs %1 %2").arg(right).arg(y + push++ % 2), "wait 100"}), false),
                timeoutMs);
            const QPoint c = panel.center();
            // By way of the program below, as a hand goes (KWin, handed a drag from one X11 window
            // straight to another, may send the second a position before it enters, and stall).
            input({QString("abs %1 %2").arg(panel.right() + 4).arg(y), "wait 200",
                   QString("abs %1 %2").arg(c.x() + 20).arg(c.y()), "wait 200",
                   QString("abs %1 %2").arg(c.x()).arg(c.y()), "wait 500", "up"});
            QTRY_VERIFY_WITH_TIMEOUT(output.contains("dropped, taken"), timeoutMs);
            QTRY_COMPARE_WITH_TIMEOUT(stowbay({"list"}), m_file + "\n", timeoutMs);
            QCOMPARE(stowbay({"clear"}), QString());
            return;
        }
        if (touchesEdge) input({QString("abs %1 %2").arg(right).arg(y), "wait 300"});
        input({QString("abs 700 %1").arg(y), "wait 100", "up"});
        // Gone on leaving it, or after a while without a drag; the panel never came.
        QTRY_VERIFY_WITH_TIMEOUT(!shows(edge), EdgeTrigger::timeoutMs + timeoutMs);
        QVERIFY(!shows(panel));
        const int presses = output.count("pressed");
        input({QString("abs %1 %2").arg(right).arg(y), "wait 50", "down", "up"});
        QTRY_COMPARE_WITH_TIMEOUT(output.count("pressed"), presses + 1, timeoutMs);
    }
};

STOWBAY_TEST_MAIN(tst_WaylandSession)
#include "tst_WaylandSession.moc"
