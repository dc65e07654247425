#!/usr/bin/python3
# Prints what a screen reader finds in the running quobin-station through
# AT-SPI: one line per tile ("Slot ..."), the header ("Totals") and its job
# ("Job"), name and
# description separated by a tab. Exits 1 when the program is not there.
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for i in range(node.get_child_count()):
        yield from walk(node.get_child_at_index(i), depth + 1)


def main():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None or app.get_name() != "quobin-station":
            continue
        for node in walk(app):
            name = node.get_name() or ""
            if name.startswith("Slot ") or name in ("Totals", "Job"):
                print(f"{name}\t{node.get_description() or ''}")
        return 0
    return 1


sys.exit(main())
