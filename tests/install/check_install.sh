#!/usr/bin/env bash
# Checks Tarnis as a packager builds and ships it, in a scratch folder removed at the end:
#
#   check_install.sh plain SOURCE GENERATOR   a plain configure looks for no test or benchmark library
#   check_install.sh tree BUILD               what `cmake --install BUILD` puts in place
#   check_install.sh package BUILD            BUILD's Debian package, unpacked with dpkg -x
#
# A tree must hold exactly the program, its desktop entry, its icon (the SVG, and PNGs at the usual
# sizes that are the SVG's rendering), its AppStream metadata and its licence, valid for
# desktop-file-validate and appstreamcli; the package's program must start and open its dialog.
set -euo pipefail
mode=$1 from=$2
id=tarnis.astro.Tarnis
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnis-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

case $mode in
plain)
  mkdir "$work/no-pkg-config" # pkg-config finds no CFITSIO there
  PKG_CONFIG_LIBDIR="$work/no-pkg-config" cmake -S "$from" -B "$work/build" -G "$3" \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >"$work/log" 2>&1 \
    || { cat "$work/log"; fail "a plain configure needs more than the compiler, CMake and Qt"; }
  exit 0 ;;
tree)
  DESTDIR="$work/root" cmake --install "$from" --prefix /usr >/dev/null ;;
package)
  cpack --config "$from/CPackConfig.cmake" -B "$work/out" >"$work/log" 2>&1 || { cat "$work/log"; fail "cpack"; }
  deb=$(echo "$work"/out/tarnis_*.deb)
  [ -f "$deb" ] || fail "no package in $work/out"
  dpkg -x "$deb" "$work/root"
  depends=", $(dpkg-deb -f "$deb" Depends),"
  for need in libqt6core6 libqt6gui6 libqt6widgets6 qt6-translations-l10n "fonts-ipafont-gothic | fonts-noto-cjk"; do
    [[ $depends == *", $need"[\ ,]* ]] || fail "Depends lacks $need:$depends"
  done ;;
*) fail "unknown mode $mode" ;;
esac

sizes=(16 24 32 48 64 128 256)
expected=(usr/bin/tarnis "usr/share/applications/$id.desktop" usr/share/doc/tarnis/copyright
          usr/share/icons/hicolor/scalable/apps/tarnis.svg "usr/share/metainfo/$id.metainfo.xml")
for size in "${sizes[@]}"; do expected+=("usr/share/icons/hicolor/${size}x$size/apps/tarnis.png"); done
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$work/root" && find . -type f -printf '%P\n' | sort) \
  || fail "the tree holds other files than expected (< missing, > extra)"
[ -x "$work/root/usr/bin/tarnis" ] || fail "the program is not executable"
grep -q 'MIT License' "$work/root/usr/share/doc/tarnis/copyright" || fail "no MIT licence"

desktop="$work/root/usr/share/applications/$id.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
for line in 'Name=Tarnis' 'Categories=Graphics;Science;Astronomy;' 'MimeType=image/fits;' 'Exec=tarnis' 'Icon=tarnis'; do
  grep -qxF "$line" "$desktop" || fail "the desktop entry lacks $line"
done
grep -q '^Name\[ja\]=.' "$desktop" && grep -q '^Comment\[ja\]=.' "$desktop" || fail "no Name[ja] or Comment[ja]"
# Checks the metadata and that its desktop entry is in the tree.
appstreamcli validate-tree --no-net "$work/root" >"$work/log" 2>&1 || { cat "$work/log"; fail "appstreamcli"; }

icons="$work/root/usr/share/icons/hicolor"
for size in "${sizes[@]}"; do
  png="$icons/${size}x$size/apps/tarnis.png"
  [ "$(identify -format '%wx%h' "$png")" = "${size}x$size" ] || fail "$png is not $size pixels square"
  rsvg-convert --width="$size" --height="$size" --output="$work/svg.png" "$icons/scalable/apps/tarnis.svg"
  compare -metric AE -fuzz 10% "$png" "$work/svg.png" null: 2>/dev/null \
    || fail "$png is not the SVG's rendering: run cmake --build --preset default --target icons"
done

if [ "$mode" = package ]; then
  "$(dirname "$0")/../../scripts/screenshot.sh" "$work/shot.png" "$work/root/usr/bin/tarnis" >/dev/null
fi
