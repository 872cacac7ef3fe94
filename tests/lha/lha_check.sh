#!/usr/bin/env bash
# The independent check of the encoder: its coded bits, wrapped as -lh1-
# members of an .lzh archive, must pass `lhasa -t` (CRC-16 of every member)
# and `lhasa -x` must give back the inputs byte for byte.
#
# usage: lha_check.sh LZH_WRAP MAKE_CORPUS
#
# The inputs (make_corpus --edge): an empty file, 1 to 3 bytes, long runs of
# one byte, spaces that match into the decoder's starting window, a pattern
# repeated to 4095, 4096 and 4097 bytes, random blocks repeated with periods
# 4095, 4096 and 4097 (matches at the full window distance and just beyond),
# text, random bytes, program- and bitmap-like data, and 1.6 MB of text so
# the code tree is rebuilt many times. Both parses (lazy and greedy) are
# checked.
#
# Needs the `lhasa` command (Debian package lhasa), called by that name: where
# another LHA program is installed, `lha` may be that one, which passes
# corrupt data in its test mode. Without lhasa the check fails, unless
# LHA_CHECK_ALLOW_SKIP=1, when it exits 77 (skipped).
set -euo pipefail

if [[ $# -ne 2 ]]; then
    echo "usage: $0 LZH_WRAP MAKE_CORPUS" >&2
    exit 2
fi
LZH_WRAP=$1
MAKE_CORPUS=$2

if ! command -v lhasa >/dev/null; then
    echo "lha_check: the lhasa command is missing (apt-get install lhasa)" >&2
    [[ ${LHA_CHECK_ALLOW_SKIP:-0} == 1 ]] && exit 77
    exit 1
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/lha_check.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

"$MAKE_CORPUS" --edge "$WORK/in" >/dev/null
mapfile -t NAMES < <(cd "$WORK/in" && find . -type f -printf '%f\n' | LC_ALL=C sort)
COUNT=${#NAMES[@]}
[[ $COUNT -ge 15 ]] || { echo "lha_check: only $COUNT inputs generated" >&2; exit 1; }

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

for parse in lazy greedy; do
    archive=$WORK/$parse.lzh
    flag=(--$parse)
    (cd "$WORK/in" && "$LZH_WRAP" "${flag[@]}" "$archive" "${NAMES[@]}" >/dev/null)

    # lhasa -t: exit status 0, no complaint, and every member tested (lhasa
    # stops quietly at a header it cannot read, so the count matters).
    status=0
    lhasa -t "$archive" >"$WORK/test.txt" 2>&1 || status=$?
    tr '\r' '\n' <"$WORK/test.txt" >"$WORK/test_lines.txt"
    tested=$(grep -c -- '- Tested' "$WORK/test_lines.txt" || true)
    if [[ $status -ne 0 ]]; then
        fail "$parse: lhasa -t exited $status"
    fi
    if grep -iE 'error|fail|corrupt|unknown|unsupported' "$WORK/test_lines.txt" >&2; then
        fail "$parse: lhasa -t reported errors"
    fi
    if [[ $tested -ne $COUNT ]]; then
        fail "$parse: lhasa -t tested $tested of $COUNT members"
    fi

    # lhasa -x: every file back, byte for byte.
    out=$WORK/out_$parse
    mkdir -p "$out"
    status=0
    (cd "$out" && lhasa -xq "$archive") >"$WORK/extract.txt" 2>&1 || status=$?
    if [[ $status -ne 0 ]]; then
        cat "$WORK/extract.txt" >&2
        fail "$parse: lhasa -x exited $status"
    fi
    same=0
    for name in "${NAMES[@]}"; do
        if [[ ! -f $out/$name ]]; then
            fail "$parse: $name not extracted"
        elif ! cmp -s "$WORK/in/$name" "$out/$name"; then
            fail "$parse: $name differs after lhasa -x"
        else
            same=$((same + 1))
        fi
    done
    extracted=$(find "$out" -type f | wc -l)
    [[ $extracted -eq $COUNT ]] || fail "$parse: $extracted files extracted, expected $COUNT"
    echo "$parse: $COUNT members, lhasa -t tested $tested, lhasa -x gave back $same of $COUNT identical"
done

if [[ $failures -ne 0 ]]; then
    echo "lha_check: $failures failure(s)" >&2
    exit 1
fi
echo "lha_check: ok"
