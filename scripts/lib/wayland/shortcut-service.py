#!/usr/bin/env python3
"""A desktop's global-shortcut service for a headless session whose desktop has none: it owns
org.freedesktop.portal.Desktop on the session bus and offers org.freedesktop.portal.GlobalShortcuts
(version 1: CreateSession, BindShortcuts, ListShortcuts through request objects; Activated,
Deactivated, ShortcutsChanged; Session.Close/Closed). What a compositor does with the keys, it does
with the key commands the session's input driver reports done in INPUT_LOG ("done key 29 56 31"):
a combination that matches a bound trigger ("CTRL+ALT+s") activates that shortcut.
As a current portal does for a program outside a sandbox, it offers org.freedesktop.host.portal.Registry
and opens a session only for a connection that gave its id there first, and a session takes one
BindShortcuts. With SHORTCUT_PORTAL_VERSION=2 it offers the interface's second version, whose
ConfigureShortcuts (the desktop's own dialog) it only logs.
    shortcut-service.py INPUT_LOG"""
import os
import sys
import time

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

PORTAL = "org.freedesktop.portal.GlobalShortcuts"
REGISTRY = "org.freedesktop.host.portal.Registry"
DESKTOP = "/org/freedesktop/portal/desktop"
MODIFIERS = {29: "CTRL", 97: "CTRL", 56: "ALT", 100: "ALT", 42: "SHIFT", 54: "SHIFT", 125: "LOGO", 126: "LOGO"}
KEYS = dict(zip([16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 30, 31, 32, 33, 34, 35, 36, 37, 38, 44, 45, 46, 47, 48, 49, 50],
                "qwertyuiopasdfghjklzxcvbnm"))
KEYS.update({code: str((code - 1) % 10) for code in range(2, 12)})


def trigger_of(codes):
    """The trigger a pressed combination makes, in the service's words; None for no key."""
    mods = [m for m in ("CTRL", "ALT", "SHIFT", "LOGO") if any(MODIFIERS.get(c) == m for c in codes)]
    keys = [KEYS[c] for c in codes if c in KEYS]
    return "+".join(mods + keys[-1:]) if keys else None


def normal(trigger):
    parts = str(trigger).split("+")
    return "+".join([p.upper() for p in parts[:-1]] + [parts[-1].lower()])


class Request(dbus.service.Object):
    @dbus.service.method("org.freedesktop.portal.Request")
    def Close(self):
        self.remove_from_connection()

    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, code, results):
        pass


class Session(dbus.service.Object):
    def __init__(self, bus, path, service):
        super().__init__(bus, path)
        self.path, self.service, self.shortcuts, self.bound = path, service, [], False

    @dbus.service.method("org.freedesktop.portal.Session")
    def Close(self):
        self.service.sessions.pop(self.path, None)
        self.remove_from_connection()

    @dbus.service.signal("org.freedesktop.portal.Session", signature="a{sv}")
    def Closed(self, details):
        pass


