#!/usr/bin/python3
"""How long the real viewer makes a user wait, and how much memory it holds.

Starts its own Xvfb (no window manager) and, each round with an empty HOME and
XDG_CONFIG_HOME holding only the window's stored placement (at 0,0, of the
size asked for, as a user's last session leaves it), runs the viewer on the
first picture of a folder (by name). The viewer sets its title to
"Tamsel Photo Editor - <full path>" right after the picture has been painted,
so every time below ends when a top-level window gets that title, seen through
X events (SubstructureNotify on the root, PropertyChange on new windows).

  cold open            process start -> title of the first picture
  next, no pause       Page Down -> title of the next picture; the next key
                       goes at once (9 steps)
  next after a pause   the same after Home, each step after 2 s idle (9 steps)
  VmHWM                the viewer's peak resident memory after ten pictures
  djpeg floor          `djpeg -scale 1/2 -outfile /dev/null` of each JPEG
                       used, the whole process

Before stepping, the window is resized through Xlib to that size (default
1600x1000; a window manager-less X server may have placed it otherwise) and the
script waits for the viewer to be quiet (1 s without X events or CPU use). Keys are sent with XTEST. Times are pooled over rounds (and steps); the
table shows median, min and max beside the targets.

  bench/viewer-latency.py --viewer build/bin/tamsel-photo-editor \\
      --photos FOLDER [--rounds 5] [--width 1600 --height 1000] \\
      [--json FILE] [--cold-only]

Exit status 0 when every round completed (targets met or not), 1 when
something failed (no window, a title that did not come within 10 s).
"""

import argparse
import json
import os
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

try:
    from Xlib import X, XK, Xatom, display as xdisplay, error as xerror
    from Xlib.ext import xtest
except ImportError:
    sys.exit("viewer-latency: needs python3-xlib (Debian's /usr/bin/python3 has it)")

TITLE = "Tamsel Photo Editor - "
# The extensions the viewer lists in a folder; Page Down walks through these.
LISTED = (".bmp", ".jpg", ".jpeg", ".wmf", ".emf", ".ico")
TIMEOUT = 10.0
PAUSE = 2.0
QUIET = 1.0

# key: (label, unit, target or None)
MEASURES = {
    "cold_open_ms": ("cold open", "ms", 75),
    "next_no_pause_ms": ("next, no pause", "ms", 61),
    "next_pause_ms": ("next after a 2 s pause", "ms", 20),
    "vmhwm_mib": ("VmHWM after ten photos", "MiB", 80),
    "djpeg_ms": ("djpeg -scale 1/2, floor", "ms", None),
}


class Failure(Exception):
    pass


def start_xvfb():
    """Xvfb on the first free display from :150 on, and a connection to it."""
    for n in range(150, 500):
        if os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
            continue
        proc = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1920x1200x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        # Another Xvfb may take the same number first; this one then exits
        # and the next number is tried.
        while proc.poll() is None and time.monotonic() < deadline:
            try:
                return proc, f":{n}", xdisplay.Display(f":{n}")
            except xerror.DisplayError:
                time.sleep(0.05)
        stop(proc, 0)
    raise Failure("could not start Xvfb")


def stop(proc, grace):
    if proc.poll() is None:
        try:
            proc.wait(grace)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


def vmhwm_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    raise Failure("no VmHWM in /proc")


