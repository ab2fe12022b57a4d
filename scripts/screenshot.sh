#!/usr/bin/env bash
# Starts Tarnis in a virtual X server of its own and saves a picture of its window.
#
#   scripts/screenshot.sh OUTPUT.png [PROGRAM]
#
# PROGRAM defaults to the default preset's build/default/ui/tarnis. Fails when no Japanese font is
# installed (the captions would show as boxes), when the window does not appear, or when the picture
# stays blank.
set -euo pipefail

output=${1:?usage: scripts/screenshot.sh OUTPUT.png [PROGRAM]}
program=${2:-"$(dirname "$0")/../build/default/ui/tarnis"}
title="Tarnis Ver3.0"

for tool in Xvfb xwininfo import identify fc-list; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/setup.sh" >&2; exit 1; }
done
[ -x "$program" ] || { echo "no program at $program: build it first" >&2; exit 1; }
if [ -z "$(fc-list :lang=ja)" ]; then
  echo "no Japanese font installed (fonts-ipafont-gothic): the captions would not render" >&2
  exit 1
fi

work=$(mktemp -d)
xvfb_pid=""
program_pid=""
cleanup() {
  set +e # a killed process's status must not end the clean-up half way
  if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null; wait "$program_pid" 2>/dev/null; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number once it accepts connections, so that
# several of these can run at once.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

QT_QPA_PLATFORM=xcb "$program" >"$work/program.log" 2>&1 &
program_pid=$!

# Wait for the window, then until it has been painted: a blank window has a single colour.
window=""
colours=0
for _ in $(seq 200); do
  if ! kill -0 "$program_pid" 2>/dev/null; then
    echo "the program ended before its window could be captured:" >&2
    cat "$work/program.log" >&2
    exit 1
  fi
  if [ -z "$window" ]; then
    window=$(xwininfo -name "$title" 2>/dev/null | awk '/Window id:/ { print $4 }') || true
  fi
  if [ -n "$window" ] && import -window "$window" "$work/shot.png" 2>/dev/null; then
    colours=$(identify -format '%k' "$work/shot.png")
    [ "$colours" -gt 16 ] && break
  fi
  sleep 0.1
done
if [ -z "$window" ]; then
  echo "no window titled \"$title\" appeared" >&2
  exit 1
fi
if [ "$colours" -le 16 ]; then
  echo "the window's picture stayed blank ($colours colours)" >&2
  exit 1
fi
mkdir -p "$(dirname "$output")"
cp "$work/shot.png" "$output"
echo "saved $output ($(identify -format '%wx%h' "$output"), $colours colours)"