class Service(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, DESKTOP)
        self.bus, self.sessions = bus, {}
        self.app_ids, self.callers = {}, set()  # by connection: the id registered; who called before
        self.failed_once = set()

    @dbus.service.method(REGISTRY, in_signature="sa{sv}", out_signature="", sender_keyword="sender")
    def Register(self, app_id, options, sender=None):
        if sender in self.callers or sender in self.app_ids:
            raise dbus.exceptions.DBusException("Connection already associated with an application ID",
                                                name="org.freedesktop.portal.Error.Failed")
        self.app_ids[sender] = str(app_id)
        print("registered %s as %s" % (sender, app_id), flush=True)

    def refuse_unregistered(self, sender):
        self.callers.add(sender)
        if not self.app_ids.get(sender):
            print("refused %s: no app id" % sender, flush=True)
            raise dbus.exceptions.DBusException("An app id is required", name="org.freedesktop.portal.Error.NotAllowed")

    def answer(self, sender, options, results, code=0):
        token = str(options.get("handle_token", "t%d" % time.monotonic_ns()))
        path = "%s/request/%s/%s" % (DESKTOP, sender[1:].replace(".", "_"), token)
        request = Request(self.bus, path)
        # Answered on the next turn, after the caller has the request's path.
        GLib.idle_add(lambda: (request.Response(dbus.UInt32(code), dbus.Dictionary(results, signature="sv")),
                               request.remove_from_connection(), False)[-1])
        return dbus.ObjectPath(path)

    def listed(self, session):
        return dbus.Array([dbus.Struct((i, dbus.Dictionary(p, signature="sv"))) for i, p in session.shortcuts],
                          signature="(sa{sv})")

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface == PORTAL and name == "version":
            return dbus.UInt32(int(os.environ.get("SHORTCUT_PORTAL_VERSION", "1")))
        raise dbus.exceptions.DBusException("no such property", name="org.freedesktop.DBus.Error.InvalidArgs")

    @dbus.service.method(PORTAL, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        self.refuse_unregistered(sender)
        # A program started with the session can ask before the desktop's own service is up, and
        # the portal then fails the call: so does the first one from each program here.
        if sender not in self.failed_once:
            self.failed_once.add(sender)
            print("failed %s: no service behind the portal yet" % sender, flush=True)
            raise dbus.exceptions.DBusException("A backend call failed", name="org.freedesktop.portal.Error.Failed")
        path = "%s/session/%s/%s" % (DESKTOP, sender[1:].replace(".", "_"), options["session_handle_token"])
        self.sessions[path] = Session(self.bus, path, self)
        return self.answer(sender, options, {"session_handle": dbus.String(path)})

    @dbus.service.method(PORTAL, in_signature="oa(sa{sv})sa{sv}", out_signature="o", sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent, options, sender=None):
        self.follow()  # keys pressed before this call meet the shortcuts bound before it
        s = self.sessions[str(session)]
        if s.bound:
            raise dbus.exceptions.DBusException("Session already has bound shortcuts",
                                                name="org.freedesktop.portal.Error.Failed")
        s.bound = True
        print("bound %s" % s.path, flush=True)
        s.shortcuts = [(str(i), {"description": p.get("description", ""),
                                 "trigger_description": normal(p.get("preferred_trigger", ""))})
                       for i, p in shortcuts]
        # With 2 ("other"), as GNOME 48's portal answers a bind the user accepted: the list is
        # what tells.
        return self.answer(sender, options, {"shortcuts": self.listed(s)}, code=2)

    @dbus.service.method(PORTAL, in_signature="oa{sv}", out_signature="o", sender_keyword="sender")
    def ListShortcuts(self, session, options, sender=None):
        self.callers.add(sender)
        return self.answer(sender, options, {"shortcuts": self.listed(self.sessions[str(session)])})

    @dbus.service.method(PORTAL, in_signature="osa{sv}", out_signature="", sender_keyword="sender")
    def ConfigureShortcuts(self, session, parent, options, sender=None):
        if os.environ.get("SHORTCUT_PORTAL_VERSION", "1") == "1":
            raise dbus.exceptions.DBusException("no such method", name="org.freedesktop.DBus.Error.UnknownMethod")
        print("configure %s" % session, flush=True)

    @dbus.service.signal(PORTAL, signature="osta{sv}")
    def Activated(self, session, shortcut, timestamp, options):
        pass

    @dbus.service.signal(PORTAL, signature="osta{sv}")
    def Deactivated(self, session, shortcut, timestamp, options):
        pass

    @dbus.service.signal(PORTAL, signature="oa(sa{sv})")
    def ShortcutsChanged(self, session, shortcuts):
        pass

    def pressed(self, codes):
        trigger = trigger_of(codes)
        for path, s in list(self.sessions.items()):
            for i, p in s.shortcuts:
                if p["trigger_description"] == trigger:
                    stamp = dbus.UInt64(int(time.monotonic() * 1000))
                    self.Activated(dbus.ObjectPath(path), i, stamp, dbus.Dictionary({}, signature="sv"))
                    self.Deactivated(dbus.ObjectPath(path), i, stamp, dbus.Dictionary({}, signature="sv"))


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    service = Service(bus)
    # The desktop's own portal may already hold the name, started by the bus for an earlier caller
    # (mutter 48 calls it as it starts): it lets a newer one take over.
    name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus, do_not_queue=True, replace_existing=True)
    log = open(sys.argv[1], encoding="utf-8", errors="replace")
    log.seek(0, 2)

    def follow():
        for line in log.readlines():
            if line.startswith("done key "):
                service.pressed([int(c) for c in line.split()[2:] if c.isdigit()])
        return True

    service.follow = follow
    GLib.timeout_add(20, follow)
    print("ready", flush=True)
    GLib.MainLoop().run()
    del name


if __name__ == "__main__":
    main()
