#!/usr/bin/env bash
# Side by side, in one run, on two sets of files: our decoder against lhasa's
# on the same coded bits, our pack speed on one process and on every core,
# and our packed size against the lazy and the greedy longest-match parses.
#
# The sets:
#   generated  the seeded corpus of make_corpus (about 20 MB: text, program-
#              like and incompressible data)
#   real       about 20 MB of executables, shared libraries and documentation
#              text that every Debian 12 machine with the project's packages
#              has, chosen by the fixed rule of bench/real_set.sh
#
# For each set: packs it with `wpk pack` into a setup archive and with
# `lzh_wrap` into an .lzh holding the same -lh1- bits (and, for the sizes
# only, with lzh_wrap's --lazy and --greedy parses), times `wpk pack -j 1`
# and `wpk pack -j 0` (every core) in turn, best of PACK_RUNS each, and
# checks that they make the same bytes, checks both archives
# (lhasa -t must report no error and test every member), then times, best
# of RUNS runs each:
#   ours:  wpk test -j 1 ARCHIVE   (one process: decodes every member, discards the bytes)
#   lhasa: lhasa -tq ARCHIVE.lzh   (decodes every member, checks its CRC-16)
# on the whole set and on each kind of file alone (all in turn, so that
# the load of the machine falls on each alike), and prints MB/s (10^6
# bytes of uncompressed data per second, wall clock) and the ratio
# ours/lhasa. Beside our parallel test (-j 0) it times two single-process
# tests running side by side: what the machine's cores give two independent
# decodes, the most a split of one archive's members can reach. lhasa is
# called by its own name: where another LHA program is installed, `lha` may
# be that one.
#
# Environment:
#   BUILD_DIR   build folder (default build/host, configured with the host
#               preset when missing)
#   NO_BUILD=1  use the binaries already in BUILD_DIR
#   RUNS        timed decode runs per measurement (default 5)
#   PACK_RUNS   timed pack runs (default 3, at most RUNS)
#   SETS        the sets to measure (default "generated real")
#   CORPUS_MB   generated corpus size in MB, tenths allowed (default ~20 MB)
#   SEED        generated corpus seed (default: the built-in one)
#   NO_BENCH=1  skip the in-process decode figure from bench_codec
#   KEEP=1      keep the work folder
set -euo pipefail
shopt -s inherit_errexit # a failure inside $(...) stops the script too

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build/host}
RUNS=${RUNS:-5}
PACK_RUNS=${PACK_RUNS:-3}
((PACK_RUNS <= RUNS)) || PACK_RUNS=$RUNS
SETS=${SETS:-generated real}

# The command line, after `wpk`, of our parallel test of an archive (its
# last argument): one worker per processor.
PARALLEL_TEST=(test -j 0)
PARALLEL_LABEL="ours:  wpk test -j 0 (every core)"

die() { echo "compare_lhasa: $*" >&2; exit 1; }

command -v lhasa >/dev/null || die "lhasa not found (Debian package lhasa)"

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

# Wall-clock nanoseconds of a command; its output is dropped and a failure
# stops the script.
now_ns() { date +%s%N; }
elapsed() {
    local start end
    start=$(now_ns)
    "$@" >/dev/null 2>"$WORK/stderr" || { cat "$WORK/stderr" >&2; die "failed: $*"; }
    end=$(now_ns)
    echo $((end - start))
}
# Best of N timings of several commands, run in turn so that a burst of
# load on the machine falls on all alike: best_in_turn N ARRAY..., each the
# name of an array holding a command; prints the best nanoseconds of each,
# in order.
best_in_turn() {
    local n=$1 i name t
    shift
    local -A best=()
    for ((i = 0; i < n; ++i)); do
        for name in "$@"; do
            local -n command=$name
            t=$(elapsed "${command[@]}")
            if [[ -z ${best[$name]:-} || $t -lt ${best[$name]} ]]; then best[$name]=$t; fi
            unset -n command
        done
    done
    for name in "$@"; do printf '%s ' "${best[$name]}"; done
    echo
}
# Runs a command twice at the same time; fails when either run fails.
twice_at_once() {
    local pid status=0
    "$@" & pid=$!
    "$@" || status=$?
    wait "$pid" || status=$?
    return "$status"
}
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
mbps() { awk -v b="$1" -v ns="$2" 'BEGIN { printf "%.1f", b / (ns / 1e9) / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2fx", b / a }'; }
line() { printf '  %-40s %8s s %8s MB/s%s\n' "$1" "$(seconds "$3")" "$(mbps "$2" "$3")" "${4:-}"; }

# The files of DIR, relative, sorted; and their total size.
files_of() { (cd "$1" && find . -type f | LC_ALL=C sort); }
bytes_of() { find "$1" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }'; }

