#!/usr/bin/env bash
# Sets the machine up (scripts/setup.sh), builds Tarnis and starts its window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default
cmake --build --preset default
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display to open the window on: run this in a desktop session (or with DISPLAY set)." >&2
  exit 1
fi
exec build/default/ui/tarnis
