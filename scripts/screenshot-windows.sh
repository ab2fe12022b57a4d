#!/usr/bin/env bash
# Starts the native Windows window under Wine in a virtual X server of its own, as a Japanese user
# would, with the sample queued as if it had been dropped on the program's icon, presses Return on
# "ﾌｧｲﾙ選択" and saves a picture of the window and the common file dialog that opens over it.
#
#   scripts/screenshot-windows.sh OUTPUT.png [TARNIS.EXE]
#
# TARNIS.EXE defaults to the windows-cross preset's build/windows-cross/win32/tarnis.exe. Wine gets a
# prefix of its own, with its X11 graphics driver and the Japanese locale. Exit status 77: Xvfb,
# Wine, ImageMagick or a Japanese font is missing, so no picture can be taken.
set -euo pipefail

output=${1:?usage: scripts/screenshot-windows.sh OUTPUT.png [TARNIS.EXE]}
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
program=${2:-"$source_dir/build/windows-cross/win32/tarnis.exe"}
loader=/usr/lib/wine/wine64
[ -x "$loader" ] || loader=$(command -v wine64) || { echo "wine64 is not installed" >&2; exit 77; }
for tool in Xvfb xwininfo import identify compare montage python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/setup.sh" >&2; exit 77; }
done
[ -n "$(fc-list :lang=ja)" ] || { echo "no Japanese font installed (fonts-ipafont-gothic)" >&2; exit 77; }
[ -f "$program" ] || { echo "no program at $program: build the windows-cross preset first" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=""
program_pid=""
cleanup() {
  set +e
  [ -n "$program_pid" ] && WINEPREFIX="$work/wine" "$(dirname "$loader")/wineserver" -k 2>/dev/null
  [ -n "$xvfb_pid" ] && { kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; }
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "$*" >&2; cat "$work/program.log" >&2 2>/dev/null; exit 1; }

Xvfb -displayfd 3 -screen 0 1024x600x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")" WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes its locale, and with it the texts of its dialogs, from these, whether or not the
# machine has the locale itself.
japanese=(env LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8)
"${japanese[@]}" "$loader" wineboot -i >/dev/null 2>&1

mkdir "$work/night"
cp "$source_dir/samples/m42_dropouts.fit" "$work/night/"
(cd "$work/night" && exec "${japanese[@]}" "$loader" "$program" m42_dropouts.fit >"$work/program.log" 2>&1) &
program_pid=$!

# The top-level windows on the screen that are shown.
shown() {
  xwininfo -root -children | awk '/^ *0x[0-9a-f]+ / { print $1 }' | while read -r id; do
    if xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then echo "$id"; fi
  done | sort
}
# Saves the picture of window $1 as $2 once it has been painted (more than 16 colours) and two
# captures in a row are the same.
capture() {
  local window=$1 picture=$2
  for _ in $(seq 200); do
    kill -0 "$program_pid" 2>/dev/null || fail "the program ended"
    if import -window "$window" "$work/now.png" 2>/dev/null; then
      if [ -f "$picture" ] && [ "$(identify -format '%k' "$work/now.png")" -gt 16 ] \
         && compare -metric AE "$work/now.png" "$picture" null: 2>/dev/null; then
        return
      fi
      mv "$work/now.png" "$picture"
    fi
    sleep 0.1
  done
  fail "the window $window stayed blank or kept changing"
}
window=""
for _ in $(seq 300); do
  window=$(xwininfo -name "Tarnis Ver3.0" 2>/dev/null | awk '/Window id:/ { print $4 }') || true
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || fail "no window titled \"Tarnis Ver3.0\" appeared"
capture "$window" "$work/window.png"
shown >"$work/before"

# The focus is on "ﾌｧｲﾙ選択": press Return there through the XTEST extension, as a keyboard would.
python3 "$source_dir/scripts/press-return.py" "$window"
dialog=""
for _ in $(seq 200); do
  dialog=$(shown | comm -13 "$work/before" - | head -n1)
  [ -n "$dialog" ] && break
  sleep 0.1
done
[ -n "$dialog" ] || fail "Return on \"ﾌｧｲﾙ選択\" opened no dialog"
capture "$dialog" "$work/dialog.png"

mkdir -p "$(dirname "$output")"
montage -mode concatenate -tile 2x1 -geometry +16+16 -gravity north -background '#6b7280' \
  "$work/window.png" "$work/dialog.png" -strip -depth 8 "$output"
echo "saved $output ($(identify -format '%wx%h' "$output"))"
