// The settings window's row for the global shortcut: shows it, records a new one from the
// keyboard ("Change", or the desktop's own dialog where it has one), and puts back Ctrl+Alt+S
// ("Reset").
#pragma once

#include <QWidget>
#include <functional>

class AppSettings;
class GlobalShortcut;
class QKeyEvent;
class QLabel;
class QAbstractButton;
class QToolButton;

class HotkeyRecorder : public QWidget {
    Q_OBJECT
public:
    explicit HotkeyRecorder(AppSettings &settings, GlobalShortcut &hotKeys, QWidget *parent = nullptr);
    ~HotkeyRecorder() override;

    // While recording, every key press in the program's windows belongs to the recorder, and the
    // current shortcut is let go so that pressing it records it instead of showing the panel.
    void start();
    // Safe to call when not recording.
    void stop();
    bool isRecording() const { return m_recording; }

    // The label stored with a key code: a symbol for the keys of the table (Return "↩", Tab "⇥",
    // Delete "⌫", the arrows), else the key's own name ("A", "Space", "F5"); "?" for no key.
    static QString label(quint32 virtualKey);

    // Plays the refusal of a combination without Ctrl, Alt or Super. Tests replace it.
    std::function<void()> beep;

    QLabel *shortcutText() const { return m_shortcut; }
    QAbstractButton *changeButton() const;
    QAbstractButton *resetButton() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void keyPressed(const QKeyEvent &event);
    void reset();
    void updateTexts();

    AppSettings &m_settings;
    GlobalShortcut &m_hotKeys;
    bool m_recording = false;
    QLabel *m_shortcut = nullptr;
    QToolButton *m_change = nullptr;
    QToolButton *m_reset = nullptr;
};
