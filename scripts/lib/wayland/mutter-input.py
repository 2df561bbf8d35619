#!/usr/bin/python3
"""Pointer and key input for mutter, through its remote desktop service on the session bus.
Takes the commands of input.c on stdin: "abs X Y", "rel DX DY", "down", "up", "key CODE...",
"wait MS"; prints "ready" first and "done LINE" after each command (before a key command's keys).
Absolute motion is given in the coordinates of a screen cast of the primary monitor, which mutter
links to the input session (so PipeWire must run)."""
import sys
import time

import dbus
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()


def interface(service, path, name):
    return dbus.Interface(bus.get_object(service, path), name)


desktop = "org.gnome.Mutter.RemoteDesktop"
path = interface(desktop, "/org/gnome/Mutter/RemoteDesktop", desktop).CreateSession()
session = interface(desktop, path, desktop + ".Session")
session_id = bus.get_object(desktop, path).Get(desktop + ".Session", "SessionId",
                                                dbus_interface=dbus.PROPERTIES_IFACE)
cast = "org.gnome.Mutter.ScreenCast"
cast_path = interface(cast, "/org/gnome/Mutter/ScreenCast", cast).CreateSession(
    {"remote-desktop-session-id": session_id})
stream = interface(cast, cast_path, cast + ".Session").RecordMonitor("", {})
started = []
bus.add_signal_receiver(lambda node: started.append(node), "PipeWireStreamAdded", cast + ".Stream",
                        path=stream)
session.Start()
deadline = time.monotonic() + 10
while not started and time.monotonic() < deadline:
    GLib.MainContext.default().iteration(True)
if not started:
    sys.exit("mutter-input: mutter started no screen cast stream")
# mutter loses the first key press it is given (while it sets up the keyboard): one that nobody
# sees, before any window is there. mutter 48 sets up the pointer the same way, and loses what it
# is given first (a motion, the press after it): a step to the side and back, which nobody sees.
for pressed in (True, False):
    session.NotifyKeyboardKeycode(dbus.UInt32(194), pressed)  # KEY_F24
for step in (1, -1):
    session.NotifyPointerMotionRelative(float(step), float(step))
print("ready", flush=True)

for line in sys.stdin:
    words = line.split()
    if not words:
        continue
    command, args = words[0], words[1:]
    if command == "abs" and len(args) == 2:
        session.NotifyPointerMotionAbsolute(stream, float(args[0]), float(args[1]))
    elif command == "rel" and len(args) == 2:
        session.NotifyPointerMotionRelative(float(args[0]), float(args[1]))
    elif command in ("down", "up") and not args:
        session.NotifyPointerButton(0x110, command == "down")  # BTN_LEFT
    elif command == "key" and args:  # pressed in order, released in reverse
        # Told first, as a compositor hears keys before the program with the keyboard does.
        print("done", line.strip(), flush=True)
        for code, pressed in [(c, True) for c in args] + [(c, False) for c in reversed(args)]:
            session.NotifyKeyboardKeycode(dbus.UInt32(int(code)), pressed)
            time.sleep(0.02)  # keys at the same instant are lost
    elif command == "wait" and len(args) == 1:
        time.sleep(int(args[0]) / 1000)
    elif command == "quit":
        break
    else:
        print("mutter-input: unknown command", line.strip(), file=sys.stderr, flush=True)
        continue
    if command != "key":
        print("done", line.strip(), flush=True)
session.Stop()