# Encodes DIR's files with lzh_wrap into OUT.lzh (extra lzh_wrap options
# first) and prints the bytes of -lh1- data it made.
wrap() { # DIR OUT [OPTION]
    local dir=$1 out=$2 wrap_line files
    shift 2
    mapfile -t files < <(files_of "$dir")
    wrap_line=$(cd "$dir" && "$LZH_WRAP" "$@" "$out" "${files[@]}")
    sed -n 's/.* into \([0-9]*\) bytes of -lh1- data.*/\1/p' <<<"$wrap_line"
}

# Checks that DIR packed as ARCHIVE.wpk and ARCHIVE.lzh holds the same coded
# bits and that both decoders accept them; sets MEMBERS and CODED.
check_archives() { # DIR ARCHIVE(without extension) LZH_DATA
    local dir=$1 archive=$2 lzh_data=$3 streams status tested
    MEMBERS=$(files_of "$dir" | wc -l)
    streams=$("$WPK" list "$archive.wpk" | awk 'NR > 1 { s += $2 } END { print s }')
    CODED=$((streams - 4 * MEMBERS))
    [[ -n $lzh_data && $CODED -eq $lzh_data ]] ||
        die "coded bits differ: setup archive streams $streams - 4 x $MEMBERS != .lzh data $lzh_data"
    if ! "$WPK" test "$archive.wpk" >"$WORK/wpk_test.txt" 2>&1; then
        cat "$WORK/wpk_test.txt" >&2
        die "wpk test reported damage in $archive.wpk"
    fi
    status=0
    lhasa -t "$archive.lzh" >"$WORK/lhasa_test.txt" 2>&1 || status=$?
    tr '\r' '\n' <"$WORK/lhasa_test.txt" >"$WORK/lhasa_lines.txt"
    tested=$(grep -c -- '- Tested' "$WORK/lhasa_lines.txt" || true)
    if [[ $status -ne 0 ]] || grep -qiE 'error|fail|unknown|corrupt' "$WORK/lhasa_lines.txt" ||
        [[ $tested -ne $MEMBERS ]]; then
        grep -viE 'Testing|Tested|^[[:space:]]*$' "$WORK/lhasa_lines.txt" >&2 || true
        die "lhasa -t failed on $archive.lzh: exit $status, $tested of $MEMBERS members tested"
    fi
}

