#!/usr/bin/env bash
# check_manual.sh SOURCE TARNIS-REPAIR: the manual pages of tarnis-repair and tarnis, English and
# Japanese, render without a warning at 80 columns, and tarnis-repair's describe every option; its
# bash completion offers every option, long ones cut short too, the numbers of jobs, folders after
# the options that take one, and the images before the other files. The options are those of the
# program's one table, read from its --help.
set -euo pipefail
cli=$1/cli
program=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
for page in "$cli/tarnis-repair.1" "$cli/tarnis-repair.ja.1" "$1/ui/tarnis.1" "$1/ui/tarnis.ja.1"; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man could not render $page"
  [ -z "$warnings" ] || fail "$page: $warnings"
done

# "  -o, --output-dir=DIR  ..." and "      --watch=DIR       ...": SHORT LONG VALUE, "-" for none.
options=$(LC_ALL=C "$program" --help | sed -n -E 's/^  (-(.), |    )--([a-z-]+)(=([A-Z]+))? .*/\2 \3 \5/p' |
  awk '{ print ($1 ~ /^[a-zA-Z]$/ ? $1 : "-"), ($1 ~ /^[a-zA-Z]$/ ? $2 : $1), ($1 ~ /^[a-zA-Z]$/ ? $3 : $2) }')
[ "$(wc -l <<<"$options")" -ge 7 ] || fail "--help lists too few options: $options"

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
longs= shorts=
while read -r short long value; do
  longs+=" --$long"
  [ "$short" = - ] || shorts+=" -$short"
  for page in "$cli/tarnis-repair.1" "$cli/tarnis-repair.ja.1"; do
    grep -q -E "^\.BR (\\\\-$short \", \" )?\\\\-\\\\-${long//-/\\\\-}( |$)" "$page" || fail "$page does not describe --$long"
  done
  case $value in
    DIR) check "night" "--$long" "" ;;
    N) check "$(seq -s ' ' 1 "$(getconf _NPROCESSORS_ONLN)")" "--$long" "" ;;
    '') ;;
    *) fail "--$long takes a $value, which check_manual.sh does not know" ;;
  esac
done <<<"$options"
check "${longs# }$shorts" -
check "--output-dir" --out
check "night" -qo ""
check "night" --output-dir = ""
check "$(seq -s ' ' 1 "$(getconf _NPROCESSORS_ONLN)")" -qj ""
check "a.fit b.FIT night notes.txt" -q ""
check "" -- -
