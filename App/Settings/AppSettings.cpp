#include "Settings/AppSettings.h"

#include "Input/KeyCodes.h"
#include "Session/UserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeySequence>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace {
const char *const kEdge = "edge";
const char *const kOpenMode = "openMode";
const char *const kSensitivity = "sensitivity";
const char *const kAfterDrag = "afterDrag";
const char *const kAutoClear = "autoClear";
const char *const kKeepOnQuit = "keepOnQuit";
const char *const kHotkeyKeyCode = "hotkeyKeyCode";
const char *const kHotkeyModifiers = "hotkeyModifiers";
const char *const kHotkeyLabel = "hotkeyLabel";

bool fitsUnsigned32(qint64 n) {
    return n >= 0 && n <= 0xFFFFFFFFLL;
}
} // namespace

template <typename E> E AppSettings::loadEnum(const char *key, E fallback) const {
    return fromRawValue<E>(m_d.string(QLatin1String(key))).value_or(fallback);
}

AppSettings::AppSettings(UserDefaults &defaults, QObject *parent) : QObject(parent), m_d(defaults) {
    m_edge = loadEnum(kEdge, StowbayEdge::right);
    m_openMode = loadEnum(kOpenMode, OpenMode::shake);
    m_sensitivity = loadEnum(kSensitivity, ShakeSensitivity::normal);
    m_afterDrag = loadEnum(kAfterDrag, AfterDrag::remove);
    m_autoClear = loadEnum(kAutoClear, AutoClear::never);
    m_keepOnQuit = m_d.contains(kKeepOnQuit) ? m_d.boolean(kKeepOnQuit) : true;

    // The stored key code alone decides between the stored shortcut and the default one. A stored
    // number that cannot be a key code or a modifier mask gives the default shortcut too.
    if (m_d.contains(kHotkeyKeyCode)) {
        const qint64 keyCode = m_d.integer(kHotkeyKeyCode);
        const qint64 modifiers = m_d.integer(kHotkeyModifiers);
        if (fitsUnsigned32(keyCode) && fitsUnsigned32(modifiers)) {
            m_hotkeyKeyCode = quint32(keyCode);
            m_hotkeyModifiers = quint32(modifiers);
            m_hotkeyLabel = m_d.contains(kHotkeyLabel) ? m_d.string(kHotkeyLabel) : QStringLiteral("?");
        }
    }
}

AppSettings &AppSettings::shared() {
    static AppSettings *instance = new AppSettings(UserDefaults::standard());
    return *instance;
}

void AppSettings::setEdge(StowbayEdge value) {
    m_edge = value;
    emit edgeChanged(value);
    emit changed();
    m_d.setValue(kEdge, rawValue(value));
}

void AppSettings::setOpenMode(OpenMode value) {
    m_openMode = value;
    emit openModeChanged(value);
    emit changed();
    m_d.setValue(kOpenMode, rawValue(value));
}

void AppSettings::setSensitivity(ShakeSensitivity value) {
    m_sensitivity = value;
    emit sensitivityChanged(value);
    emit changed();
    m_d.setValue(kSensitivity, rawValue(value));
}

void AppSettings::setAfterDrag(AfterDrag value) {
    m_afterDrag = value;
    emit afterDragChanged(value);
    emit changed();
    m_d.setValue(kAfterDrag, rawValue(value));
}

void AppSettings::setAutoClear(AutoClear value) {
    m_autoClear = value;
    emit autoClearChanged(value);
    emit changed();
    m_d.setValue(kAutoClear, rawValue(value));
}

void AppSettings::setKeepOnQuit(bool value) {
    m_keepOnQuit = value;
    emit keepOnQuitChanged(value);
    emit changed();
    m_d.setValue(kKeepOnQuit, value);
}

void AppSettings::setHotkeyKeyCode(quint32 value) {
    m_hotkeyKeyCode = value;
    emit hotkeyKeyCodeChanged(value);
    emit changed();
    m_d.setValue(kHotkeyKeyCode, qint64(value));
}

void AppSettings::setHotkeyModifiers(quint32 value) {
    m_hotkeyModifiers = value;
    emit hotkeyModifiersChanged(value);
    emit changed();
    m_d.setValue(kHotkeyModifiers, qint64(value));
}

void AppSettings::setHotkeyLabel(const QString &value) {
    m_hotkeyLabel = value;
    emit hotkeyLabelChanged(value);
    emit changed();
    m_d.setValue(kHotkeyLabel, value);
}

QString AppSettings::hotkeyDisplay() const {
    // The modifiers in the order the desktop writes them, Super being what Qt calls Meta.
    QString text;
    if (m_hotkeyModifiers & commandKey) text += QStringLiteral("Super+");
    if (m_hotkeyModifiers & controlKey) text += QStringLiteral("Ctrl+");
    if (m_hotkeyModifiers & optionKey) text += QStringLiteral("Alt+");
    if (m_hotkeyModifiers & shiftKey) text += QStringLiteral("Shift+");
    // A key Stowbay knows is named as the desktop names it ("Return", where the stored label is
    // "↩"); a code no key has shows the stored label.
    const std::optional<int> key = KeyCodes::qtKey(m_hotkeyKeyCode);
    if (!key) return text + m_hotkeyLabel;
    const Qt::KeyboardModifiers keypad =
        KeyCodes::isKeypad(m_hotkeyKeyCode) ? Qt::KeypadModifier : Qt::NoModifier;
    return text + QKeySequence(QKeyCombination(keypad, Qt::Key(*key))).toString(QKeySequence::NativeText);
}

// ---------------------------------------------------------------------------------------------
// LaunchAtLogin

namespace LaunchAtLogin {

QString entryPath() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) config = QDir::homePath() + "/.config";
    return config + "/autostart/stowbay.desktop";
}

namespace {
// Quotes an Exec argument as desktop entries require: inside double quotes, backslash before
// the characters that have a meaning there.
QString quoteExecArgument(const QString &arg) {
    QString quoted;
    for (const QChar c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    // A literal percent sign is written twice.
    quoted.replace('%', "%%");
    // In a desktop file the backslash itself is escaped once more.
    quoted.replace('\\', "\\\\");
    return '"' + quoted + '"';
}
} // namespace

std::optional<QString> set(bool enabled) {
    const QString path = entryPath();
    if (!enabled) {
        QFile file(path);
        if (!file.exists()) return std::nullopt;
        if (!file.remove()) return file.errorString();
        return std::nullopt;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("Cannot create the folder %1").arg(QFileInfo(path).absolutePath());
    QString program = QCoreApplication::applicationFilePath();
    if (program.isEmpty()) program = QStringLiteral("stowbay");
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Stowbay\n"
                                         "Comment=A holding place for files while you drag\n"
                                         "Exec=%1\n"
                                         "Icon=stowbay\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(quoteExecArgument(program));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return file.errorString();
    file.write(entry.toUtf8());
    if (!file.commit()) return file.errorString();
    return std::nullopt;
}

bool isEnabled() {
    const QString path = entryPath();
    if (!QFileInfo(path).isFile()) return false;
    QSettings entry(path, QSettings::IniFormat);
    entry.beginGroup("Desktop Entry");
    const auto isTrue = [](const QVariant &v) { return v.toString().trimmed() == "true"; };
    if (isTrue(entry.value("Hidden"))) return false;
    if (entry.contains("X-GNOME-Autostart-enabled") &&
        entry.value("X-GNOME-Autostart-enabled").toString().trimmed() == "false")
        return false;
    return true;
}

} // namespace LaunchAtLogin
