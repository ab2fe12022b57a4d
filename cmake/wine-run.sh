#!/bin/sh
# Runs a Windows program under Wine: wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
#
# PREFIX is the Wine prefix (its C: drive, registry and temporary folder), made on first use; the
# cross build keeps it in its build folder. Debian installs the loader outside PATH.
set -eu
prefix=$1
shift
loader=/usr/lib/wine/wine64
[ -x "$loader" ] || loader=$(command -v wine64) || { echo "wine64 is not installed (Debian: wine64)" >&2; exit 1; }
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Made once, under a lock: tests started side by side must not each start making it. Its windows
# go to Wine's null graphics driver, which needs no display: they are made, painted and driven as
# on a screen, and nobody sees them. A program that crashes ends at once, rather than waiting for a
# debugger until the test's time is up.
if [ ! -f "$prefix/.ready" ]; then
  mkdir -p "$prefix"
  flock -o "$prefix/.making" sh -c '[ -f "$WINEPREFIX/.ready" ] || {
    "$1" wineboot -i </dev/null >/dev/null 2>&1 &&
    "$1" reg add "HKCU\\Software\\Wine\\Drivers" /v Graphics /d null /f </dev/null >/dev/null 2>&1 &&
    "$1" reg add "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug" /v Debugger /d "" /f </dev/null >/dev/null 2>&1 &&
    touch "$WINEPREFIX/.ready"; }' sh "$loader"
fi
# One server for all the programs of a test run, kept until ten seconds after the last: starting it
# and Wine's own services anew for each program costs seconds. Started apart from this program's
# output, since the services keep whatever output they start with open for as long as they run, and
# CTest waits for a test's output to close.
server="$(dirname "$loader")/wineserver"
[ -x "$server" ] || server=wineserver
flock -o "$prefix/.making" sh -c '! "$1" -p10 </dev/null >/dev/null 2>&1 || "$2" wineboot </dev/null >/dev/null 2>&1' sh "$server" "$loader" || true
# Wine now and then ends a program before the program has run at all: it fails having printed
# nothing, where a test program always prints. Such a start is made again, up to twice, saying so;
# a run that printed anything stands as it is. The output is held until the run ends to tell.
out=$(mktemp) && err=$(mktemp) || exit 1
trap 'cat "$out"; cat "$err" >&2; rm -f "$out" "$err"' EXIT
for attempt in 1 2 3; do
  status=0
  "$loader" "$@" >"$out" 2>"$err" </dev/null || status=$?
  if [ "$status" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ] || [ "$attempt" -eq 3 ]; then
    exit "$status"
  fi
  echo "wine-run.sh: Wine ended $1 with status $status before it printed anything; starting it again" >&2
done
