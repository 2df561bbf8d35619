#!/usr/bin/python3
"""Answers GNOME's first-time shortcut dialog as a user at the keyboard does, for a headless session
where nobody sits. When a program binds shortcuts through the portal, GNOME Settings' shortcut
provider shows an "Add Keyboard Shortcuts" window (GNOME 48) and answers the portal only once the
user has chosen. This watches the session bus for that request and, while it is open, presses Alt+A
(the window's "_Add"; the window has the keyboard when shown) through the session's input driver,
every 1.5 s until the provider answers.
    shortcut-dialog.py INPUT_FIFO
Logs one line per request and per answer."""
import sys
import time

from gi.repository import Gio, GLib

PROVIDER = "org.gnome.Settings.GlobalShortcutsProvider"
ADD = "key 56 30"  # Alt+A
AGAIN_MS = 1500

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
rules = [f"type='method_call',interface='{PROVIDER}',member='BindShortcuts'",
         f"type='method_return',sender='{PROVIDER}'", f"type='error',sender='{PROVIDER}'"]
bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Monitoring",
              "BecomeMonitor", GLib.Variant("(asu)", (rules, 0)), None, Gio.DBusCallFlags.NONE, -1, None)
fifo = open(sys.argv[1], "w")
open_requests = {}  # (caller, serial) -> the app id it is for


def log(*words):
    print(time.strftime("%T"), *words, flush=True)


def press():
    if not open_requests:
        return False
    fifo.write(ADD + "\n")
    fifo.flush()
    log("pressed Alt+A for", ", ".join(open_requests.values()))
    return True


def seen(message):
    kind = message.get_message_type()
    if kind == Gio.DBusMessageType.METHOD_CALL:
        app_id = message.get_body()[0] if message.get_body() else ""
        open_requests[(message.get_sender(), message.get_serial())] = app_id
        log("asked for", repr(app_id))
        # Not at once: a desktop that already holds the program's choice answers without asking,
        # and keys pressed then would go to whichever window has the keyboard.
        GLib.timeout_add(AGAIN_MS, press)
    else:
        app_id = open_requests.pop((message.get_destination(), message.get_reply_serial()), None)
        if app_id is not None:
            log("answered for", repr(app_id), "with",
                message.get_error_name() if kind == Gio.DBusMessageType.ERROR else "the shortcuts")


def filtered(connection, message, incoming):
    # Off the main thread: handed over.
    if incoming:
        GLib.idle_add(lambda: seen(message) and False)
    return None


bus.add_filter(filtered)
log("ready")
GLib.MainLoop().run()
