// The preview window: what it shows for each kind of file, which item it opens on, and how a
// second request or an empty one changes it.
#include "PreviewPanel.h"
#include "QuickLookController.h"
#include "TestSupport.h"

#include <QImage>
#include <QTemporaryDir>

class tst_QuickLookController : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void showsEachKindOfFile_data();
    void showsEachKindOfFile();
    void aLongTextShowsItsFirst256KiB();
    void opensOnTheFirstAndStepsWithTheArrowKeys();
    void aSecondShowReplacesTheList();
    void anEmptyListChangesNothing();
    void spaceOrEscapeCloses_data();
    void spaceOrEscapeCloses();

private:
    QUrl file(const QString &name, const QByteArray &contents);
    QTemporaryDir m_dir;
    QUrl m_image, m_text, m_binary;
};

QUrl tst_QuickLookController::file(const QString &name, const QByteArray &contents) {
    QFile f(m_dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly)) return {};
    f.write(contents);
    return QUrl::fromLocalFile(f.fileName());
}

void tst_QuickLookController::initTestCase() {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(m_dir.filePath("red.png")));
    m_image = QUrl::fromLocalFile(m_dir.filePath("red.png"));
    m_text = file("notes.txt", "first line\nsecond line\n");
    m_binary = file("data.bin", QByteArray("\x00\x01\x02\xff\xfe", 5).repeated(100));
    QDir(m_dir.path()).mkdir("folder");
    file("folder/inside.txt", "x");
    file("folder/another.txt", "y");
}

void tst_QuickLookController::cleanup() {
    PreviewPanel::shared()->hide();
}

void tst_QuickLookController::showsEachKindOfFile_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<PreviewPanel::Content>("content");
    QTest::addColumn<QString>("shown");
    QTest::newRow("image") << "red.png" << PreviewPanel::Content::image << "";
    QTest::newRow("text") << "notes.txt" << PreviewPanel::Content::text << "first line\nsecond line\n";
    QTest::newRow("folder") << "folder" << PreviewPanel::Content::folder << "another.txt\ninside.txt";
    QTest::newRow("anything else") << "data.bin" << PreviewPanel::Content::file << "data.bin\n";
}

void tst_QuickLookController::showsEachKindOfFile() {
    QFETCH(QString, name);
    QFETCH(PreviewPanel::Content, content);
    QFETCH(QString, shown);
    QuickLookController::shared().show({QUrl::fromLocalFile(m_dir.filePath(name))});
    PreviewPanel *panel = PreviewPanel::shared();
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->currentContent(), content);
    if (!shown.isEmpty()) QVERIFY2(panel->shownText().startsWith(shown), qPrintable(panel->shownText()));
    if (content == PreviewPanel::Content::file) {
        QVERIFY(panel->shownText().contains("500 bytes"));
        QVERIFY(panel->shownText().contains("Modified"));
    }
}

void tst_QuickLookController::aLongTextShowsItsFirst256KiB() {
    const QUrl log = file("long.log", QByteArray("0123456789abcde\n").repeated(20000));
    QuickLookController::shared().show({log});
    QCOMPARE(PreviewPanel::shared()->currentContent(), PreviewPanel::Content::text);
    QCOMPARE(PreviewPanel::shared()->shownText().size(), 256 * 1024);
}

void tst_QuickLookController::opensOnTheFirstAndStepsWithTheArrowKeys() {
    PreviewPanel *panel = PreviewPanel::shared();
    QuickLookController::shared().show({m_text, m_image, m_binary});
    QCOMPARE(panel->itemCount(), 3);
    QCOMPARE(panel->currentPreviewItemURL(), m_text);
    QTest::keyClick(panel, Qt::Key_Right);
    QCOMPARE(panel->currentPreviewItemURL(), m_image);
    QCOMPARE(panel->currentContent(), PreviewPanel::Content::image);
    QTest::keyClick(panel, Qt::Key_Right);
    QTest::keyClick(panel, Qt::Key_Right);
    QCOMPARE(panel->currentPreviewItemURL(), m_binary);
    QTest::keyClick(panel, Qt::Key_Left);
    QCOMPARE(panel->currentPreviewItemURL(), m_image);
    QVERIFY(panel->isVisible());
}

void tst_QuickLookController::aSecondShowReplacesTheList() {
    PreviewPanel *panel = PreviewPanel::shared();
    QuickLookController::shared().show({m_text, m_image, m_binary});
    QTest::keyClick(panel, Qt::Key_Right);
    QuickLookController::shared().show({m_binary, m_text});
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->itemCount(), 2);
    QCOMPARE(panel->currentPreviewItemIndex(), 0);
    QCOMPARE(panel->currentPreviewItemURL(), m_binary);
    QCOMPARE(panel->currentContent(), PreviewPanel::Content::file);
}

void tst_QuickLookController::anEmptyListChangesNothing() {
    PreviewPanel *panel = PreviewPanel::shared();
    QuickLookController::shared().show({m_text, m_image});
    QTest::keyClick(panel, Qt::Key_Right);
    QuickLookController::shared().show({});
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->itemCount(), 2);
    QCOMPARE(panel->currentPreviewItemURL(), m_image);
    QCOMPARE(QuickLookController::shared().numberOfPreviewItems(), 2);

    panel->hide();
    QuickLookController::shared().show({});
    QVERIFY(!panel->isVisible());
}

void tst_QuickLookController::spaceOrEscapeCloses_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("space") << int(Qt::Key_Space);
    QTest::newRow("escape") << int(Qt::Key_Escape);
}

void tst_QuickLookController::spaceOrEscapeCloses() {
    QFETCH(int, key);
    QuickLookController::shared().show({m_text});
    QTest::keyClick(PreviewPanel::shared(), Qt::Key(key));
    QVERIFY(!PreviewPanel::shared()->isVisible());
}

STOWBAY_TEST_MAIN(tst_QuickLookController)
#include "tst_QuickLookController.moc"
