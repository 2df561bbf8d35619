#include "SingleInstance.h"
#include "TestSupport.h"

#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>

class tst_SingleInstance : public QObject {
    Q_OBJECT
private slots:
    void aLaterStartIsRefusedAndShowsTheFirst();
    void aLockLeftByADeadProcessIsTakenOver();
    void anUnusableFolderStillLetsStowbayRun();
    void junkOnTheSocketShowsNothing_data();
    void junkOnTheSocketShowsNothing();
};

void tst_SingleInstance::aLaterStartIsRefusedAndShowsTheFirst() {
    QTemporaryDir dir;
    SingleInstance first(dir.path());
    int activations = 0;
    first.onActivationRequest = [&] { ++activations; };
    QVERIFY(first.acquire());

    SingleInstance later(dir.path());
    QVERIFY(!later.acquire());
    QVERIFY(later.requestActivation());
    QTRY_COMPARE(activations, 1);
    QVERIFY(later.requestActivation());
    QTRY_COMPARE(activations, 2);
}

void tst_SingleInstance::aLockLeftByADeadProcessIsTakenOver() {
    QTemporaryDir dir;
    QProcess gone;
    gone.start("true");
    QVERIFY(gone.waitForFinished());
    const qint64 deadPid = gone.processId() ? gone.processId() : 999999;

    SingleInstance probe(dir.path());
    QFile lock(probe.lockPath());
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(deadPid) + "\nstowbay\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    lock.close();
    QFile socketLeftOver(probe.socketPath()); // a plain file where the socket goes
    QVERIFY(socketLeftOver.open(QIODevice::WriteOnly));
    socketLeftOver.close();

    SingleInstance next(dir.path());
    int activations = 0;
    next.onActivationRequest = [&] { ++activations; };
    QVERIFY(next.acquire());
    SingleInstance later(dir.path());
    QVERIFY(!later.acquire());
    QVERIFY(later.requestActivation());
    QTRY_COMPARE(activations, 1);
}

void tst_SingleInstance::anUnusableFolderStillLetsStowbayRun() {
    QTemporaryFile notAFolder;
    QVERIFY(notAFolder.open());
    SingleInstance instance(notAFolder.fileName() + "/below");
    QVERIFY(instance.acquire());
    QVERIFY(!instance.requestActivation(100));
}

void tst_SingleInstance::junkOnTheSocketShowsNothing_data() {
    QTest::addColumn<QByteArray>("junk");
    QTest::newRow("another word") << QByteArray("quit\n");
    QTest::newRow("the word without its line end, then more") << QByteArray("activateactivate\n");
    QTest::newRow("a long line") << QByteArray(4096, 'a');
    QTest::newRow("nothing at all") << QByteArray();
}

void tst_SingleInstance::junkOnTheSocketShowsNothing() {
    QFETCH(QByteArray, junk);
    QTemporaryDir dir;
    SingleInstance first(dir.path());
    int activations = 0;
    first.onActivationRequest = [&] { ++activations; };
    QVERIFY(first.acquire());

    QLocalSocket socket;
    socket.connectToServer(first.socketPath());
    QVERIFY(socket.waitForConnected(1000));
    socket.write(junk);
    socket.flush();
    if (junk.isEmpty()) socket.disconnectFromServer();
    // The running Stowbay hangs up after a line or too many bytes; so does the client on nothing.
    QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(activations, 0);
}

STOWBAY_TEST_MAIN(tst_SingleInstance)
#include "tst_SingleInstance.moc"
