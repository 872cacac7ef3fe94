#!/usr/bin/env bash
# Fuzzes every target (or those named in WPK_FUZZ_TARGETS) for SECONDS each,
# growing a working corpus under BUILD_DIR/fuzz-corpus/<target> that later
# runs start from (the committed seeds are read as well, never written).
# Prints per target the time, the inputs executed and what was found: inputs
# that crashed, leaked, timed out or ran out of memory are kept under
# BUILD_DIR/fuzz-artifacts/, full logs under BUILD_DIR/fuzz-logs/.
#
#   tests/fuzz/run_long.sh BUILD_DIR SECONDS
#
# Environment:
#   WPK_FUZZ_JOBS=N       targets run N at a time (default 1)
#   WPK_FUZZ_TARGETS=...  a space-separated subset, e.g. "fuzz_unpack fuzz_decoder"
#   WPK_FUZZ_KNOWN=...    known invariant findings to count instead of stopping on
#   WPK_FUZZ_ARGS=...     more libFuzzer options, e.g. "-fork=2 -ignore_crashes=1"
# A target stops at its first finding (unless WPK_FUZZ_ARGS says otherwise).
# Exit status 1 when anything was found.
set -uo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
bin=$build/tests/fuzz
jobs=${WPK_FUZZ_JOBS:-1}
mkdir -p "$build/fuzz-corpus" "$build/fuzz-artifacts" "$build/fuzz-logs" "$build/fuzz-tmp"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# target, seed corpus, largest input, dictionary (or -)
all=(
  "fuzz_directory directory 65536 directory.dict"
  "fuzz_decoder decoder 65536 -"
  "fuzz_unpack unpack 65536 directory.dict"
  "fuzz_wpk_test wpk_test 65536 directory.dict"
  "fuzz_roundtrip roundtrip 16384 -"
)

run_one() { # target corpus max_len dict
  local target=$1 corpus=$2 max_len=$3 dict=$4
  local log=$build/fuzz-logs/$target.log
  local tmp=$build/fuzz-tmp/$target
  mkdir -p "$build/fuzz-corpus/$target" "$tmp"
  local options=(-max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048
                 -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$target-")
  [ "$dict" != - ] && options+=(-dict="$here/$dict")
  local start=$SECONDS
  # shellcheck disable=SC2086
  TMPDIR=$tmp "$bin/$target" "${options[@]}" ${WPK_FUZZ_ARGS:-} \
    "$build/fuzz-corpus/$target" "$here/corpus/$corpus" >"$log" 2>&1
  echo $? >"$log.status"
  echo $((SECONDS - start)) >"$log.seconds"
  rm -rf "$tmp"
}

selected=()
for line in "${all[@]}"; do
  read -r target _ <<<"$line"
  if [ -z "${WPK_FUZZ_TARGETS:-}" ] || [[ " $WPK_FUZZ_TARGETS " == *" $target "* ]]; then
    if [ -x "$bin/$target" ]; then
      selected+=("$line")
    else
      echo "$target: not built in $bin" >&2
      exit 2
    fi
  fi
done

# Artifacts already there belong to earlier runs.
before=$(mktemp)
trap 'rm -f "$before"' EXIT
ls "$build/fuzz-artifacts" >"$before"

running=0
for line in "${selected[@]}"; do
  read -r target corpus max_len dict <<<"$line"
  echo "fuzzing $target for $seconds s..."
  run_one "$target" "$corpus" "$max_len" "$dict" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

found=0
printf '\n%-16s %8s %12s %10s %8s  %s\n' target seconds executions exec/s corpus findings
for line in "${selected[@]}"; do
  read -r target _ <<<"$line"
  log=$build/fuzz-logs/$target.log
  status=$(cat "$log.status" 2>/dev/null || echo '?')
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  per_second=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  took=$(cat "$log.seconds" 2>/dev/null)
  units=$(find "$build/fuzz-corpus/$target" -type f | wc -l)
  new=$(ls "$build/fuzz-artifacts" | grep -F "$target-" | grep -vxF -f "$before" || true)
  if [ "$status" = 0 ] && [ -z "$new" ]; then
    what=none
  else
    what="exit $status"
    found=1
  fi
  printf '%-16s %8s %12s %10s %8s  %s\n' "$target" "${took:-?}" "${executed:-?}" "${per_second:-?}" "$units" "$what"
  for f in $new; do echo "    $build/fuzz-artifacts/$f"; done
  if [ "$what" != none ]; then
    grep -aE 'invariant broken|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error|SUMMARY' "$log" |
      head -6 | sed 's/^/    /'
  fi
  grep -a '^wpk-fuzz: known finding' "$log" | sed 's/^/    /'
done
exit $found
