#!/usr/bin/python3
# Prints the list named "Items" of the application with process id ARGV[1] as the AT-SPI bus tells
# it: "name|description|states" per item, states among "selected" and "focused".
import sys
import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi


def lists(node):
    if node.get_role() == Atspi.Role.LIST and node.get_name() == "Items":
        yield node
    for i in range(node.get_child_count()):
        yield from lists(node.get_child_at_index(i))


desktop = Atspi.get_desktop(0)
for app in (desktop.get_child_at_index(i) for i in range(desktop.get_child_count())):
    items = next(lists(app)) if app.get_process_id() == int(sys.argv[1]) else None
    for item in (items.get_child_at_index(i) for i in range(items.get_child_count() if items else 0)):
        states = item.get_state_set()
        said = [n for n in ("selected", "focused") if states.contains(getattr(Atspi.StateType, n.upper()))]
        print("%s|%s|%s" % (item.get_name(), item.get_description(), " ".join(said)))
