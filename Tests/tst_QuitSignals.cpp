#include "QuitSignals.h"
#include "TestSupport.h"

#include <csignal>

class tst_QuitSignals : public QObject {
    Q_OBJECT
private slots:
    void signalsReachTheMainLoop_data();
    void signalsReachTheMainLoop();
};

void tst_QuitSignals::signalsReachTheMainLoop_data() {
    QTest::addColumn<int>("signo");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void tst_QuitSignals::signalsReachTheMainLoop() {
    QFETCH(int, signo);
    QuitSignals signals_;
    int quits = 0;
    signals_.onQuit = [&] { ++quits; };
    QCOMPARE(::raise(signo), 0);
    QCOMPARE(quits, 0); // never from inside the handler
    QTRY_COMPARE(quits, 1);
}

STOWBAY_TEST_MAIN(tst_QuitSignals)
#include "tst_QuitSignals.moc"
