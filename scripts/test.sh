#!/usr/bin/env bash
# Sets the machine up, builds Tarnis and runs every test. With "sanitize" as its argument it does
# the same in the AddressSanitizer and UndefinedBehaviorSanitizer build; with "windows-cross", in the
# Windows build, cross-compiled with MinGW-w64, its tests under Wine, and makes its ZIP
# (build/windows-cross/tarnis-<version>-windows-x64.zip).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/setup.sh
cmake --preset "$preset" -DTARNIS_WARNINGS_AS_ERRORS=ON
cmake --build --preset "$preset"
if [ "$preset" = windows-cross ]; then
  cmake --build --preset "$preset" --target package
fi
ctest --preset "$preset" -j2
