// The user's choices, loaded once at start and written back the moment one is assigned.
#pragma once

#include <QObject>
#include <QString>
#include <optional>

class UserDefaults;

enum class StowbayEdge { right, left, bottom };
enum class OpenMode { shake, anyDrag };
enum class ShakeSensitivity { gentle, normal, easy };
enum class AfterDrag { remove, keep };
enum class AutoClear { never, hour, day, week };

// Raw values (the stored text, equal to the case name) and the labels the settings window shows.
// Every enumeration lists its cases in the order the settings window offers them.
template <typename E> struct SettingEnum;

#define STOWBAY_SETTING_ENUM(E, ...)                                                                         \
    template <> struct SettingEnum<E> {                                                                      \
        struct Case {                                                                                        \
            E value;                                                                                         \
            const char *raw;                                                                                 \
            const char *label;                                                                               \
        };                                                                                                   \
        static constexpr Case cases[] = {__VA_ARGS__};                                                       \
    };

STOWBAY_SETTING_ENUM(StowbayEdge, {StowbayEdge::right, "right", "Right"}, {StowbayEdge::left, "left", "Left"},
                     {StowbayEdge::bottom, "bottom", "Bottom"})
STOWBAY_SETTING_ENUM(OpenMode, {OpenMode::shake, "shake", "Shake"},
                     {OpenMode::anyDrag, "anyDrag", "Any file drag begins"})
STOWBAY_SETTING_ENUM(ShakeSensitivity, {ShakeSensitivity::gentle, "gentle", "A firm shake"},
                     {ShakeSensitivity::normal, "normal", "A normal shake"},
                     {ShakeSensitivity::easy, "easy", "A small wiggle"})
STOWBAY_SETTING_ENUM(AfterDrag, {AfterDrag::remove, "remove", "Remove it from Stowbay"},
                     {AfterDrag::keep, "keep", "Keep it in Stowbay"})
STOWBAY_SETTING_ENUM(AutoClear, {AutoClear::never, "never", "Never"}, {AutoClear::hour, "hour", "1 hour"},
                     {AutoClear::day, "day", "1 day"}, {AutoClear::week, "week", "1 week"})
#undef STOWBAY_SETTING_ENUM

template <typename E> QString rawValue(E value) {
    for (const auto &c : SettingEnum<E>::cases)
        if (c.value == value) return QString::fromLatin1(c.raw);
    return {};
}

template <typename E> QString displayLabel(E value) {
    for (const auto &c : SettingEnum<E>::cases)
        if (c.value == value) return QString::fromUtf8(c.label);
    return {};
}

// Exact, case-sensitive match against the raw values; nullopt for anything else.
template <typename E> std::optional<E> fromRawValue(const QString &raw) {
    for (const auto &c : SettingEnum<E>::cases)
        if (raw == QLatin1String(c.raw)) return c.value;
    return std::nullopt;
}

class AppSettings : public QObject {
    Q_OBJECT

public:
    // Modifier bits of the stored shortcut.
    static constexpr quint32 commandKey = 0x100;
    static constexpr quint32 shiftKey = 0x200;
    static constexpr quint32 optionKey = 0x800;
    static constexpr quint32 controlKey = 0x1000;

    static constexpr quint32 defaultKeyCode = 1; // S
    static constexpr quint32 defaultModifiers = controlKey | optionKey;

    // Loads every field from `defaults`; writes nothing back.
    explicit AppSettings(UserDefaults &defaults, QObject *parent = nullptr);

    static AppSettings &shared();

    UserDefaults &d() const { return m_d; }

    StowbayEdge edge() const { return m_edge; }
    OpenMode openMode() const { return m_openMode; }
    ShakeSensitivity sensitivity() const { return m_sensitivity; }
    AfterDrag afterDrag() const { return m_afterDrag; }
    AutoClear autoClear() const { return m_autoClear; }
    bool keepOnQuit() const { return m_keepOnQuit; }
    quint32 hotkeyKeyCode() const { return m_hotkeyKeyCode; }
    quint32 hotkeyModifiers() const { return m_hotkeyModifiers; }
    QString hotkeyLabel() const { return m_hotkeyLabel; }

    // Every assignment, also of the value already held, emits its signal and writes through.
    void setEdge(StowbayEdge value);
    void setOpenMode(OpenMode value);
    void setSensitivity(ShakeSensitivity value);
    void setAfterDrag(AfterDrag value);
    void setAutoClear(AutoClear value);
    void setKeepOnQuit(bool value);
    void setHotkeyKeyCode(quint32 value);
    void setHotkeyModifiers(quint32 value);
    void setHotkeyLabel(const QString &value);

    // The shortcut as the desktop writes it: "Ctrl+Alt+S", "Super+Space", "Ctrl+Return", the modifiers
    // in that fixed order (Super, Ctrl, Alt, Shift) whatever order they were pressed in.
    QString hotkeyDisplay() const;

signals:
    void edgeChanged(StowbayEdge edge);
    void openModeChanged(OpenMode openMode);
    void sensitivityChanged(ShakeSensitivity sensitivity);
    void afterDragChanged(AfterDrag afterDrag);
    void autoClearChanged(AutoClear autoClear);
    void keepOnQuitChanged(bool keepOnQuit);
    void hotkeyKeyCodeChanged(quint32 hotkeyKeyCode);
    void hotkeyModifiersChanged(quint32 hotkeyModifiers);
    void hotkeyLabelChanged(const QString &hotkeyLabel);
    // Fired on every assignment of any field, for views that redraw on any change.
    void changed();

private:
    template <typename E> E loadEnum(const char *key, E fallback) const;

    UserDefaults &m_d;
    StowbayEdge m_edge = StowbayEdge::right;
    OpenMode m_openMode = OpenMode::shake;
    ShakeSensitivity m_sensitivity = ShakeSensitivity::normal;
    AfterDrag m_afterDrag = AfterDrag::remove;
    AutoClear m_autoClear = AutoClear::never;
    bool m_keepOnQuit = true;
    quint32 m_hotkeyKeyCode = defaultKeyCode;
    quint32 m_hotkeyModifiers = defaultModifiers;
    QString m_hotkeyLabel = QStringLiteral("S");
};

// Starting Stowbay when the user logs in, through an XDG autostart entry.
namespace LaunchAtLogin {
// The autostart entry's path: $XDG_CONFIG_HOME/autostart/stowbay.desktop.
QString entryPath();
// Adds (true) or removes (false) the entry; nullopt on success, else what went wrong.
std::optional<QString> set(bool enabled);
// True exactly when the entry exists and is neither hidden nor disabled. Read afresh each time.
bool isEnabled();
} // namespace LaunchAtLogin