measure_set() { # NAME DIR DESCRIPTION
    local name=$1 dir=$2 what=$3 original pack_one_ns pack_ns wpk_data lazy_data greedy_data
    local ours_ns lhasa_ns parallel_ns both_ns kind kind_bytes k_ours k_lhasa k_data
    local archive=$WORK/$name
    original=$(bytes_of "$dir")
    echo
    echo "== $name set: $(files_of "$dir" | wc -l) files, $original bytes ($what)"

    local pack_one=("$WPK" pack -j 1 "$archive-1.wpk" "$dir")
    local pack_all=("$WPK" pack -j 0 "$archive.wpk" "$dir")
    read -r pack_one_ns pack_ns < <(best_in_turn "$PACK_RUNS" pack_one pack_all)
    cmp -s "$archive-1.wpk" "$archive.wpk" || die "wpk pack -j 1 and -j 0 made different archives"
    wpk_data=$(wrap "$dir" "$archive.lzh")
    check_archives "$dir" "$archive" "$wpk_data"
    lazy_data=$(wrap "$dir" "$WORK/lazy.lzh" --lazy)
    greedy_data=$(wrap "$dir" "$WORK/greedy.lzh" --greedy)

    # Beside the parallel test, what the machine gives two independent
    # decodes at once: the most any split of the work over two cores can reach.
    local ours=("$WPK" test -j 1 "$archive.wpk") theirs=(lhasa -tq "$archive.lzh")
    local parallel=("$WPK" "${PARALLEL_TEST[@]}" "$archive.wpk")
    local both=(twice_at_once "${ours[@]}")
    read -r ours_ns lhasa_ns parallel_ns both_ns < <(best_in_turn "$RUNS" ours theirs parallel both)

    echo "pack (best of $PACK_RUNS runs, in turn; the same bytes)"
    line "wpk pack -j 1" "$original" "$pack_one_ns"
    line "wpk pack -j 0 (every core, $(nproc))" "$original" "$pack_ns"
    echo "  speed-up of pack -j 0 over -j 1: $(ratio "$pack_ns" "$pack_one_ns")"
    awk -v o="$original" -v w="$wpk_data" -v l="$lazy_data" -v g="$greedy_data" 'BEGIN {
        printf "  coded bytes (-lh1- data, without sizes and headers), of the original:\n"
        printf "    wpk pack %11d  %6.2f%%\n", w, 100 * w / o
        printf "    lazy     %11d  %6.2f%%   wpk pack / lazy   %.4f\n", l, 100 * l / o, w / l
        printf "    greedy   %11d  %6.2f%%   wpk pack / greedy %.4f\n", g, 100 * g / o, w / g
    }'
    echo "  the same $wpk_data coded bytes in the setup archive and the .lzh; lhasa -t: $MEMBERS of $MEMBERS tested, no error"
    echo "decode (best of $RUNS runs, every member, output discarded)"
    line "ours:  wpk test -j 1" "$original" "$ours_ns"
    line "lhasa: lhasa -tq (also checks CRC-16)" "$original" "$lhasa_ns"
    echo "  ratio ours/lhasa (throughput): $(ratio "$ours_ns" "$lhasa_ns")"
    line "$PARALLEL_LABEL" "$original" "$parallel_ns" "   $(ratio "$parallel_ns" "$lhasa_ns") lhasa"
    line "two wpk test -j 1 side by side" "$((2 * original))" "$both_ns" \
        "   $(ratio "$both_ns" "$((2 * ours_ns))") the throughput of one"
    echo "  speed-up of -j 0 over -j 1: $(ratio "$parallel_ns" "$ours_ns")"

    echo "per kind (each kind packed alone; best of $RUNS runs)"
    printf '  %-6s %10s %7s %9s %9s %8s %8s %7s\n' kind bytes packed "ours s" "lhasa s" "ours" "lhasa" ratio
    for kind in $(cd "$dir" && find . -mindepth 1 -maxdepth 1 -type d -printf '%f\n' | LC_ALL=C sort); do
        kind_bytes=$(bytes_of "$dir/$kind")
        "$WPK" pack "$WORK/kind.wpk" "$dir/$kind" >/dev/null
        k_data=$(wrap "$dir/$kind" "$WORK/kind.lzh")
        check_archives "$dir/$kind" "$WORK/kind" "$k_data"
        ours=("$WPK" test -j 1 "$WORK/kind.wpk")
        theirs=(lhasa -tq "$WORK/kind.lzh")
        read -r k_ours k_lhasa < <(best_in_turn "$RUNS" ours theirs)
        printf '  %-6s %10d %6.2f%% %9s %9s %8s %8s %7s\n' "$kind" "$kind_bytes" \
            "$(awk -v d="$k_data" -v o="$kind_bytes" 'BEGIN { print 100 * d / o }')" \
            "$(seconds "$k_ours")" "$(seconds "$k_lhasa")" "$(mbps "$kind_bytes" "$k_ours")" \
            "$(mbps "$kind_bytes" "$k_lhasa")" "$(ratio "$k_ours" "$k_lhasa")"
    done
    echo "  (ours and lhasa in MB/s)"
}

for set in $SETS; do
    case $set in
    generated)
        corpus_args=()
        [[ -n ${CORPUS_MB:-} ]] && corpus_args+=(--size-mb "$CORPUS_MB")
        [[ -n ${SEED:-} ]] && corpus_args+=(--seed "$SEED")
        "$MAKE_CORPUS" "${corpus_args[@]}" "$WORK/generated" >/dev/null
        measure_set generated "$WORK/generated" "make_corpus ${corpus_args[*]:-defaults}"
        if [[ ${NO_BENCH:-0} != 1 && -x $BENCH ]]; then
            bench_env=()
            [[ -n ${CORPUS_MB:-} ]] && bench_env+=("WPK_BENCH_CORPUS_MB=$CORPUS_MB")
            [[ -n ${SEED:-} ]] && bench_env+=("WPK_BENCH_SEED=$SEED")
            # Best of RUNS repetitions of the in-process decode (no process
            # start, no CRC): the largest MB/s of the single runs.
            rate=$(env "${bench_env[@]}" "$BENCH" --benchmark_filter='^decode/mixed/' \
                --benchmark_repetitions="$RUNS" 2>/dev/null |
                awk '/^decode\/mixed\/real_time / { for (i = 1; i <= NF; ++i) if ($i ~ /^MB\/s=/) {
                         v = substr($i, 6); sub(/\/s$/, "", v); if (v + 0 > best) best = v + 0 } }
                     END { if (best > 0) printf "%.1f", best }')
            if [[ -n $rate ]]; then
                printf '  %-40s %8s   %8s MB/s\n' "ours in-process (bench_codec decode)" "" "$rate"
            fi
        fi
        ;;
    real)
        digest=$(bash "$ROOT/bench/real_set.sh" "$WORK/real" | sed -n 's/^set digest: //p')
        measure_set real "$WORK/real" "bench/real_set.sh, set digest $digest"
        ;;
    *) die "unknown set '$set' (generated, real)" ;;
    esac
done
exit 0
