#!/usr/bin/python3
"""Sets a text field of a running program as a screen reader or voice control does: through
its accessibility interface (AT-SPI EditableText.set_text_contents), not through keys.

Usage: set_text.py PID NAME TEXT
Sets the first showing editable node named NAME to TEXT. Prints "set", or "missing" when no
such node is found within 60 s; exits 0 once set, 1 otherwise."""
import sys
import time
import warnings

warnings.filterwarnings("ignore")
import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib

pid, name, text = int(sys.argv[1]), sys.argv[2], sys.argv[3]


def application():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        node = desktop.get_child_at_index(i)
        if node is not None and node.get_process_id() == pid:
            return node
    return None


def find(node, depth=0):
    if node is None or depth > 60:
        return None
    if node.get_name() == name and node.get_editable_text_iface() is not None and \
            node.get_state_set().contains(Atspi.StateType.SHOWING):
        return node
    for i in range(node.get_child_count()):
        found = find(node.get_child_at_index(i), depth + 1)
        if found is not None:
            return found
    return None


deadline = time.monotonic() + 60
while time.monotonic() < deadline:
    try:
        app = application()
        if app is not None:
            app.clear_cache()
            field = find(app)
            if field is not None and Atspi.EditableText.set_text_contents(field, text):
                print("set", flush=True)
                sys.exit(0)
    except GLib.Error:
        pass  # a node went while it was read: read again
    time.sleep(0.1)
print("missing", flush=True)
sys.exit(1)
