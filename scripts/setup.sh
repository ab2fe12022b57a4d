#!/usr/bin/env bash
# Installs the Debian 12 packages that Tarnis needs, as root or through sudo; safe to run again, it
# installs only what is missing.
#
#   scripts/setup.sh          everything: building, testing, benchmarking, fuzzing, packaging and
#                             the Windows cross build
#   scripts/setup.sh window   only what building the programs and opening the window need
set -euo pipefail

window=(
  # build
  g++ cmake ninja-build
  qt6-base-dev libgl-dev
  # Qt's own Japanese texts for the file dialog and the message box, and a Japanese font for the
  # captions, without which they are empty boxes
  qt6-translations-l10n fonts-ipafont-gothic
)
packages=(
  "${window[@]}"
  pkg-config
  # tests and benchmarks (strace shows that each output is synced before it is named; a FAT image
  # mounted through FUSE is a card that ignores letter case; xfs and btrfs images share blocks
  # between files)
  libgtest-dev libgmock-dev libbenchmark-dev libcfitsio-dev strace fusefat dosfstools xfsprogs btrfs-progs
  # tarnis-repair's manual pages rendered, as man shows them, without a warning
  man-db groff-base
  # fuzz targets: Clang and its libFuzzer and sanitizer runtimes
  clang libclang-rt-14-dev
  # the program in a real X server, with a Japanese font, and its screenshot (python3 presses Return
  # through libXtst, which x11-utils brings)
  xvfb xauth x11-utils imagemagick fontconfig python3
  # the installed tree: its desktop entry, AppStream metadata and icons (rendered from the SVG)
  desktop-file-utils appstream librsvg2-bin
  # the Debian package: dpkg-shlibdeps finds the libraries the program needs, and CPack runs file on
  # each installed file to find the programs (a minimal Debian 12 has neither)
  dpkg-dev file
  # the Windows cross build (windows-cross preset): MinGW-w64, Wine for its tests, GoogleTest's sources
  g++-mingw-w64-x86-64-posix wine64 googletest
)

case "${1:-all}" in
  all) ;;
  window) packages=("${window[@]}") ;;
  *) echo "usage: scripts/setup.sh [window]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
else
  as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
