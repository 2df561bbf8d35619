#include "StowbayStore.h"
#include "TestSupport.h"

#include <QProcess>
#include <QRandomGenerator>

// Killing the program at any moment leaves the stored file as the last list written or the one
// before it, never a broken file.
class tst_StoreKill : public QObject {
    Q_OBJECT
private slots:
    void storedFileSurvivesKillsAtRandomMoments();
};

void tst_StoreKill::storedFileSurvivesKillsAtRandomMoments() {
    const QString helper = qEnvironmentVariable("STOWBAY_TEST_BIN_DIR") + "/store_kill_helper";
    QVERIFY(QFileInfo(helper).isExecutable());
    QRandomGenerator random(20240305);
    int lastNumber = -1;
    for (int kill = 0; kill < 50; ++kill) {
        QProcess process;
        process.start(helper, {});
        QVERIFY(process.waitForStarted());
        // Wait for the first write of this run, then let it write for a random while.
        QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 10000);
        QTest::qWait(int(random.bounded(60)));
        process.kill();
        QVERIFY(process.waitForFinished());

        // The last list the run reported as written, and the number it ended on.
        int reportedSize = 0, reportedNumber = -1;
        for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> words = line.split(' ');
            if (words.size() == 3 && words[0] == "saved") {
                reportedSize = words[1].toInt();
                reportedNumber = words[2].toInt();
            }
        }
        QVERIFY(reportedNumber > lastNumber);

        QFile file(StowbayStore::fileURL());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const std::optional<QList<StowbayItem>> stored = StoredItems::decode(file.readAll());
        QVERIFY2(stored, qPrintable(QString("kill %1 left an unreadable file").arg(kill)));
        // Either the last reported list or the one written just after it.
        const int storedNumber = stored->last().name.toInt();
        QVERIFY2(storedNumber == reportedNumber || storedNumber == reportedNumber + 1,
                 qPrintable(QString("stored %1, reported %2").arg(storedNumber).arg(reportedNumber)));
        QVERIFY(stored->size() >= reportedSize);
        for (qsizetype i = 0; i < stored->size(); ++i)
            QCOMPARE(stored->at(i).name.toInt(), storedNumber - int(stored->size() - 1 - i));
        lastNumber = storedNumber;
    }
}

STOWBAY_TEST_MAIN(tst_StoreKill)
#include "tst_StoreKill.moc"
