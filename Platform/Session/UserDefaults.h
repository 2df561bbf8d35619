// The user's stored preferences: a flat key/value store of strings, booleans and integers.
// The real one is QSettings (organisation and application "Stowbay", native format); tests use
// the in-memory one.
#pragma once

#include <QHash>
#include <QSettings>
#include <QString>
#include <QVariant>

class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    virtual bool contains(const QString &key) const = 0;
    virtual QVariant value(const QString &key) const = 0;
    virtual void setValue(const QString &key, const QVariant &value) = 0;

    // A missing key, or one whose value cannot be read as text, reads as the empty string.
    QString string(const QString &key) const;
    // The usual conversion: "true"/"1"/non-zero numbers are true; missing is false.
    bool boolean(const QString &key) const;
    // A missing or non-numeric value reads as 0.
    qint64 integer(const QString &key) const;

    static UserDefaults &standard();
};

class QSettingsUserDefaults : public UserDefaults {
public:
    QSettingsUserDefaults();
    bool contains(const QString &key) const override { return m_settings.contains(key); }
    QVariant value(const QString &key) const override { return m_settings.value(key); }
    // On disk before it returns: a process killed right after still finds it at the next start.
    void setValue(const QString &key, const QVariant &value) override {
        m_settings.setValue(key, value);
        m_settings.sync();
    }

private:
    QSettings m_settings;
};

class MemoryUserDefaults : public UserDefaults {
public:
    bool contains(const QString &key) const override { return m_values.contains(key); }
    QVariant value(const QString &key) const override { return m_values.value(key); }
    void setValue(const QString &key, const QVariant &value) override {
        m_values.insert(key, value);
        ++writes;
    }

    int writes = 0;

private:
    QHash<QString, QVariant> m_values;
};
