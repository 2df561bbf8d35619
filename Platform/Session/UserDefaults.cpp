#include "Session/UserDefaults.h"

QString UserDefaults::string(const QString &key) const {
    const QVariant v = value(key);
    if (!v.isValid() || !v.canConvert<QString>()) return {};
    switch (v.typeId()) {
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return v.toString();
    default:
        return {};
    }
}

bool UserDefaults::boolean(const QString &key) const {
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed().toLower();
        if (s == "true" || s == "yes") return true;
        bool ok = false;
        const double n = s.toDouble(&ok);
        return ok && n != 0;
    }
    return v.toBool();
}

qint64 UserDefaults::integer(const QString &key) const {
    bool ok = false;
    const qint64 n = value(key).toLongLong(&ok);
    return ok ? n : 0;
}

QSettingsUserDefaults::QSettingsUserDefaults()
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, "Stowbay", "Stowbay") {}

UserDefaults &UserDefaults::standard() {
    static QSettingsUserDefaults defaults;
    return defaults;
}
