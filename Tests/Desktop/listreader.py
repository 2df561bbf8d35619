#!/usr/bin/python3
# Reads, through the AT-SPI bus, the first list of the application with process id PID: one line
# per item, "name|description|states" (selected, focused), as a screen reader finds them.
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi


def find_list(node, depth=0):
    if node is None or depth > 30:
        return None
    if node.get_role() == Atspi.Role.LIST:
        return node
    for i in range(node.get_child_count()):
        found = find_list(node.get_child_at_index(i), depth + 1)
        if found:
            return found
    return None


desktop = Atspi.get_desktop(0)
apps = [desktop.get_child_at_index(i) for i in range(desktop.get_child_count())]
app = next((a for a in apps if a and a.get_process_id() == int(sys.argv[1])), None)
items = find_list(app)
if items is None:
    sys.exit(2)
for i in range(items.get_child_count()):
    item = items.get_child_at_index(i)
    states = item.get_state_set()
    said = [n for n, s in (("selected", Atspi.StateType.SELECTED), ("focused", Atspi.StateType.FOCUSED))
            if states.contains(s)]
    print("%s|%s|%s" % (item.get_name(), item.get_description(), " ".join(said)))