class Screen:
    """The X side: finds the viewer's window by its title, sends keys."""

    def __init__(self, dpy):
        self.dpy = dpy
        # Windows may vanish between an event and a request about them.
        dpy.set_error_handler(lambda *_: None)
        self.net_wm_name = dpy.intern_atom("_NET_WM_NAME")
        self.utf8 = dpy.intern_atom("UTF8_STRING")
        dpy.screen().root.change_attributes(event_mask=X.SubstructureNotifyMask)
        dpy.sync()
        self.window = None

    def title(self, win):
        try:
            prop = win.get_full_property(self.net_wm_name, self.utf8) \
                or win.get_full_property(Xatom.WM_NAME, X.AnyPropertyType)
        except xerror.XError:
            return None
        if not prop:
            return None
        value = prop.value
        return value.decode("utf-8", "replace") if isinstance(value, bytes) else value

    def next_event(self, deadline):
        while not self.dpy.pending_events():
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            select.select([self.dpy], [], [], left)
        return self.dpy.next_event()

    def drain(self):
        while self.dpy.pending_events():
            self.dpy.next_event()

    def wait_title(self, want, deadline):
        """The time a top-level window's title became `want`, or None."""
        while (ev := self.next_event(deadline)) is not None:
            now = time.monotonic()
            if ev.type == X.CreateNotify:
                # Watch it first, then read: a title set in between is not lost.
                ev.window.change_attributes(event_mask=X.PropertyChangeMask)
                win = ev.window
            elif ev.type == X.PropertyNotify and ev.atom in (Xatom.WM_NAME, self.net_wm_name):
                win = ev.window
            else:
                continue
            if self.title(win) == want:
                self.window = win
                return now
        return None

    def settle(self, pid):
        """Waits until the viewer has had neither X events nor CPU time for
        QUIET seconds (at most TIMEOUT)."""
        end = time.monotonic() + TIMEOUT
        ticks, calm_since = cpu_ticks(pid), time.monotonic()
        while (now := time.monotonic()) < end:
            ev = self.next_event(min(end, now + 0.1))
            now, later = time.monotonic(), cpu_ticks(pid)
            if ev is not None or later != ticks:
                ticks, calm_since = later, now
            elif now - calm_since >= QUIET:
                return

    def press(self, keysym):
        code = self.dpy.keysym_to_keycode(XK.string_to_keysym(keysym))
        xtest.fake_input(self.dpy, X.KeyPress, code)
        xtest.fake_input(self.dpy, X.KeyRelease, code)
        self.dpy.flush()

    def step(self, keysym, want):
        """Milliseconds from the key press to the title `want`."""
        self.drain()
        start = time.monotonic()
        self.press(keysym)
        end = self.wait_title(want, start + TIMEOUT)
        if end is None:
            raise Failure(f"{keysym}: no title for {os.path.basename(want)} within {TIMEOUT:.0f} s")
        return (end - start) * 1000


