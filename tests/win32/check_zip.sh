#!/usr/bin/env bash
# check_zip.sh BUILD STARTER: makes the Windows ZIP from the cross build as a release does, unpacks
# it into a scratch folder and checks that it holds exactly the two programs (GUI and console,
# linked to nothing but Windows' own DLLs), the licence and the read-me at its top level; then runs
# both programs from it under Wine: tarnis-repair.exe --version, and the window started with files
# by STARTER (tests/win32/started_with_files.cpp).
set -euo pipefail
build=$1 starter=$2
here=$(cd "$(dirname "$0")" && pwd)
run=("$here/../../cmake/wine-run.sh" "$build/wine")
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnis-zip.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/log" 2>&1 || { cat "$work/log"; fail "cpack"; }
zip="$work/out/tarnis-3.0-windows-x64.zip"
[ -f "$zip" ] || fail "no $(basename "$zip"): $(ls "$work/out")"
mkdir "$work/unzipped"
(cd "$work/unzipped" && cmake -E tar xf "$zip")
diff <(printf '%s\n' LICENSE.txt README.txt tarnis-repair.exe tarnis.exe) <(cd "$work/unzipped" && find . -type f -printf '%P\n' | sort) \
  || fail "the ZIP holds other files than expected (< missing, > extra)"
grep -q 'MIT License' "$work/unzipped/LICENSE.txt" || fail "no MIT licence"
iconv -f UTF-8 -t UTF-8 "$work/unzipped/README.txt" >/dev/null || fail "the read-me is not UTF-8"

for program in tarnis tarnis-repair; do
  x86_64-w64-mingw32-objdump -p "$work/unzipped/$program.exe" >"$work/$program.headers"
  subsystem=$([ "$program" = tarnis ] && echo "Windows GUI" || echo "Windows CUI")
  grep -q "^Subsystem.*($subsystem)" "$work/$program.headers" || fail "$program.exe is not of the $subsystem subsystem"
  # Windows' own DLLs only: the C++ runtime, libgcc and the threads are linked in.
  extra=$(awk '/DLL Name:/ { print tolower($3) }' "$work/$program.headers" |
          grep -vxE 'kernel32\.dll|user32\.dll|gdi32\.dll|comdlg32\.dll|comctl32\.dll|shell32\.dll|advapi32\.dll|msvcrt\.dll|api-ms-win-crt-[a-z0-9-]+\.dll' || true)
  [ -z "$extra" ] || fail "$program.exe needs DLLs that Windows does not have: $extra"
done

[ "$("${run[@]}" "$work/unzipped/tarnis-repair.exe" --version | tr -d '\r')" = "tarnis-repair 3.0" ] || fail "tarnis-repair.exe --version"
mkdir "$work/files" "$work/files/sub"
for name in a.fit b.fit sub/c.fit; do head -c 2880 /dev/zero >"$work/files/$name"; done
"${run[@]}" "$starter" "Z:$(echo "$work/unzipped/tarnis.exe" | tr / '\\')" "Z:$(echo "$work/files" | tr / '\\')"
