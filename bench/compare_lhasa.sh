#!/usr/bin/env bash
# Side by side, in one run: our decoder against lhasa's on the same coded
# bits, plus our pack speed and ratio.
#
# Generates the seeded corpus, packs it with `wpk pack` into a setup archive
# and with `lzh_wrap` into an .lzh holding the same -lh1- bits, checks both
# (lha -t must report no error and test every member), then times, best of
# RUNS runs each:
#   ours:  wpk test -j 1 ARCHIVE (one process: decodes every member, discards the bytes)
#   lhasa: lha -tq ARCHIVE.lzh   (decodes every member, checks its CRC-16)
# and prints MB/s (10^6 bytes of uncompressed data per second, wall clock)
# for both and the ratio ours/lhasa.
#
# Environment:
#   BUILD_DIR   build folder (default build/host, configured with the host
#               preset when missing)
#   NO_BUILD=1  use the binaries already in BUILD_DIR
#   RUNS        timed runs per measurement (default 5)
#   CORPUS_MB   corpus size in MB, tenths allowed (default: the ~20 MB corpus)
#   SEED        corpus seed (default: the built-in one)
#   NO_BENCH=1  skip the in-process decode figure from bench_codec
#   KEEP=1      keep the work folder
set -euo pipefail
shopt -s inherit_errexit # a failure inside $(...) stops the script too

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build/host}
RUNS=${RUNS:-5}

die() { echo "compare_lhasa: $*" >&2; exit 1; }

command -v lha >/dev/null || die "lha not found (Debian package lhasa)"

if [[ ${NO_BUILD:-0} != 1 ]]; then
    if [[ ! -f $BUILD_DIR/build.ninja ]]; then
        if [[ $BUILD_DIR == "$ROOT/build/host" ]]; then
            (cd "$ROOT" && cmake --preset host >/dev/null)
        else
            cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
        fi
    fi
    cmake --build "$BUILD_DIR" --target wpk lzh_wrap make_corpus bench_codec >/dev/null
fi
WPK=$BUILD_DIR/tools/wpk/wpk
LZH_WRAP=$BUILD_DIR/bench/lzh_wrap
MAKE_CORPUS=$BUILD_DIR/bench/make_corpus
BENCH=$BUILD_DIR/bench/bench_codec
for tool in "$WPK" "$LZH_WRAP" "$MAKE_CORPUS"; do
    [[ -x $tool ]] || die "$tool not built"
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/compare_lhasa.XXXXXX")
if [[ ${KEEP:-0} == 1 ]]; then
    echo "work folder: $WORK"
else
    trap 'rm -rf "$WORK"' EXIT
fi

# Wall-clock seconds of a command, to the nanosecond; its output is dropped
# and a failure stops the script.
now_ns() { date +%s%N; }
elapsed() {
    local start end
    start=$(now_ns)
    "$@" >/dev/null 2>"$WORK/stderr" || { cat "$WORK/stderr" >&2; die "failed: $*"; }
    end=$(now_ns)
    echo $((end - start))
}
# Best (smallest) of RUNS timings, in nanoseconds.
best_of() {
    local best="" t i
    for ((i = 0; i < RUNS; ++i)); do
        t=$(elapsed "$@")
        if [[ -z $best || $t -lt $best ]]; then best=$t; fi
    done
    echo "$best"
}
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
mbps() { awk -v b="$1" -v ns="$2" 'BEGIN { printf "%.1f", b / (ns / 1e9) / 1e6 }'; }

