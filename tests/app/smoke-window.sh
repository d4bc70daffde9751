#!/usr/bin/env bash
# Starts the real viewer on a folder in a virtual X display, reads the window
# title, presses Page Down and reads it again.
#
#   smoke-window.sh <viewer executable> <folder> <first file> <second file>
set -euo pipefail
if [ "${1:-}" != "--inside" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --inside "$@"
fi
shift
app="$1"; folder="$2"; first="$3"; second="$4"

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT

export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data"
"$app" "$folder" &
pid=$!
trap 'kill $pid 2>/dev/null || true; rm -rf "$home"' EXIT
wid=$(timeout 60 xdotool search --sync --onlyvisible --name "^Tamsel Photo Editor - " | head -n 1)
title1=$(xdotool getwindowname "$wid")
xdotool windowfocus --sync "$wid"
xdotool key Next
title2=""
for _ in $(seq 1 100); do
  title2=$(xdotool getwindowname "$wid")
  [ "$title2" != "$title1" ] && break
  sleep 0.1
done
echo "before: $title1"
echo "after:  $title2"
[ "$title1" = "Tamsel Photo Editor - $folder/$first" ] || { echo "unexpected first title"; exit 1; }
[ "$title2" = "Tamsel Photo Editor - $folder/$second" ] || { echo "Page Down did not show the next picture"; exit 1; }
xdotool key Escape
for _ in $(seq 1 50); do
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
if kill -0 $pid 2>/dev/null; then echo "Esc did not close the window"; exit 1; fi
echo "smoke test passed"
