#!/usr/bin/env bash
# wpk for media: member checksums both ways, what is no archive, the
# preflight's exit status, and wpk medium's refusals.
set -uo pipefail
wpk=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { # description, expected status, command...
  local what=$1 want=$2
  shift 2
  "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [ "$got" = "$want" ] || { fail "$what: exit $got, expected $want"; cat "$work/err"; }
}
expect_err() { grep -qF -- "$2" "$work/err" || { fail "$1: stderr lacks '$2'"; cat "$work/err"; }; }
expect_out() { grep -qF -- "$2" "$work/out" || { fail "$1: stdout lacks '$2'"; cat "$work/out"; }; }
python3 "$here/tiny_pe.py" "$work/wboot.exe" 2

mkdir -p "$work/tree/DATA"
cp "$here/wpk_cli_test.sh" "$work/tree/W_SETUP.EXE"
seq 1 3000 >"$work/tree/DATA/TABLE.TXT"

# A flipped bit that the format alone misses is caught by the checksum.
check "pack" 0 "$wpk" pack "$work/a.wpk" "$work/tree"
python3 "$here/flip_member_bit.py" "$wpk" "$work/a.wpk" 'DATA\TABLE.TXT' "$work/flipped.wpk" >/dev/null ||
  fail "no silent flip found"
check "test, flipped bit" 1 "$wpk" test "$work/flipped.wpk"
expect_err "flipped bit" 'DATA\TABLE.TXT: damaged: checksum mismatch'
check "test -j 1, flipped bit" 1 "$wpk" test -j 1 "$work/flipped.wpk"
expect_err "flipped bit, one process" 'DATA\TABLE.TXT: damaged: checksum mismatch'
check "extract, flipped bit" 1 "$wpk" extract "$work/flipped.wpk" -C "$work/x"
expect_err "extract, flipped bit" 'DATA\TABLE.TXT: damaged: checksum mismatch'
check "check, flipped bit" 1 "$wpk" check "$work/flipped.wpk"

# A file of zero bytes has no members and no signature: no archive.
head -c 100 /dev/zero >"$work/zeros.wpk"
check "test, 100 zero bytes" 1 "$wpk" test "$work/zeros.wpk"
expect_err "100 zero bytes" "not a wpk archive"

# A name byte changed in the directory: the directory checksum sees it; an
# archive from before the directory checksum (zeros there) still tests clean.
python3 - "$work/a.wpk" "$work/renamed.wpk" "$work/old.wpk" <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
data[data.find(b'TABLE.TXT')] = ord('S')
open(sys.argv[2], 'wb').write(data)
data[44:50] = bytes(6)
open(sys.argv[3], 'wb').write(data)
PY
for command in test check extract list; do
  check "$command, renamed member" 1 "$wpk" $command "$work/renamed.wpk"
  expect_err "$command, renamed member" "directory damaged"
done
check "test, renamed member before the directory checksum" 0 "$wpk" test "$work/old.wpk"

# One line for what is no archive, and for one cut short.
mkdir "$work/folder.wpk" && : >"$work/empty.wpk" && echo text >"$work/text.wpk"
head -c 300 "$work/a.wpk" >"$work/cut.wpk"
for c in "folder.wpk:is a folder" "empty.wpk:empty file" "text.wpk:not a wpk archive" "cut.wpk:archive cut short after 300 bytes: 1 member begins past its end"; do
  check "test ${c%%:*}" 1 "$wpk" test "$work/${c%%:*}"
  expect_err "test ${c%%:*}" "${c#*:}"
  [ "$(grep -vc 'coded data past the end' "$work/err")" = 1 ] || fail "test ${c%%:*}: more than one line"
done

check "check, no such file" 1 "$wpk" check "$work/nonexist.wpk"
[ -s "$work/out" ] && fail "check of no file printed more than its error: $(cat "$work/out")"

# Findings warn, or fail with --strict; pack --strict writes nothing.
mkdir -p "$work/odd/EMPTY"
printf x >"$work/odd/A.TXT"
printf y >"$work/odd/a.txt"
check "check, case collision" 0 "$wpk" check "$work/odd"
expect_out "check warns" 'warning: '"$work/odd"': a.txt: differs from A.TXT only in case'
check "check --strict" 1 "$wpk" check --strict "$work/odd"
check "pack --strict" 1 "$wpk" pack --strict "$work/odd.wpk" "$work/odd"
[ -e "$work/odd.wpk" ] && fail "pack --strict wrote the archive"
{ printf X; tail -c +2 "$work/a.wpk"; } >"$work/foreign.wpk"
check "check, foreign signature" 0 "$wpk" check "$work/foreign.wpk"
expect_out "foreign signature" "no signature wpk writes"

# wpk medium: everything or nothing.
check "medium" 0 "$wpk" medium --no-bind --program "$work/wboot.exe" "$work/m" "$work/tree"
[ -f "$work/m/WBOOT.EXE" ] && cmp -s "$work/m/WBOOT.EXE" "$work/wboot.exe" || fail "medium: WBOOT.EXE not the program"
check "medium's archive tests" 0 "$wpk" test "$work/m/W_SETUP.WPK"
check "medium without W_SETUP.EXE" 1 "$wpk" medium --no-bind --program "$work/wboot.exe" "$work/none" "$work/tree/DATA"
expect_err "medium without W_SETUP.EXE" "no W_SETUP.EXE at the root"
[ -e "$work/none" ] && fail "medium without W_SETUP.EXE left $work/none"
cp "$work/m/W_SETUP.WPK" "$work/before.wpk"
check "medium without W_SETUP.EXE, existing" 1 "$wpk" medium --no-bind --program "$work/wboot.exe" "$work/m" "$work/tree/DATA"
[ "$(ls "$work/m" | tr '\n' ' ')" = "WBOOT.EXE W_SETUP.WPK " ] && cmp -s "$work/m/W_SETUP.WPK" "$work/before.wpk" ||
  fail "a refused medium changed the one there: $(ls "$work/m")"
PATH=/nonexistent check "medium --iso without xorriso" 1 "$wpk" medium --no-bind --program "$work/wboot.exe" --iso "$work/m.iso" "$work/n" "$work/tree"
expect_err "medium --iso without xorriso" "needs xorriso"
[ -e "$work/n" ] || [ -e "$work/m.iso" ] && fail "medium --iso without xorriso wrote something"

[ "$failures" -eq 0 ] && echo "wpk medium: all checks passed"
exit "$failures"
