#!/usr/bin/python3
"""A deliberately slow window manager for tests.

It maps and places windows as they ask, and carries out the full-screen and
maximized states of the EWMH _NET_WM_STATE protocol, but only DELAY seconds
after each request: the resize and the new _NET_WM_STATE property then come
together, as a real window manager sends them, late. Windows get no frames.

    slow-window-manager.py [DELAY]
"""
import select
import sys
import time

from Xlib import X, Xatom, display
from Xlib.protocol import event

DELAY = float(sys.argv[1]) if len(sys.argv) > 1 else 0.3

d = display.Display()
screen = d.screen()
root = screen.root
W, H = screen.width_in_pixels, screen.height_in_pixels
atom = d.intern_atom
NET_WM_STATE = atom('_NET_WM_STATE')
FULLSCREEN = atom('_NET_WM_STATE_FULLSCREEN')
MAX_H = atom('_NET_WM_STATE_MAXIMIZED_HORZ')
MAX_V = atom('_NET_WM_STATE_MAXIMIZED_VERT')
CHECK = atom('_NET_SUPPORTING_WM_CHECK')

root.change_attributes(event_mask=X.SubstructureRedirectMask | X.SubstructureNotifyMask)
check = root.create_window(-10, -10, 1, 1, 0, X.CopyFromParent)
check.change_property(CHECK, Xatom.WINDOW, 32, [check.id])
check.change_property(atom('_NET_WM_NAME'), atom('UTF8_STRING'), 8, b'slow-window-manager')
root.change_property(atom('_NET_SUPPORTED'), Xatom.ATOM, 32,
                     [NET_WM_STATE, FULLSCREEN, MAX_H, MAX_V, CHECK])
root.change_property(CHECK, Xatom.WINDOW, 32, [check.id])
d.sync()

states = {}    # window id -> set of state atoms
normal = {}    # window id -> (x, y, w, h) before full screen or maximized
pending = []   # (when, window, action, atoms)


def geometry(window):
    g = window.get_geometry()
    return (g.x, g.y, g.width, g.height)


def apply(window, action, atoms):
    current = states.setdefault(window.id, set())
    before = bool(current)
    for a in atoms:
        if a == 0:
            continue
        if action == 0 or (action == 2 and a in current):
            current.discard(a)
        else:
            current.add(a)
    if current and not before:
        normal[window.id] = geometry(window)
    if current:
        window.configure(x=0, y=0, width=W, height=H)
    elif window.id in normal:
        x, y, w, h = normal.pop(window.id)
        window.configure(x=x, y=y, width=w, height=h)
    window.change_property(NET_WM_STATE, Xatom.ATOM, 32, sorted(current))
    d.flush()


while True:
    now = time.monotonic()
    for item in [p for p in pending if p[0] <= now]:
        pending.remove(item)
        apply(*item[1:])
    timeout = max(0.0, min(p[0] for p in pending) - now) if pending else None
    if d.pending_events() == 0:
        select.select([d], [], [], timeout)
    while d.pending_events():
        e = d.next_event()
        if e.type == X.MapRequest:
            e.window.map()
        elif e.type == X.ConfigureRequest:
            if states.get(e.window.id):
                continue
            values = {}
            for name, bit in (('x', X.CWX), ('y', X.CWY), ('width', X.CWWidth), ('height', X.CWHeight)):
                if e.value_mask & bit:
                    values[name] = getattr(e, name)
            if values:
                e.window.configure(**values)
        elif e.type == X.ClientMessage and e.client_type == NET_WM_STATE:
            data = e.data[1]
            pending.append((time.monotonic() + DELAY, e.window, data[0], [data[1], data[2]]))
        d.flush()
