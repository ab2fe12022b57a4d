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
# Made once, under a lock: tests started side by side must not each start making it.
if [ ! -f "$prefix/.made" ]; then
  mkdir -p "$prefix"
  flock -o "$prefix/.making" sh -c '[ -f "$WINEPREFIX/.made" ] || { "$1" wineboot -i </dev/null >/dev/null 2>&1 && touch "$WINEPREFIX/.made"; }' sh "$loader"
fi
# One server for all the programs of a test run, kept until ten seconds after the last: starting it
# and Wine's own services anew for each program costs seconds. Started apart from this program's
# output, since the services keep whatever output they start with open for as long as they run, and
# CTest waits for a test's output to close.
server="$(dirname "$loader")/wineserver"
[ -x "$server" ] || server=wineserver
flock -o "$prefix/.making" sh -c '! "$1" -p10 </dev/null >/dev/null 2>&1 || "$2" wineboot </dev/null >/dev/null 2>&1' sh "$server" "$loader" || true
exec "$loader" "$@"
