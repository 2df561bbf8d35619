#!/usr/bin/python3
# Prints the list named "Items" of the application with process id ARGV[1] as the AT-SPI bus tells
# it: "name|description|states" per item, states among "selected" and "focused". With ARGV[2]
# "controls": the name of each shown window, then "button|name" for each shown button in it.
import sys
import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi


def lists(node):
    if node.get_role() == Atspi.Role.LIST and node.get_name() == "Items":
        yield node
    for i in range(node.get_child_count()):
        yield from lists(node.get_child_at_index(i))


def shown(node):
    return node.get_state_set().contains(Atspi.StateType.SHOWING)


def buttons(node):
    if node.get_role() == Atspi.Role.PUSH_BUTTON and shown(node):
        yield "button|" + node.get_name()
    for i in range(node.get_child_count() if node.get_role() != Atspi.Role.LIST else 0):
        yield from buttons(node.get_child_at_index(i))


desktop = Atspi.get_desktop(0)
for app in (desktop.get_child_at_index(i) for i in range(desktop.get_child_count())):
    if sys.argv[2:] == ["controls"] and app.get_process_id() == int(sys.argv[1]):
        for window in (app.get_child_at_index(i) for i in range(app.get_child_count())):
            if shown(window):
                print(window.get_name())
                print("\n".join(buttons(window)))
        continue
    items = next(lists(app)) if app.get_process_id() == int(sys.argv[1]) else None
    for item in (items.get_child_at_index(i) for i in range(items.get_child_count() if items else 0)):
        states = item.get_state_set()
        said = [n for n in ("selected", "focused") if states.contains(getattr(Atspi.StateType, n.upper()))]
        print("%s|%s|%s" % (item.get_name(), item.get_description(), " ".join(said)))
