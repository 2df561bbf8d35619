#!/usr/bin/python3
"""Answers GNOME's first-time shortcut dialog for a headless session where nobody sits. When a
program binds shortcuts through the portal, GNOME Settings' shortcut provider shows an "Add
Keyboard Shortcuts" window (GNOME 48) and answers the portal only once the user has chosen. This
watches the session bus for that request and, while it is open, presses the window's "Add" button
through the accessibility bus, as a screen reader's user does: the window need not have the
keyboard, which a program that shows a window of its own meanwhile takes, and no key reaches
another window. A press is given time to be answered before the next.
    shortcut-dialog.py
Logs one line per request, per press and per answer."""
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib

PROVIDER = "org.gnome.Settings.GlobalShortcutsProvider"
PROVIDER_PROGRAM = "gnome-control-center-global-shortcuts-provider"
DIALOG, ADD = "Add Keyboard Shortcuts", "Add"
LOOK_MS, ANSWER_MS = 300, 3000

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
rules = [f"type='method_call',interface='{PROVIDER}',member='BindShortcuts'",
         f"type='method_return',sender='{PROVIDER}'", f"type='error',sender='{PROVIDER}'"]
bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Monitoring",
              "BecomeMonitor", GLib.Variant("(asu)", (rules, 0)), None, Gio.DBusCallFlags.NONE, -1, None)
open_requests = {}  # (caller, serial) -> the app id it is for
pressing = False


def log(*words):
    print(time.strftime("%T"), *words, flush=True)


def children(node):
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            yield child


def find(node, role, name):
    if node.get_role() == role and node.get_name() == name:
        return node
    for child in children(node):
        found = find(child, role, name)
        if found is not None:
            return found
    return None


def press():
    """Presses "Add" in each open dialog, and looks again later while a request is open."""
    global pressing
    if not open_requests:
        pressing = False
        return False
    pressed = False
    try:
        for program in children(Atspi.get_desktop(0)):
            if program.get_name() != PROVIDER_PROGRAM:
                continue
            for window in children(program):
                if window.get_name() != DIALOG:
                    continue
                button = find(window, Atspi.Role.BUTTON, ADD)
                if button is not None and button.do_action(0):
                    log("pressed Add for", ", ".join(open_requests.values()))
                    pressed = True
    except GLib.Error as error:  # a window that went away while being read
        log("looking again:", error.message)
    GLib.timeout_add(ANSWER_MS if pressed else LOOK_MS, press)
    return False


def seen(message):
    global pressing
    kind = message.get_message_type()
    if kind == Gio.DBusMessageType.METHOD_CALL:
        app_id = message.get_body()[0] if message.get_body() else ""
        open_requests[(message.get_sender(), message.get_serial())] = app_id
        log("asked for", repr(app_id))
        # A desktop that already holds the program's choice answers without a window.
        if not pressing:
            pressing = True
            GLib.timeout_add(LOOK_MS, press)
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
