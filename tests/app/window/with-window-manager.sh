#!/usr/bin/env bash
# Runs a program in a virtual X display, under a real window manager
# (openbox), a deliberately slow one (it answers every state request 300 ms
# late) or none, with the program's home in a fresh temporary folder.
#
#   with-window-manager.sh <openbox|slow|none> <program> [arguments...]
set -euo pipefail
if [ "${1:-}" != "--inside" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --inside "$@"
fi
shift
wm="$1"; shift

home=$(mktemp -d)
wm_pid=""
trap '[ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null; rm -rf "$home"' EXIT
export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data"
export XDG_RUNTIME_DIR="$home/runtime" QT_QPA_PLATFORM=xcb
mkdir -m 700 "$XDG_RUNTIME_DIR"

case "$wm" in
  none) ;;
  openbox|slow)
    if [ "$wm" = openbox ]; then
      openbox --sm-disable >"$home/wm.log" 2>&1 &
    else
      "$(dirname "$0")/slow-window-manager.py" 0.3 >"$home/wm.log" 2>&1 &
    fi
    wm_pid=$!
    # The manager announces itself on the root window once it manages.
    for _ in $(seq 1 100); do
      xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
      sleep 0.1
    done
    xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id" || { echo "$wm did not start"; cat "$home/wm.log"; exit 1; }
    export TAMSEL_TEST_WINDOW_MANAGER="$wm"
    ;;
  *) echo "unknown window manager: $wm" >&2; exit 2 ;;
esac
"$@"
