#!/usr/bin/env bash
# check_install.sh plain SOURCE GENERATOR | tree BUILD | package BUILD, in a scratch folder: a plain
# configure looks for no test library; `cmake --install` and the Debian package (dpkg -x) give exactly
# the programs, desktop entry, icon (SVG, and PNGs that are its rendering), metadata, licence, both
# programs' manual pages (gzipped, as Debian's policy asks) and tarnis-repair's bash completion.
set -euo pipefail
mode=$1 from=$2 id=tarnis.astro.Tarnis sizes=(16 24 32 48 64 128 256)
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnis-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

case $mode in
plain)
  mkdir "$work/empty" # where pkg-config finds no CFITSIO
  PKG_CONFIG_LIBDIR="$work/empty" cmake -S "$from" -B "$work/build" -G "$3" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >"$work/log" 2>&1 || { cat "$work/log"; fail "plain configure"; }
  exit 0 ;;
tree) DESTDIR="$work/root" cmake --install "$from" --prefix /usr >/dev/null ;;
package)
  cpack --config "$from/CPackConfig.cmake" -B "$work/out" >"$work/log" 2>&1 || { cat "$work/log"; fail "cpack"; }
  deb=$(echo "$work"/out/tarnis_*.deb)
  dpkg -x "$deb" "$work/root"
  depends=", $(dpkg-deb -f "$deb" Depends),"
  for need in libqt6core6 libqt6gui6 libqt6widgets6 qt6-translations-l10n "fonts-ipafont-gothic | fonts-noto-cjk"; do
    [[ $depends == *", $need"[\ ,]* ]] || fail "Depends lacks $need:$depends"
  done ;;
esac

expected=(usr/bin/tarnis usr/bin/tarnis-repair "usr/share/applications/$id.desktop" usr/share/doc/tarnis/copyright
          usr/share/icons/hicolor/scalable/apps/tarnis.svg "usr/share/metainfo/$id.metainfo.xml"
          usr/share/man/man1/tarnis-repair.1.gz usr/share/man/ja/man1/tarnis-repair.1.gz
          usr/share/man/man1/tarnis.1.gz usr/share/man/ja/man1/tarnis.1.gz
          usr/share/bash-completion/completions/tarnis-repair)
for size in "${sizes[@]}"; do expected+=("usr/share/icons/hicolor/${size}x$size/apps/tarnis.png"); done
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$work/root" && find . -type f -printf '%P\n' | sort) \
  || fail "the tree holds other files than expected (< missing, > extra)"
grep -q 'MIT License' "$work/root/usr/share/doc/tarnis/copyright" || fail "no MIT licence"

desktop="$work/root/usr/share/applications/$id.desktop"
# Not even a hint: one main category, so that menus list the program once.
hints=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$hints" ] || fail "desktop-file-validate: $hints"
for line in 'Name=Tarnis' 'Categories=Science;Astronomy;' 'MimeType=image/fits;' 'Name\[ja\]=..*' 'Comment\[ja\]=..*'; do
  grep -qx "$line" "$desktop" || fail "the desktop entry lacks $line"
done
# Validates the metadata and finds its desktop entry in the tree.
appstreamcli validate-tree --no-net "$work/root" >"$work/log" 2>&1 || { cat "$work/log"; fail "appstreamcli"; }

icons="$work/root/usr/share/icons/hicolor"
for size in "${sizes[@]}"; do
  png="$icons/${size}x$size/apps/tarnis.png"
  rsvg-convert --width="$size" --height="$size" --output="$work/svg.png" "$icons/scalable/apps/tarnis.svg"
  compare -metric AE -fuzz 10% "$png" "$work/svg.png" null: 2>/dev/null \
    || fail "$png is not the SVG's rendering at its size: cmake --build --preset default --target icons"
done

[ "$("$work/root/usr/bin/tarnis-repair" --version)" = "tarnis-repair 3.0" ] || fail "the installed tarnis-repair does not run"
# man -L ja finds the Japanese pages, the others the English ones; each compressed at gzip's best,
# without a name or a time, so that every build gives the same bytes.
for page in tarnis tarnis-repair; do
  for lang in en ja; do
    found=$(MANPATH="$work/root/usr/share/man" LC_ALL=C.UTF-8 man -L $lang -w $page)
    [[ $found == *"share/man/$([ $lang = ja ] && echo ja/)man1/$page.1.gz" ]] || fail "man -L $lang finds $found for $page"
    [[ $(file -b "$found") == "gzip compressed data, max compression, from Unix"* ]] || fail "$found: $(file -b "$found")"
  done
done
if [ "$mode" = package ]; then
  # The packaged program starts and shows its window, where the machine has an X server to show it on.
  status=0
  "$(dirname "$0")/../../scripts/screenshot.sh" "$work/shot.png" "$work/root/usr/bin/tarnis" >/dev/null || status=$?
  [ "$status" -eq 0 ] || [ "$status" -eq 77 ] || fail "the packaged program did not show its window"
fi