# --- The corpus ---------------------------------------------------------------
corpus_args=()
[[ -n ${CORPUS_MB:-} ]] && corpus_args+=(--size-mb "$CORPUS_MB")
[[ -n ${SEED:-} ]] && corpus_args+=(--seed "$SEED")
"$MAKE_CORPUS" "${corpus_args[@]}" "$WORK/corpus" >/dev/null
mapfile -t FILES < <(cd "$WORK/corpus" && find . -type f | LC_ALL=C sort)
MEMBERS=${#FILES[@]}
ORIGINAL=$(cd "$WORK/corpus" && cat "${FILES[@]}" | wc -c)
echo "corpus: $MEMBERS files, $ORIGINAL bytes (make_corpus ${corpus_args[*]:-defaults})"

# --- Pack -----------------------------------------------------------------------
pack_ns=$(best_of "$WPK" pack "$WORK/out.wpk" "$WORK/corpus")
ARCHIVE_BYTES=$(wc -c <"$WORK/out.wpk")
# One untimed lzh_wrap run for its totals, then the timed ones.
wrap_line=$(cd "$WORK/corpus" && "$LZH_WRAP" "$WORK/out.lzh" "${FILES[@]}")
lzh_data=$(sed -n 's/.* into \([0-9]*\) bytes of -lh1- data.*/\1/p' <<<"$wrap_line")
wrap_ns=$(best_of bash -c 'cd "$1" && shift && exec "$@"' _ "$WORK/corpus" "$LZH_WRAP" "$WORK/out.lzh" "${FILES[@]}")
LZH_BYTES=$(wc -c <"$WORK/out.lzh")

# Both must hold the same coded bits: the members' streams in the setup
# archive, less their 4-byte sizes, add up to the -lh1- data of the .lzh.
wpk_streams=$("$WPK" list "$WORK/out.wpk" | awk 'NR > 1 { s += $2 } END { print s }')
[[ -n $lzh_data && $((wpk_streams - 4 * MEMBERS)) -eq $lzh_data ]] ||
    die "coded bits differ: setup archive streams $wpk_streams - 4 x $MEMBERS != .lzh data $lzh_data"

# --- Check both archives once ---------------------------------------------------
if ! "$WPK" test "$WORK/out.wpk" >"$WORK/wpk_test.txt" 2>&1; then
    cat "$WORK/wpk_test.txt" >&2
    die "wpk test reported damage"
fi
set +e
lha -t "$WORK/out.lzh" >"$WORK/lha_test.txt" 2>&1
lha_status=$?
set -e
tr '\r' '\n' <"$WORK/lha_test.txt" >"$WORK/lha_lines.txt"
tested=$(grep -c -- '- Tested' "$WORK/lha_lines.txt" || true)
if [[ $lha_status -ne 0 ]] || grep -qiE 'error|fail|unknown|corrupt' "$WORK/lha_lines.txt" ||
    [[ $tested -ne $MEMBERS ]]; then
    grep -viE 'Testing|Tested|^[[:space:]]*$' "$WORK/lha_lines.txt" >&2 || true
    die "lha -t failed: exit $lha_status, $tested of $MEMBERS members tested"
fi

# --- Decode, best of RUNS -------------------------------------------------------
ours_ns=$(best_of "$WPK" test -j 1 "$WORK/out.wpk")
lhasa_ns=$(best_of lha -tq "$WORK/out.lzh")

echo
echo "pack (best of $RUNS runs)"
printf '  %-38s %8s s %8s MB/s\n' "wpk pack" "$(seconds "$pack_ns")" "$(mbps "$ORIGINAL" "$pack_ns")"
printf '  %-38s %8s s %8s MB/s\n' "lzh_wrap (same encoder, .lzh)" "$(seconds "$wrap_ns")" "$(mbps "$ORIGINAL" "$wrap_ns")"
awk -v o="$ORIGINAL" -v a="$ARCHIVE_BYTES" -v s="$wpk_streams" -v l="$LZH_BYTES" -v d="$lzh_data" 'BEGIN {
    printf "  packed/original: setup archive %d / %d = %.2f%% (member streams %.2f%%)\n", a, o, 100 * a / o, 100 * s / o
    printf "                   .lzh          %d / %d = %.2f%% (-lh1- data %.2f%%)\n", l, o, 100 * l / o, 100 * d / o
}'
echo "  coded bits: the same $lzh_data bytes in both archives; lha -t: $tested of $MEMBERS members tested, no error"
echo
echo "decode (best of $RUNS runs, every member, output discarded)"
printf '  %-38s %8s s %8s MB/s\n' "ours:  wpk test -j 1" "$(seconds "$ours_ns")" "$(mbps "$ORIGINAL" "$ours_ns")"
printf '  %-38s %8s s %8s MB/s\n' "lhasa: lha -tq (also checks CRC-16)" "$(seconds "$lhasa_ns")" "$(mbps "$ORIGINAL" "$lhasa_ns")"
awk -v a="$ours_ns" -v b="$lhasa_ns" 'BEGIN { printf "  ratio ours/lhasa (throughput): %.2fx\n", b / a }'

if [[ ${NO_BENCH:-0} != 1 && -x $BENCH ]]; then
    bench_env=()
    [[ -n ${CORPUS_MB:-} ]] && bench_env+=("WPK_BENCH_CORPUS_MB=$CORPUS_MB")
    [[ -n ${SEED:-} ]] && bench_env+=("WPK_BENCH_SEED=$SEED")
    # Best of RUNS repetitions of the in-process decode (no process start,
    # no CRC): the largest MB/s of the single runs.
    rate=$(env "${bench_env[@]}" "$BENCH" --benchmark_filter='^decode/mixed/' \
        --benchmark_repetitions="$RUNS" 2>/dev/null |
        awk '/^decode\/mixed\/real_time / { for (i = 1; i <= NF; ++i) if ($i ~ /^MB\/s=/) {
                 v = substr($i, 6); sub(/\/s$/, "", v); if (v + 0 > best) best = v + 0 } }
             END { if (best > 0) printf "%.1f", best }')
    if [[ -n $rate ]]; then
        printf '  %-38s %8s   %8s MB/s\n' "ours in-process (bench_codec decode)" "" "$rate"
    fi
fi
exit 0
