#!/usr/bin/env bash
# check_manual.sh SOURCE: the manual pages of tarnis-repair and tarnis, English and Japanese,
# render without a warning at 80 columns; tarnis-repair's bash completion offers the options, long
# ones cut short too, the numbers of jobs, folders after --output-dir, and the images before the
# other files.
set -euo pipefail
cli=$1/cli
fail() { echo "FAIL: $*" >&2; exit 1; }
for page in "$cli/tarnis-repair.1" "$cli/tarnis-repair.ja.1" "$1/ui/tarnis.1" "$1/ui/tarnis.ja.1"; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man could not render $page"
  [ -z "$warnings" ] || fail "$page: $warnings"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnis-completion.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" && touch notes.txt b.FIT a.fit && mkdir night
# What the completion offers for the last of the words given, as bash calls it.
offered() {
  LC_ALL=C bash -c 'source "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tarnis_repair; echo "${COMPREPLY[*]}"' \
    "$cli/tarnis-repair.bash" tarnis-repair "$@"
}
bash -c "source '$cli/tarnis-repair.bash'; complete -p tarnis-repair" | grep -q -- '-F _tarnis_repair tarnis-repair$' \
  || fail "no completion for tarnis-repair"
check() { # EXPECTED WORD...
  local offers
  offers=$(offered "${@:2}")
  [ "$offers" = "$1" ] || fail "after 'tarnis-repair ${*:2}' the completion offers '$offers', not '$1'"
}
check "--output-dir" --out
check "--check --jobs --output-dir --quiet --help --version -c -j -o -q -h -V" -
check "night" -qo ""
check "night" --output-dir = ""
check "$(seq -s ' ' 1 "$(getconf _NPROCESSORS_ONLN)")" -qj ""
check "a.fit b.FIT night notes.txt" -q ""
check "" -- -
