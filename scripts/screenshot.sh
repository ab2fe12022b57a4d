#!/usr/bin/env bash
# Starts Tarnis in a virtual X server of its own, as a Japanese user would (LANG=ja_JP.UTF-8), and
# saves a picture of its icon, its window, and the file dialog that Enter opens from "ﾌｧｲﾙ選択".
#
#   scripts/screenshot.sh OUTPUT.png [PROGRAM]
#
# PROGRAM defaults to the default preset's build/default/ui/tarnis. The program gets a home folder of
# its own with the sample in Pictures, and Qt's settings there too. Fails when no Japanese font is
# installed (the captions would show as boxes), when the window does not appear, stays blank or
# carries no icon, or when Enter does not open the dialog with Qt's Japanese texts (titled "開く").
set -euo pipefail

output=${1:?usage: scripts/screenshot.sh OUTPUT.png [PROGRAM]}
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
program=${2:-"$source_dir/build/default/ui/tarnis"}

# A machine without the X server, its tools or a Japanese font cannot take the picture at all: exit
# status 77 says so, and the tests count it as skipped.
for tool in Xvfb xwininfo xprop import identify compare montage fc-list python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/setup.sh" >&2; exit 77; }
done
[ -x "$program" ] || { echo "no program at $program: build it first" >&2; exit 1; }
if [ -z "$(fc-list :lang=ja)" ]; then
  echo "no Japanese font installed (fonts-ipafont-gothic): the captions would not render" >&2
  exit 77
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
fail() {
  echo "$*" >&2
  cat "$work/program.log" >&2 2>/dev/null
  exit 1
}

# Xvfb picks a free display itself and writes its number once it accepts connections, so that
# several of these can run at once. Without -noreset the server starts anew whenever its last client
# leaves, and the first xwininfo below leaving could turn the program away while it connects.
Xvfb -displayfd 3 -screen 0 1024x600x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

mkdir -p "$work/home/Pictures" "$work/config"
mkdir -m 700 "$work/runtime"
cp "$source_dir/samples/m42_dropouts.fit" "$work/home/Pictures/"
env -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG=ja_JP.UTF-8 HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
  XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb "$program" >"$work/program.log" 2>&1 &
program_pid=$!

# Waits for the window titled $1, then saves its picture as $2 once it has been painted (a blank
# window has a single colour) and two captures in a row are the same.
capture() {
  local title=$1 picture=$2 window="" colours=0
  for _ in $(seq 200); do
    kill -0 "$program_pid" 2>/dev/null || fail "the program ended before its window \"$title\" could be captured:"
    [ -n "$window" ] || window=$(xwininfo -name "$title" 2>/dev/null | awk '/Window id:/ { print $4 }') || true
    if [ -n "$window" ] && import -window "$window" "$work/now.png" 2>/dev/null; then
      colours=$(identify -format '%k' "$work/now.png")
      if [ "$colours" -gt 16 ] && [ -f "$picture" ] && compare -metric AE "$work/now.png" "$picture" null: 2>/dev/null; then
        echo "$window"
        return
      fi
      mv "$work/now.png" "$picture"
    fi
    sleep 0.1
  done
  [ -n "$window" ] || fail "no window titled \"$title\" appeared"
  fail "the window \"$title\" stayed blank or kept changing ($colours colours)"
}
window=$(capture "Tarnis Ver3.0" "$work/window.png")

# The icon as the window carries it: the first picture in _NET_WM_ICON (width, height, then ARGB
# pixels), written as a PAM image.
xprop -id "$window" -f _NET_WM_ICON 32c ' = $0+' _NET_WM_ICON >"$work/icon.txt"
python3 - "$work/icon.txt" "$work/icon.pam" <<'PYTHON' || fail "the window carries no icon"
import sys
text = open(sys.argv[1]).read()
values = [int(v) for v in text.partition(" = ")[2].replace(",", " ").split()] if " = " in text else []
if len(values) < 2 or len(values) < 2 + values[0] * values[1]:
    sys.exit(1)
width, height = values[0], values[1]
pixels = bytearray()
for argb in values[2:2 + width * height]:
    pixels += bytes(((argb >> 16) & 255, (argb >> 8) & 255, argb & 255, argb >> 24))
with open(sys.argv[2], "wb") as out:
    out.write(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (width, height))
    out.write(pixels)
PYTHON

# The focus is on "ﾌｧｲﾙ選択" when the window opens: give the window the keyboard (there is no window
# manager to do so) and press Return through the XTEST extension, as a keyboard would.
python3 "$source_dir/scripts/press-return.py" "$window"
capture "開く" "$work/dialog.png" >/dev/null

mkdir -p "$(dirname "$output")"
montage -mode concatenate -tile 3x1 -geometry +16+16 -gravity north -background '#6b7280' \
  "$work/icon.pam" "$work/window.png" "$work/dialog.png" -strip -depth 8 "$output"
echo "saved $output ($(identify -format '%wx%h' "$output"))"
