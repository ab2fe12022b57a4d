#!/usr/bin/env bash
# Installs what the window needs (scripts/setup.sh window), builds the programs alone, without tests
# or benchmarks, and opens the window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh window
cmake --preset app
cmake --build --preset app --target tarnis
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display to open the window on: run this in a desktop session (or with DISPLAY set)." >&2
  exit 1
fi
exec build/app/ui/tarnis "$@"