def run_round(args, photos, screen, display, figures):
    home = tempfile.mkdtemp(prefix="tamsel-latency-")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "WAYLAND", "QT_"))}
    env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"), XDG_RUNTIME_DIR=home,
               DISPLAY=display, QT_QPA_PLATFORM="xcb")
    store = os.path.join(home, ".config", "Brenmark")
    os.makedirs(store)
    with open(os.path.join(store, "TamselCorvane.conf"), "w", encoding="utf-8") as f:
        key = "\\Software"
        for part in ("", "\\Brenmark", "\\TamselCorvane", "\\forms"):
            key += part
            f.write(f"[{key}]\n\n")
        f.write(f"[{key}\\frmMain]\n\"Top\"=dword:00000000\n\"Left\"=dword:00000000\n"
                f"\"Width\"=dword:{args.width:08x}\n\"Height\"=dword:{args.height:08x}\n")
    screen.drain()
    start = time.monotonic()
    viewer = subprocess.Popen([args.viewer, photos[0]], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        shown = screen.wait_title(TITLE + photos[0], start + TIMEOUT)
        if shown is None:
            raise Failure(f"no window titled with {photos[0]} within {TIMEOUT:.0f} s")
        figures["cold_open_ms"].append((shown - start) * 1000)
        if args.cold_only:
            return

        screen.window.configure(width=args.width, height=args.height)
        screen.dpy.flush()
        screen.settle(viewer.pid)
        screen.window.set_input_focus(X.RevertToParent, X.CurrentTime)
        screen.dpy.sync()

        for photo in photos[1:]:
            figures["next_no_pause_ms"].append(screen.step("Next", TITLE + photo))
        figures["vmhwm_mib"].append(vmhwm_mib(viewer.pid))

        screen.step("Home", TITLE + photos[0])
        for photo in photos[1:]:
            time.sleep(PAUSE)
            figures["next_pause_ms"].append(screen.step("Next", TITLE + photo))
    finally:
        if viewer.poll() is None and screen.window is not None:
            screen.press("Escape")
        stop(viewer, 5)
        screen.window = None
        shutil.rmtree(home, ignore_errors=True)

    for photo in photos:
        if photo.lower().endswith((".jpg", ".jpeg")):
            start = time.monotonic()
            subprocess.run(["djpeg", "-scale", "1/2", "-outfile", "/dev/null", photo], check=True)
            figures["djpeg_ms"].append((time.monotonic() - start) * 1000)


def report(args, photos, figures, failures):
    rows = {}
    print(f"\nViewer latency: {args.rounds} rounds, {len(photos)} pictures of {args.photos}, "
          f"window {args.width}x{args.height}")
    print(f"{'measure':<31}{'median':>9}{'min':>9}{'max':>9}   target")
    for key, (label, unit, target) in MEASURES.items():
        samples = figures[key]
        row = {"unit": unit, "target": target, "samples": [round(s, 2) for s in samples]}
        if samples:
            row.update(median=round(statistics.median(samples), 2), min=round(min(samples), 2),
                       max=round(max(samples), 2))
            row["met"] = None if target is None else row["median"] <= target
            line = f"{label + f' ({unit})':<31}{row['median']:9.1f}{row['min']:9.1f}{row['max']:9.1f}"
        else:
            line = f"{label + f' ({unit})':<31}{'-':>9}{'-':>9}{'-':>9}"
        if target is not None:
            verdict = {True: "met", False: "missed"}.get(row.get("met"), "")
            line += f"   <= {target:<4} {verdict}"
        print(line.rstrip())
        rows[key] = row
    for failure in failures:
        print(f"FAILED: {failure}")
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"viewer": args.viewer, "photos": args.photos, "rounds": args.rounds,
                       "width": args.width, "height": args.height, "completed": not failures,
                       "failures": failures, "measures": rows}, f, indent=2)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--viewer", required=True)
    parser.add_argument("--photos", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--width", type=int, default=1600)
    parser.add_argument("--height", type=int, default=1000)
    parser.add_argument("--json")
    parser.add_argument("--cold-only", action="store_true",
                        help="measure the cold open alone, without stepping or djpeg")
    args = parser.parse_args()
    args.viewer = os.path.abspath(args.viewer)
    args.photos = os.path.abspath(args.photos)
    if not os.path.isdir(args.photos):
        sys.exit(f"viewer-latency: no folder {args.photos}")
    if not os.access(args.viewer, os.X_OK):
        sys.exit(f"viewer-latency: no viewer at {args.viewer}")
    for tool in ("Xvfb", "djpeg"):
        if not shutil.which(tool):
            sys.exit(f"viewer-latency: {tool} is missing (scripts/setup installs it)")
    # The viewer's order: case-insensitive, ties broken exactly.
    names = sorted((n for n in os.listdir(args.photos) if n.lower().endswith(LISTED)),
                   key=lambda n: (n.casefold(), n))
    photos = [os.path.join(args.photos, n) for n in names[:10]]
    if len(photos) < 2:
        sys.exit(f"viewer-latency: fewer than two pictures in {args.photos}")

    # A kill ends the run as Ctrl-C does: viewer and Xvfb closed, figures so far shown.
    def interrupted(*_):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, interrupted)
    figures = {key: [] for key in MEASURES}
    failures = []
    xvfb = None
    try:
        xvfb, display, dpy = start_xvfb()
        screen = Screen(dpy)
        for n in range(args.rounds):
            try:
                run_round(args, photos, screen, display, figures)
                print(f"round {n + 1}/{args.rounds} done", flush=True)
            except Failure as e:
                failures.append(f"round {n + 1}: {e}")
                print(f"round {n + 1}/{args.rounds} FAILED: {e}", flush=True)
        dpy.close()
    except Failure as e:
        failures.append(str(e))
    except KeyboardInterrupt:
        failures.append("interrupted")
    finally:
        if xvfb is not None:
            xvfb.terminate()
            stop(xvfb, 5)
    report(args, photos, figures, failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
