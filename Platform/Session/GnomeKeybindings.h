// GNOME's custom keyboard shortcuts (Settings, Keyboard, Custom Shortcuts), read and written
// through GSettings: the list of entries of gnome-settings-daemon's media keys, each entry a
// name, a command and its keys. The program keeps one entry of its own in that list.
#pragma once

#include "Input/DesktopKeybinding.h"

class GnomeKeybindings : public DesktopKeybinding {
public:
    // `gnome`: whether the session is GNOME's; the settings' schemas must be installed as well.
    explicit GnomeKeybindings(bool gnome);

    bool isAvailable() const override { return m_available; }
    bool hasEntry() const override;
    bool bind(quint32 keyCode, quint32 modifiers, const QString &command) override;

    // The keys in GTK's accelerator words, as the entry holds them: "<Control><Alt>s"; empty for
    // a key with no name.
    static QString accelerator(quint32 keyCode, quint32 modifiers);

private:
    bool m_available = false;
};
