// The settings window's content: every choice of AppSettings, edited in place and stored the
// moment it changes (there is no OK or Apply), the shortcut recorder, and Launch at Login with
// its failure shown in red under the toggle.
#pragma once

#include "Input/DesktopKeybinding.h"
#include "Settings/AppSettings.h"
#include "Settings/GlobalShortcut.h"

#include <QWidget>
#include <optional>

class HotkeyRecorder;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

class SettingsView : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize contentSize{480, 560};

    SettingsView(AppSettings &settings, GlobalShortcut &hotKeys,
                 DesktopKeybinding &keybinding = DesktopKeybinding::system(), QWidget *parent = nullptr);

    // The "Stowbay Settings" window: made on the first call, then the same window, where it was
    // and as it was, brought to the front and given the keyboard. Closing it only hides it. The
    // window lives until the application object is destroyed.
    static SettingsView *showWindow(AppSettings &settings, GlobalShortcut &hotKeys);

    QComboBox *edgePicker() const { return m_edge; }
    QComboBox *openModePicker() const { return m_openMode; }
    QComboBox *sensitivityPicker() const { return m_sensitivity; }
    QComboBox *afterDragPicker() const { return m_afterDrag; }
    QComboBox *autoClearPicker() const { return m_autoClear; }
    QCheckBox *keepOnQuitToggle() const { return m_keepOnQuit; }
    QCheckBox *launchAtLoginToggle() const { return m_launchAtLogin; }
    QLabel *loginErrorText() const { return m_loginError; }
    HotkeyRecorder *recorder() const { return m_recorder; }
    // Under the shortcut, where the desktop has a say in it: the keys it gave, or the line that
    // binds `stowbay toggle` in its configuration.
    QLabel *shortcutNote() const { return m_shortcutNote; }
    // "Add to GNOME's keyboard shortcuts", where the desktop's keyboard settings can run
    // `stowbay toggle` and nothing else gives Stowbay the keys from every window.
    QPushButton *keybindingButton() const { return m_keybindingButton; }

    QSize sizeHint() const override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // A picker of every case of E with its label, kept in step with the setting both ways.
    template <typename E, typename Setter, typename Signal>
    QComboBox *picker(E current, Setter set, Signal changed);
    void setLaunchAtLogin(bool enabled);
    void updateFromSettings();
    void updateShortcutNote();
    void addKeybinding();

    AppSettings &m_settings;
    QWidget *m_page = nullptr;
    QComboBox *m_edge = nullptr;
    QComboBox *m_openMode = nullptr;
    QComboBox *m_sensitivity = nullptr;
    QComboBox *m_afterDrag = nullptr;
    QComboBox *m_autoClear = nullptr;
    QCheckBox *m_keepOnQuit = nullptr;
    GlobalShortcut &m_hotKeys;
    HotkeyRecorder *m_recorder = nullptr;
    QLabel *m_shortcutNote = nullptr;
    DesktopKeybinding &m_keybinding;
    QPushButton *m_keybindingButton = nullptr;
    QCheckBox *m_launchAtLogin = nullptr;
    QLabel *m_loginError = nullptr;
};
