#include "Session/GnomeKeybindings.h"

#include "Input/KeyCodes.h"
#include "Session/DesktopSession.h"

#include <vector>

// GLib names a member `signals`, which Qt makes a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

namespace {
const char *const listSchema = "org.gnome.settings-daemon.plugins.media-keys";
const char *const listKey = "custom-keybindings";
const char *const entrySchema = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
const char *const entryPath = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/stowbay/";

bool installed(const char *schema) {
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    GSettingsSchema *found = source ? g_settings_schema_source_lookup(source, schema, TRUE) : nullptr;
    if (found) g_settings_schema_unref(found);
    return found != nullptr;
}

// The entries' paths, and whether the program's is among them.
bool listed(GSettings *list) {
    gchar **paths = g_settings_get_strv(list, listKey);
    const bool found = g_strv_contains(paths, entryPath);
    g_strfreev(paths);
    return found;
}
} // namespace

GnomeKeybindings::GnomeKeybindings(bool gnome)
    : m_available(gnome && installed(listSchema) && installed(entrySchema)) {}

QString GnomeKeybindings::accelerator(quint32 keyCode, quint32 modifiers) {
    const QString key = KeyCodes::keysymName(keyCode);
    if (key.isEmpty()) return {};
    QString words;
    if (modifiers & 0x1000) words += QStringLiteral("<Control>");
    if (modifiers & 0x800) words += QStringLiteral("<Alt>");
    if (modifiers & 0x200) words += QStringLiteral("<Shift>");
    if (modifiers & 0x100) words += QStringLiteral("<Super>");
    return words + key;
}

bool GnomeKeybindings::hasEntry() const {
    if (!m_available) return false;
    GSettings *list = g_settings_new(listSchema);
    const bool found = listed(list);
    g_object_unref(list);
    return found;
}

bool GnomeKeybindings::bind(quint32 keyCode, quint32 modifiers, const QString &command) {
    const QByteArray keys = accelerator(keyCode, modifiers).toUtf8();
    if (!m_available || keys.isEmpty()) return false;
    GSettings *entry = g_settings_new_with_path(entrySchema, entryPath);
    bool written = g_settings_set_string(entry, "name", "Stowbay") &&
                   g_settings_set_string(entry, "command", command.toUtf8().constData()) &&
                   g_settings_set_string(entry, "binding", keys.constData());
    g_object_unref(entry);
    // Listed once its keys are there, after every entry the user already has.
    GSettings *list = g_settings_new(listSchema);
    if (written && !listed(list)) {
        gchar **paths = g_settings_get_strv(list, listKey);
        std::vector<const gchar *> all(paths, paths + g_strv_length(paths));
        all.push_back(entryPath);
        all.push_back(nullptr);
        written = g_settings_set_strv(list, listKey, all.data());
        g_strfreev(paths);
    }
    g_object_unref(list);
    g_settings_sync();
    return written;
}

DesktopKeybinding &DesktopKeybinding::system() {
    static GnomeKeybindings keybindings(DesktopSession::current().compositor ==
                                        DesktopSession::Compositor::mutter);
    return keybindings;
}
