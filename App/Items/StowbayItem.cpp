#include "Items/StowbayItem.h"

#include <QDir>
#include <QSysInfo>
#include <QTimeZone>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>

#include <nlohmann/json.hpp>

ItemInfo ItemInfo::placeholder(const QString &path) {
    return ItemInfo{QUrl::fromLocalFile(path), true, false, std::nullopt};
}

namespace {

constexpr int maxStoredItems = 100;

std::string utf8(const QString &text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

// YYYY-MM-DDThh:mm:ssZ; the fraction of a second is cut.
QString internetDateTime(const QDateTime &time) {
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char('Z');
}

// An internet date-time without fraction: a date, "T", a time to the second, then "Z" or an offset.
std::optional<QDateTime> parseInternetDateTime(const QString &text) {
    static const QRegularExpression form(
        QStringLiteral(R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(?:(Z)|([+-])(\d{2}):(\d{2}))$)"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const auto number = [&](int group) { return m.captured(group).toInt(); };
    const QDate date(number(1), number(2), number(3));
    if (!date.isValid() || number(4) > 23 || number(5) > 59 || number(6) > 59) return std::nullopt;
    const QTime time(number(4), number(5), number(6));
    int offsetSeconds = 0;
    if (m.captured(7).isEmpty()) {
        if (number(9) > 23 || number(10) > 59) return std::nullopt;
        offsetSeconds = (number(9) * 3600 + number(10) * 60) * (m.captured(8) == QLatin1String("-") ? -1 : 1);
    }
    // The time is written back in UTC: one that would leave the years 0001 to 9999 there could
    // not be read again.
    const QDateTime utc = QDateTime(date, time, QTimeZone::utc()).addSecs(-offsetSeconds);
    if (utc.date().year() < 1 || utc.date().year() > 9999) return std::nullopt;
    return utc;
}

// 8-4-4-4-12 hexadecimal digits, either case, nothing around them.
std::optional<QUuid> parseUuid(const QString &text) {
    static const QRegularExpression form(
        QStringLiteral("^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    if (!form.match(text).hasMatch()) return std::nullopt;
    return QUuid::fromString(text);
}

// Standard alphabet, padded to a multiple of four, no line breaks.
std::optional<QByteArray> parseBase64(const QString &text) {
    static const QRegularExpression form(
        QStringLiteral("^(?:[A-Za-z0-9+/]{4})*(?:[A-Za-z0-9+/]{2}==|[A-Za-z0-9+/]{3}=)?$"));
    if (!form.match(text).hasMatch()) return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return std::nullopt;
    return *decoded;
}

std::optional<StowbayItem> decodeItem(const QJsonValue &element) {
    if (!element.isObject()) return std::nullopt;
    const QJsonObject object = element.toObject();
    const QJsonValue id = object.value(QLatin1String("id"));
    const QJsonValue path = object.value(QLatin1String("path"));
    const QJsonValue bookmark = object.value(QLatin1String("bookmark"));
    const QJsonValue name = object.value(QLatin1String("name"));
    const QJsonValue addedAt = object.value(QLatin1String("addedAt"));
    const QJsonValue pinned = object.value(QLatin1String("pinned"));
    if (!id.isString() || !path.isString() || !name.isString() || !addedAt.isString() || !pinned.isBool())
        return std::nullopt;

    StowbayItem item;
    const auto uuid = parseUuid(id.toString());
    const auto date = parseInternetDateTime(addedAt.toString());
    if (!uuid || !date) return std::nullopt;
    item.id = *uuid;
    item.path = path.toString();
    if (bookmark.isString()) {
        item.bookmark = parseBase64(bookmark.toString());
        if (!item.bookmark) return std::nullopt;
    } else if (!bookmark.isUndefined() && !bookmark.isNull()) {
        return std::nullopt;
    }
    item.name = name.toString();
    item.addedAt = *date;
    item.pinned = pinned.toBool();
    return item;
}

} // namespace

namespace StoredItems {

QByteArray encode(const QList<StowbayItem> &items) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const StowbayItem &item : items) {
        nlohmann::ordered_json object;
        object["id"] = utf8(item.id.toString(QUuid::WithoutBraces).toUpper());
        object["path"] = utf8(item.path);
        if (item.bookmark) object["bookmark"] = item.bookmark->toBase64().toStdString();
        object["name"] = utf8(item.name);
        object["addedAt"] = utf8(internetDateTime(item.addedAt));
        object["pinned"] = item.pinned;
        array.push_back(std::move(object));
    }
    const std::string text = array.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    return QByteArray(text.data(), qsizetype(text.size()));
}

std::optional<QList<StowbayItem>> decode(const QByteArray &json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) return std::nullopt;

    // The whole array must be readable, even the elements beyond those that are kept.
    const QJsonArray array = document.array();
    QList<StowbayItem> items;
    items.reserve(std::min<qsizetype>(array.size(), maxStoredItems));
    for (const QJsonValue &element : array) {
        std::optional<StowbayItem> item = decodeItem(element);
        if (!item) return std::nullopt;
        if (items.size() < maxStoredItems) items.append(std::move(*item));
    }
    return items;
}

} // namespace StoredItems

bool isLocalFileURL(const QUrl &url) {
    if (!url.isValid() || !url.isLocalFile()) return false;
    // Some applications name this machine in the URL; a file on another host is not ours to keep.
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0 &&
        host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) != 0)
        return false;
    return QDir::isAbsolutePath(url.path());
}
