#!/usr/bin/python3
"""Acts as a screen reader on a running program: reads its whole accessibility tree (AT-SPI)
again and again, each time afresh, as a reader does while a window changes, until its standard
input closes.

Usage: screen_reader.py PID
Standard input, one command a line:
  press NAME     presses the enabled push button named NAME through its accessibility action
Standard output, one line each:
  found          the program is on the accessibility bus
  read N COUNT   the N-th whole read is done; it met COUNT nodes
  pressed NAME   or: missing NAME
  error TEXT     a call failed other than on a node that went meanwhile
Exits once standard input closes: 0, or 1 when any error was reported; 2 when the program is not
found within 60 s."""
import os
import select
import sys
import time
import warnings

warnings.filterwarnings("ignore")
import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib

pid = int(sys.argv[1])
errors = 0


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def report(error):
    global errors
    errors += 1
    say("error " + " ".join(str(error).split()))


def gone(error):
    """Whether `error` says the node asked went away (its row was removed meanwhile)."""
    return isinstance(error, GLib.Error) and \
        ("UnknownObject" in error.message or "No such object" in error.message)


def application():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        try:
            node = desktop.get_child_at_index(i)
            if node is not None and node.get_process_id() == pid:
                return node
        except GLib.Error as error:
            if not gone(error):
                raise
    return None


def walk(node, out, depth=0):
    """Every node under `node` with its role and name; a node that goes meanwhile ends its branch.
    """
    if node is None or depth > 60:
        return
    try:
        out.append((node.get_role_name(), node.get_name() or "", node))
        for i in range(node.get_child_count()):
            walk(node.get_child_at_index(i), out, depth + 1)
    except GLib.Error as error:
        if not gone(error):
            raise


def read_all():
    app = application()
    if app is None:
        return []
    app.clear_cache()
    out = []
    walk(app, out)
    return out


def press(name):
    for role, text, node in read_all():
        if role == "push button" and text == name and \
                node.get_state_set().contains(Atspi.StateType.ENABLED):
            node.get_action_iface().do_action(0)
            return True
    return False


deadline = time.monotonic() + 60
while application() is None:
    if time.monotonic() > deadline:
        sys.exit(2)
    time.sleep(0.1)
say("found")

pending = b""
reads = 0
while True:
    while select.select([0], [], [], 0)[0]:
        chunk = os.read(0, 4096)
        if not chunk:
            sys.exit(1 if errors else 0)
        pending += chunk
    while b"\n" in pending:
        line, pending = pending.split(b"\n", 1)
        command = line.decode()
        if command.startswith("press "):
            name = command[len("press "):]
            try:
                say(("pressed " if press(name) else "missing ") + name)
            except Exception as error:
                report(error)
                say("missing " + name)
    try:
        nodes = len(read_all())
    except Exception as error:
        report(error)
        nodes = 0
    reads += 1
    say(f"read {reads} {nodes}")
