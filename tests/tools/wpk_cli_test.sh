#!/usr/bin/env bash
# The wpk tool end to end: pack, list, test, extract, and its answers to
# damaged archives, unsafe member paths and bad usage.
set -uo pipefail
wpk=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() { # description, expected status, command...
  local what=$1 want=$2
  shift 2
  "$@" >"$work/out" 2>"$work/err"
  local got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL: $what: exit $got, expected $want"; cat "$work/err"; failures=$((failures + 1))
  fi
}
expect_err() { # description, text expected on stderr
  grep -qF -- "$2" "$work/err" || { echo "FAIL: $1: stderr lacks '$2'"; cat "$work/err"; failures=$((failures + 1)); }
}

mkdir -p "$work/tree/AB/CD" "$work/tree/EMPTYDIR"
printf 'hello\r\n' > "$work/tree/HELLO.TXT"
head -c 70000 /dev/urandom > "$work/tree/AB/NOISE.BIN"
seq 1 20000 > "$work/tree/AB/CD/NUMBERS.TXT"
: > "$work/tree/AB/CD/ZERO.DAT"
touch -d '2001-02-03 04:05:06 UTC' "$work/tree/HELLO.TXT"

check "pack" 0 "$wpk" pack "$work/a.wpk" "$work/tree"
check "list" 0 "$wpk" list "$work/a.wpk"
grep -q 'AB\\CD\\NUMBERS.TXT' "$work/out" || { echo "FAIL: list lacks the member with its folder"; failures=$((failures + 1)); }
grep -q '2001-02-03 04:05:06' "$work/out" || { echo "FAIL: list lacks the UTC time"; failures=$((failures + 1)); }
check "test" 0 "$wpk" test "$work/a.wpk"
check "extract" 0 "$wpk" extract "$work/a.wpk" -C "$work/x"
rmdir "$work/tree/EMPTYDIR"
diff -r "$work/tree" "$work/x" || { echo "FAIL: extracted tree differs"; failures=$((failures + 1)); }
[ "$(stat -c %Y "$work/x/HELLO.TXT")" = "$(date -d '2001-02-03 04:05:06 UTC' +%s)" ] ||
  { echo "FAIL: modification time not restored"; failures=$((failures + 1)); }
check "pack --flat" 0 "$wpk" pack --flat "$work/flat.wpk" "$work/tree"
check "list flat" 0 "$wpk" list "$work/flat.wpk"
grep -q '\\' "$work/out" && { echo "FAIL: --flat kept folders"; failures=$((failures + 1)); }

# Damage: the directory cut short, the data cut short.
head -c 70 "$work/a.wpk" > "$work/cut-dir.wpk"
check "test, directory cut short" 1 "$wpk" test "$work/cut-dir.wpk"
expect_err "directory cut short" "damaged archive: directory cut short"
size=$(stat -c %s "$work/a.wpk")
head -c $((size - 200)) "$work/a.wpk" > "$work/cut-data.wpk"
check "test, data cut short" 1 "$wpk" test "$work/cut-data.wpk"
expect_err "data past the end" "damaged: coded data past the end of the file"
check "extract, data cut short" 1 "$wpk" extract "$work/cut-data.wpk" -C "$work/y"

# The first member's last match runs past its size (reported, cut in the file)
# but fills the ring whole: the second member reads "aaa" from its tail.
python3 - "$work/cut-match.wpk" <<'PY'
import struct, sys
streams = [bytes.fromhex('07000000F6C90000'), bytes.fromhex('030000008CFFE0')]
records = b''.join(struct.pack('<IIIBB', off, 0, 0x279FBF7D, 0, len(n)) + n
                   for off, n in [(0, b'CUT.TXT'), (len(streams[0]), b'NEXT.TXT')])
head = bytes(56) + struct.pack('<h', 2) + records
open(sys.argv[1], 'wb').write(head + struct.pack('<I', len(head) + 4) + b''.join(streams))
PY
check "extract, last match past the size" 1 "$wpk" extract "$work/cut-match.wpk" -C "$work/cut"
[ "$(cat "$work/cut/CUT.TXT")/$(cat "$work/cut/NEXT.TXT")" = aaaaaaa/aaa ] ||
  { echo "FAIL: the member after a cut match did not read its whole tail"; failures=$((failures + 1)); }

# A member whose folder climbs out of the target is refused, the rest written.
python3 - "$work/a.wpk" "$work/evil.wpk" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
open(sys.argv[2], 'wb').write(data.replace(b'AB\\CD', b'..\\CD', 1))
PY
check "extract, unsafe folder" 1 "$wpk" extract "$work/evil.wpk" -C "$work/z/in"
expect_err "unsafe folder" "refused: would be written outside"
[ -e "$work/z/CD/NUMBERS.TXT" ] && { echo "FAIL: member written outside the target"; failures=$((failures + 1)); }
[ -f "$work/z/in/HELLO.TXT" ] || { echo "FAIL: safe members not written"; failures=$((failures + 1)); }
check "extract --allow-outside" 0 "$wpk" extract "$work/evil.wpk" -C "$work/z/in" --allow-outside
[ -f "$work/z/CD/NUMBERS.TXT" ] || { echo "FAIL: --allow-outside did not write the member"; failures=$((failures + 1)); }

# Usage errors.
check "no command" 2 "$wpk"
check "unknown command" 2 "$wpk" frobnicate
check "pack without dir" 2 "$wpk" pack "$work/b.wpk"
check "help" 0 "$wpk" extract --help
check "missing archive" 1 "$wpk" list "$work/none.wpk"

[ "$failures" -eq 0 ] && echo "wpk cli: all checks passed"
exit "$failures"
