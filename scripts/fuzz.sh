#!/usr/bin/env bash
# Sets the machine up, builds the fuzz targets and runs each for SECONDS (60 unless given), starting
# from a copy of its seed corpus in fuzz/corpus/, which itself is never changed. Prints, for each
# target, the inputs run and the corpus it ended with; fails when a target crashes or finds the two
# repairs disagreeing or the header reader giving a layout outside the file. The input that failed is kept in
# build/fuzz/artifacts/ and replays with: build/fuzz/fuzz/tarnis_<target>_fuzz FILE
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS]   (a whole number of seconds per target, 60 by default)" >&2
  exit 2
fi

scripts/setup.sh
cmake --preset fuzz -DTARNIS_WARNINGS_AS_ERRORS=ON
cmake --build --preset fuzz

work="$(mktemp -d "${TMPDIR:-/tmp}/tarnis-fuzz.XXXXXX")"
trap 'rm -rf "$work"' EXIT
artifacts="$PWD/build/fuzz/artifacts"
rm -rf "$artifacts"
mkdir -p "$artifacts"

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=()
for target in repair fits_header; do
  binary="build/fuzz/fuzz/tarnis_${target}_fuzz"
  corpus="$work/$target"
  log="$work/$target.log"
  cp -R "fuzz/corpus/$target" "$corpus"
  options=(
    -max_total_time="$seconds"
    -timeout=10            # seconds for one input; one takes milliseconds
    -rss_limit_mb=2048
    -print_final_stats=1
    -artifact_prefix="$artifacts/$target-"
  )
  if [ -f "fuzz/$target.dict" ]; then
    options+=(-dict="fuzz/$target.dict")
  fi

  echo "== $target: fuzzing for $seconds s"
  status=0
  "$binary" "${options[@]}" "$corpus" > "$log" 2>&1 || status=$?

  # libFuzzer ends a bounded run with "Done N runs in S second(s)".
  runs="$(sed -n 's/^Done \([0-9][0-9]*\) runs in \([0-9][0-9]*\) second.*/\1 runs in \2 s/p' "$log" | tail -n 1)"
  files="$(find "$corpus" -type f | wc -l)"
  bytes="$(find "$corpus" -type f -exec cat {} + | wc -c)"
  if [ "$status" -ne 0 ] || [ -z "$runs" ]; then
    tail -n 60 "$log"
    echo "== $target: FAILED (exit status $status); the input is in $artifacts/" >&2
    failed+=("$target")
  else
    echo "== $target: $runs; corpus $files inputs, $bytes bytes"
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "Fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
