#!/usr/bin/python3
# Ticks and unticks the running quobin-station's slots as a screen reader
# does, through AT-SPI: finds each slot's box under "Slots", does its first
# action, and hears the box's checked state and the event that says it
# changed. Usage: tick_slots.py NAME-PREFIX... ; each named box must change
# its tick. Prints what it heard; exits 1 on the first thing missing.
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for i in range(node.get_child_count()):
        yield from walk(node.get_child_at_index(i), depth + 1)


def station():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == "quobin-station":
            return app
    return None


def checked(node):
    return node.get_state_set().contains(Atspi.StateType.CHECKED)


def pump(msecs):
    loop = GLib.MainLoop()
    GLib.timeout_add(msecs, loop.quit)
    loop.run()


def main(prefixes):
    # The program joins the accessibility bus a moment after it shows.
    lists = []
    for _ in range(100):
        app = station()
        if app is not None:
            lists = [n for n in walk(app) if n.get_name() == "Slots" and n.get_role() != Atspi.Role.LABEL]
            if lists:
                break
        pump(100)
    if not lists:
        print("no quobin-station on the bus with a list named Slots")
        return 1
    boxes = [n for n in walk(lists[0]) if n.get_role() == Atspi.Role.CHECK_BOX]
    print("boxes:", [(b.get_name(), checked(b)) for b in boxes])

    heard = []

    def on_event(event):
        heard.append((event.source.get_name(), event.type, event.detail1))

    listener = Atspi.EventListener.new(on_event)
    listener.register("object:state-changed:checked")
    pump(300)

    for prefix in prefixes:
        matching = [b for b in boxes if (b.get_name() or "").startswith(prefix)]
        if len(matching) != 1:
            print(f"no single box for {prefix!r}")
            return 1
        box = matching[0]
        before = checked(box)
        actions = [box.get_action_name(i) for i in range(box.get_n_actions())]
        print(f"{box.get_name()}: actions {actions}, checked {before}")
        if not actions:
            print("no action")
            return 1
        box.do_action(0)
        for _ in range(20):
            pump(100)
            if checked(box) != before and any(h[0] == box.get_name() for h in heard):
                break
        if checked(box) == before:
            print(f"{prefix}: its first action ({actions[0]}) did not change the tick")
            return 1
        events = [h for h in heard if h[0] == box.get_name()]
        if not events or events[-1][2] != (0 if before else 1):
            print(f"{prefix}: no state-changed:checked event to {not before}; heard {heard}")
            return 1
        print(f"{prefix}: now checked {not before}, heard {events[-1]}")
    listener.deregister("object:state-changed:checked")
    return 0


sys.exit(main(sys.argv[1:]))
