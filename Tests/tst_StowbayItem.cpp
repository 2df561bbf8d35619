#include "StowbayItem.h"
#include "TestSupport.h"

namespace {

// One stored element with the given members replaced or dropped (a null QString drops the member).
QByteArray element(const QHash<QString, QString> &changes = {}) {
    const QList<std::pair<QString, QString>> members{{"id", R"("0F8E2D0A-5B4C-4E2A-9D61-3C7B8A9F1E22")"},
                                                     {"path", R"("\/home\/u\/a.txt")"},
                                                     {"bookmark", R"("AQID")"},
                                                     {"name", R"("a.txt")"},
                                                     {"addedAt", R"("2024-03-05T07:08:09Z")"},
                                                     {"pinned", "false"}};
    QStringList parts;
    for (const auto &[key, value] : members) {
        const QString text = changes.value(key, value);
        if (!text.isNull()) parts << QString("\"%1\":%2").arg(key, text);
    }
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        if (std::none_of(members.cbegin(), members.cend(),
                         [&](const auto &m) { return m.first == it.key(); }))
            parts << QString("\"%1\":%2").arg(it.key(), it.value());
    return "{" + parts.join(',').toUtf8() + "}";
}

QByteArray array(const QList<QByteArray> &elements) {
    return "[" + QByteArrayList(elements).join(',') + "]";
}

StowbayItem item(const QString &path, int seconds, bool pinned = false,
                 std::optional<QByteArray> bookmark = std::nullopt) {
    return StowbayItem{QUuid::createUuid(),
                       path,
                       bookmark,
                       path.section('/', -1),
                       QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9), Qt::UTC).addSecs(seconds),
                       pinned};
}

} // namespace

class tst_StowbayItem : public QObject {
    Q_OBJECT
private slots:
    void writesCompactOrderedMembers();
    void roundTripCutsFractionOfASecond();
    void unreadableFiles_data();
    void unreadableFiles();
    void readableFiles_data();
    void readableFiles();
    void keepsTheFirstHundredInFileOrder();
    void lowerCaseIdIsWrittenBackInUpperCase();
};

void tst_StowbayItem::writesCompactOrderedMembers() {
    QCOMPARE(StoredItems::encode({}), QByteArray("[]"));

    StowbayItem plain{QUuid("{0f8e2d0a-5b4c-4e2a-9d61-3c7b8a9f1e22}"),
                      "/home/u/a b.txt",
                      std::nullopt,
                      "a b.txt",
                      QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9, 999), Qt::UTC),
                      false};
    StowbayItem marked{QUuid("{00000000-0000-4000-8000-0000000000ab}"),
                       "/tmp/\"é\"\n",
                       QByteArray("\x01\x02\x03\xff"),
                       "\"é\"\n",
                       QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59), Qt::OffsetFromUTC, 3600),
                       true};
    const QByteArray expected =
        R"([{"id":"0F8E2D0A-5B4C-4E2A-9D61-3C7B8A9F1E22","path":"/home/u/a b.txt","name":"a b.txt",)"
        R"("addedAt":"2024-03-05T07:08:09Z","pinned":false},)"
        R"({"id":"00000000-0000-4000-8000-0000000000AB","path":"/tmp/\"é\"\n","bookmark":"AQID/w==",)"
        R"("name":"\"é\"\n","addedAt":"1999-12-31T22:59:59Z","pinned":true}])";
    QCOMPARE(StoredItems::encode({plain, marked}), expected);
}

void tst_StowbayItem::roundTripCutsFractionOfASecond() {
    StowbayItem original = item("/home/u/ä/ö.txt", 0, true, QByteArray(300, '\x7f'));
    original.addedAt = QDateTime::currentDateTimeUtc();
    const auto decoded = StoredItems::decode(StoredItems::encode({original}));
    QVERIFY(decoded);
    QCOMPARE(decoded->size(), 1);
    StowbayItem back = decoded->first();
    QVERIFY(qAbs(back.addedAt.msecsTo(original.addedAt)) < 1000);
    QCOMPARE(back.addedAt.time().msec(), 0);
    back.addedAt = original.addedAt;
    QCOMPARE(back, original);
}

