#!/usr/bin/env bash
# Runs every fuzz target for a fixed number of inputs from its seed corpus, the
# same inputs each time (fixed seed): a quick check for the test suite. Exit
# status 1 when any target crashed, leaked, timed out or ran out of memory;
# the inputs that did are kept under BUILD_DIR/fuzz-artifacts/.
#
#   tests/fuzz/run_fixed.sh BUILD_DIR [RUNS]
#
# WPK_FUZZ_KNOWN=tag,... lets known invariant findings through (see
# fuzz_support.h); unset, every finding fails the run.
set -uo pipefail
if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [RUNS]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
runs=${2:-2000}
here=$(cd "$(dirname "$0")" && pwd)
bin=$build/tests/fuzz
artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts"
work=$(mktemp -d "${TMPDIR:-/tmp}/wpk-fuzz-fixed-XXXXXX")
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
# The targets' scratch folders go here, so that one left by a crash goes too.
export TMPDIR=$work

# target, seed corpus, largest input, dictionary (or -)
targets=(
  "fuzz_directory directory 4096 directory.dict"
  "fuzz_decoder decoder 4096 -"
  "fuzz_unpack unpack 4096 directory.dict"
  "fuzz_wpk_test wpk_test 4096 directory.dict"
  "fuzz_roundtrip roundtrip 4096 -"
)

failed=0
for line in "${targets[@]}"; do
  read -r target corpus max_len dict <<<"$line"
  if [ ! -x "$bin/$target" ]; then
    echo "FAIL $target: not built in $bin"
    failed=1
    continue
  fi
  mkdir -p "$work/$target"
  options=(-runs="$runs" -seed=1 -max_len="$max_len" -timeout=1 -rss_limit_mb=2048
           -print_final_stats=1 -artifact_prefix="$artifacts/$target-")
  [ "$dict" != - ] && options+=(-dict="$here/$dict")
  start=$(date +%s%N)
  # New inputs go to the scratch corpus (the first folder), never to the seeds.
  "$bin/$target" "${options[@]}" "$work/$target" "$here/corpus/$corpus" >"$work/$target.log" 2>&1
  status=$?
  tenths=$((($(date +%s%N) - start) / 100000000))
  seconds=$((tenths / 10)).$((tenths % 10))
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log" | tail -1)
  if [ $status -eq 0 ]; then
    printf 'ok   %-16s %6s inputs in %5s s\n' "$target" "${executed:-?}" "$seconds"
    grep -a '^wpk-fuzz: known finding' "$work/$target.log" | sed 's/^/     /'
  else
    printf 'FAIL %-16s exit %d after %5s s\n' "$target" "$status" "$seconds"
    grep -aE 'invariant broken|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error|SUMMARY|Test unit written' \
      "$work/$target.log" | head -20 | sed 's/^/     /'
    failed=1
  fi
done
exit $failed