void tst_StowbayItem::unreadableFiles_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("not JSON") << QByteArray("[{\"id\":");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("an object at the top") << element();
    QTest::newRow("an element that is no object") << array({element(), "3"});
    QTest::newRow("one element lacks pinned")
        << array({element(), element({{"pinned", QString()}}), element()});
    QTest::newRow("no id") << array({element({{"id", QString()}})});
    QTest::newRow("no path") << array({element({{"path", QString()}})});
    QTest::newRow("no name") << array({element({{"name", QString()}})});
    QTest::newRow("no addedAt") << array({element({{"addedAt", QString()}})});
    QTest::newRow("path a number") << array({element({{"path", "12"}})});
    QTest::newRow("name null") << array({element({{"name", "null"}})});
    QTest::newRow("pinned a string") << array({element({{"pinned", R"("true")"}})});
    QTest::newRow("pinned a number") << array({element({{"pinned", "1"}})});
    QTest::newRow("id not a UUID") << array({element({{"id", R"("0F8E2D0A-5B4C-4E2A-9D61-3C7B8A9F1E2")"}})});
    QTest::newRow("id in braces") << array(
        {element({{"id", R"("{0F8E2D0A-5B4C-4E2A-9D61-3C7B8A9F1E22}")"}})});
    QTest::newRow("id without hyphens")
        << array({element({{"id", R"("0F8E2D0A5B4C4E2A9D613C7B8A9F1E22")"}})});
    QTest::newRow("addedAt with a fraction")
        << array({element({{"addedAt", R"("2024-03-05T07:08:09.5Z")"}})});
    QTest::newRow("addedAt without zone") << array({element({{"addedAt", R"("2024-03-05T07:08:09")"}})});
    QTest::newRow("addedAt a date only") << array({element({{"addedAt", R"("2024-03-05")"}})});
    QTest::newRow("addedAt no such day") << array({element({{"addedAt", R"("2023-02-29T07:08:09Z")"}})});
    QTest::newRow("addedAt hour 24") << array({element({{"addedAt", R"("2024-03-05T24:00:00Z")"}})});
    QTest::newRow("addedAt in UTC after year 9999")
        << array({element({{"addedAt", R"("9999-12-31T23:30:00-01:00")"}})});
    QTest::newRow("addedAt in UTC before year 1")
        << array({element({{"addedAt", R"("0001-01-01T00:30:00+01:00")"}})});
    QTest::newRow("addedAt a number") << array({element({{"addedAt", "1709622489"}})});
    QTest::newRow("bookmark not Base64") << array({element({{"bookmark", R"("AQ*D")"}})});
    QTest::newRow("bookmark without padding") << array({element({{"bookmark", R"("AQIDBA")"}})});
    QTest::newRow("bookmark with a line break") << array({element({{"bookmark", R"("AQID\nAQID")"}})});
    QTest::newRow("bookmark a number") << array({element({{"bookmark", "5"}})});
    QList<QByteArray> many(120, element());
    many[110] = element({{"pinned", "null"}});
    QTest::newRow("a bad element past the first hundred") << array(many);
}

void tst_StowbayItem::unreadableFiles() {
    QFETCH(QByteArray, text);
    QCOMPARE(StoredItems::decode(text), std::nullopt);
}

void tst_StowbayItem::readableFiles_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<StowbayItem>("expected");
    const StowbayItem standard{QUuid("{0F8E2D0A-5B4C-4E2A-9D61-3C7B8A9F1E22}"),
                               "/home/u/a.txt",
                               QByteArray("\x01\x02\x03"),
                               "a.txt",
                               QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9), Qt::UTC),
                               false};
    StowbayItem noBookmark = standard;
    noBookmark.bookmark.reset();
    StowbayItem emptyBookmark = standard;
    emptyBookmark.bookmark = QByteArray();

    QTest::newRow("escaped slashes") << array({element()}) << standard;
    QTest::newRow("plain slashes") << array({element({{"path", R"("/home/u/a.txt")"}})}) << standard;
    QTest::newRow("unknown member ignored")
        << array({element({{"colour", R"({"r":1})"}, {"Pinned", "3"}})}) << standard;
    QTest::newRow("members in another order")
        << QByteArray(R"([{"pinned":false,"addedAt":"2024-03-05T07:08:09Z","name":"a.txt","bookmark":"AQID",)"
                      R"("path":"/home/u/a.txt","id":"0F8E2D0A-5B4C-4E2A-9D61-3C7B8A9F1E22"}])")
        << standard;
    QTest::newRow("lower-case id") << array({element({{"id", R"("0f8e2d0a-5b4c-4e2a-9d61-3c7b8a9f1e22")"}})})
                                   << standard;
    QTest::newRow("bookmark null") << array({element({{"bookmark", "null"}})}) << noBookmark;
    QTest::newRow("bookmark missing") << array({element({{"bookmark", QString()}})}) << noBookmark;
    QTest::newRow("bookmark empty") << array({element({{"bookmark", R"("")"}})}) << emptyBookmark;
    QTest::newRow("addedAt with an offset")
        << array({element({{"addedAt", R"("2024-03-05T09:08:09+02:00")"}})}) << standard;
}

void tst_StowbayItem::readableFiles() {
    QFETCH(QByteArray, text);
    QFETCH(StowbayItem, expected);
    const auto decoded = StoredItems::decode(text);
    QVERIFY(decoded);
    QCOMPARE(decoded->size(), 1);
    QCOMPARE(decoded->first(), expected);
    QCOMPARE(decoded->first().addedAt.toUTC(), expected.addedAt);
}

void tst_StowbayItem::keepsTheFirstHundredInFileOrder() {
    QList<StowbayItem> items;
    for (int i = 0; i < 150; ++i)
        items << item(QString("/f/%1").arg(i), i, i % 2);
    const auto decoded = StoredItems::decode(StoredItems::encode(items));
    QVERIFY(decoded);
    QCOMPARE(*decoded, items.first(100));
}

void tst_StowbayItem::lowerCaseIdIsWrittenBackInUpperCase() {
    const auto decoded =
        StoredItems::decode(array({element({{"id", R"("0f8e2d0a-5b4c-4e2a-9d61-3c7b8a9f1e22")"}})}));
    QVERIFY(decoded);
    const QByteArray written = StoredItems::encode(*decoded);
    QVERIFY(written.startsWith(R"([{"id":"0F8E2D0A-5B4C-4E2A-9D61-3C7B8A9F1E22","path":"/home/u/a.txt",)"));
}

STOWBAY_TEST_MAIN(tst_StowbayItem)
#include "tst_StowbayItem.moc"
