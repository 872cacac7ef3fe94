#!/usr/bin/env bash
# The wpk tool end to end: pack, list, test, extract, and its answers to
# damaged archives, unsafe member paths and bad usage.
set -uo pipefail
wpk=$1
export wpk
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

mkdir -p "$work/tree/AB/CD" "$work/tree/EMPTYDIR"
printf 'hello\r\n' > "$work/tree/HELLO.TXT"
head -c 70000 /dev/urandom > "$work/tree/AB/NOISE.BIN"
seq 1 20000 > "$work/tree/AB/CD/NUMBERS.TXT"
: > "$work/tree/AB/CD/ZERO.DAT"
touch -d '2001-02-03 04:05:06 UTC' "$work/tree/HELLO.TXT"

check "pack" 0 "$wpk" pack "$work/a.wpk" "$work/tree"
check "list" 0 "$wpk" list "$work/a.wpk"
grep -q 'AB\\CD\\NUMBERS.TXT' "$work/out" || fail "list lacks the member with its folder"
grep -q '2001-02-03 04:05:06' "$work/out" || fail "list lacks the UTC time"
check "test" 0 "$wpk" test "$work/a.wpk"
check "extract" 0 "$wpk" extract "$work/a.wpk" -C "$work/x"
rmdir "$work/tree/EMPTYDIR"
diff -r "$work/tree" "$work/x" || fail "extracted tree differs"
[ "$(stat -c %Y "$work/x/HELLO.TXT")" = "$(date -d '2001-02-03 04:05:06 UTC' +%s)" ] ||
  fail "modification time not restored"
grep -q '^a.wpk: 4 members written below .*x (' <(sed "s|$work/||" "$work/out") ||
  { fail "extract's summary line"; cat "$work/out"; }
check "pack --flat" 0 "$wpk" pack --flat "$work/flat.wpk" "$work/tree"
check "list flat" 0 "$wpk" list "$work/flat.wpk"
grep -q '\\' "$work/out" && fail "--flat kept folders"

# Damage: the directory cut short, the data cut short.
head -c 70 "$work/a.wpk" > "$work/cut-dir.wpk"
check "test, directory cut short" 1 "$wpk" test "$work/cut-dir.wpk"
expect_err "directory cut short" "archive cut short: the file ends inside its directory"
size=$(stat -c %s "$work/a.wpk")
head -c $((size - 200)) "$work/a.wpk" > "$work/cut-data.wpk"
check "test, data cut short" 1 "$wpk" test "$work/cut-data.wpk"
expect_err "data past the end" "damaged: coded data past the end of the file"
check "extract, data cut short" 1 "$wpk" extract "$work/cut-data.wpk" -C "$work/y"
# A damaged member leaves no file, whole or partial, unless asked to.
[ -e "$work/y/AB/NOISE.BIN" ] && fail "damaged member left behind"
[ -n "$(find "$work/y" -name '*.wpk-*')" ] && fail "temporary files left behind"
[ -f "$work/y/AB/CD/NUMBERS.TXT" ] || fail "whole members not written"
check "extract --keep-damaged" 1 "$wpk" extract --keep-damaged "$work/cut-data.wpk" -C "$work/y2"
[ -s "$work/y2/AB/NOISE.BIN" ] || fail "--keep-damaged did not keep the member"

# An existing file is replaced only with --overwrite.
echo changed > "$work/x/HELLO.TXT"
check "extract over existing files" 1 "$wpk" extract "$work/a.wpk" -C "$work/x"
expect_err "existing file" "x/HELLO.TXT exists (--overwrite replaces it)"
[ "$(cat "$work/x/HELLO.TXT")" = changed ] || fail "existing file replaced"
check "extract --overwrite" 0 "$wpk" extract --overwrite "$work/a.wpk" -C "$work/x"
diff -r "$work/tree" "$work/x" >/dev/null || fail "--overwrite did not replace"

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
check "list --json, unmarked" 0 "$wpk" list --json "$work/cut-match.wpk"
grep -q '"checksum": null}' "$work/out" || fail "unmarked checksum not null"
check "extract, last match past the size" 1 "$wpk" extract --keep-damaged "$work/cut-match.wpk" -C "$work/cut"
[ "$(cat "$work/cut/CUT.TXT")/$(cat "$work/cut/NEXT.TXT")" = aaaaaaa/aaa ] ||
  fail "the member after a cut match did not read its whole tail"

# A member whose folder climbs out of the target is refused, the rest written.
python3 - "$work/a.wpk" "$work/evil.wpk" <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
data[44:50] = bytes(6)  # as written before the directory checksum: nothing to verify
open(sys.argv[2], 'wb').write(data.replace(b'AB\\CD', b'..\\CD', 1))
PY
check "extract, unsafe folder" 1 "$wpk" extract "$work/evil.wpk" -C "$work/z/in"
expect_err "unsafe folder" "refused: would be written outside"
[ -e "$work/z/CD/NUMBERS.TXT" ] && fail "member written outside the target"
[ -f "$work/z/in/HELLO.TXT" ] || fail "safe members not written"
check "extract --allow-outside" 0 "$wpk" extract "$work/evil.wpk" -C "$work/z/in" --allow-outside --overwrite
[ -f "$work/z/CD/NUMBERS.TXT" ] || fail "--allow-outside did not write the member"

# Names are listed with control bytes escaped; help fits 80 columns.
mkdir -p "$work/esc" && printf x >"$work/esc/$(printf 'A\033]0;T\007')"
"$wpk" pack -q "$work/esc.wpk" "$work/esc"
check "list, control bytes" 0 "$wpk" list "$work/esc.wpk"
grep -qF 'A\x1B]0;T\x07' "$work/out" && ! grep -q $'\033' "$work/out" || fail "list printed a name raw"
for c in pack list test extract check medium; do "$wpk" $c --help; done | awk 'length > 80 { bad = 1 } END { exit bad }' ||
  fail "a help line over 80 columns"

# Usage errors and the parser's answers: arguments | exit status | text on
# stderr (or stdout for help and version).
while IFS='|' read -r args want text; do
  read -ra argv <<<"$args"
  check "wpk $args" "$want" "$wpk" "${argv[@]}"
  grep -qF -- "$text" "$work/err" "$work/out" || { fail "wpk $args: output lacks '$text'"; cat "$work/err"; }
done <<'TABLE'
|2|usage: wpk COMMAND
frobnicate|2|unknown command 'frobnicate'
pack|2|pack: missing ARCHIVE
pack b.wpk|2|nothing to pack
pack --list|2|option '--list' needs a value (FILE)
pack --mtime 1979-12-31 b.wpk .|2|--mtime '1979-12-31': not a time
pack --mtime yesterday b.wpk .|2|--mtime 'yesterday': not a time
pack --flat=1 b.wpk .|2|option '--flat' takes no value
extract a.wpk -C|2|option '-C' needs a value (DIR)
extract a.wpk --directory|2|option '--directory' needs a value (DIR)
list --frob a.wpk|2|unknown option '--frob'
list -z a.wpk|2|unknown option '-z'
list a.wpk b.wpk|2|unexpected operand 'b.wpk'
test|2|test: missing ARCHIVE
extract --help|0|--overwrite
--version|0|wpk 1.
list --version|0|wpk 1.
TABLE
check "missing archive" 1 "$wpk" list "$work/none.wpk"
# "--" ends the options: an archive named like an option.
cp "$work/a.wpk" "$work/-q.wpk"
(cd "$work" && check "-- before an operand" 0 "$wpk" test -- -q.wpk)
grep -q "4 members" "$work/out" || fail "'--' did not end the options"
check "list -q --json" 0 "$wpk" list -q --json "$work/a.wpk"
python3 -c 'import json,sys,zlib; m=json.load(open(sys.argv[1])); assert len(m)==4 and m[-1]=={"folder":"","name":"HELLO.TXT","size":7,"packed_size":12,"time":"2001-02-03T04:05:06Z","stored_time":709042339,"offset":m[-1]["offset"],"checksum":"%08x" % zlib.crc32(b"hello\r\n")} and m[0]["folder"]=="AB\\CD"' "$work/out" ||
  { fail "list --json"; cat "$work/out"; }

# --mtime and SOURCE_DATE_EPOCH: the same files give the same bytes, whatever
# their own times.
touch -d '2011-01-01 UTC' "$work/tree/AB/NOISE.BIN"
check "pack --mtime" 0 "$wpk" pack --mtime '2020-02-02 02:02:02' "$work/m1.wpk" "$work/tree"
touch -d '2015-05-05 UTC' "$work/tree/AB/NOISE.BIN" "$work/tree/HELLO.TXT"
SOURCE_DATE_EPOCH=$(date -d '2020-02-02 02:02:02 UTC' +%s) check "pack SOURCE_DATE_EPOCH" 0 "$wpk" pack "$work/m2.wpk" "$work/tree"
cmp -s "$work/m1.wpk" "$work/m2.wpk" || fail "--mtime archives differ"
# Decoding on several processes gives what one gives, messages and files
# alike. The last member is a hand-made stream of size 60 whose only symbol
# is a match of 60 from position 4088 (code 11000101, then 11111111 111000):
# it reads ring positions 4043 to 4095, which the member before it left, and
# 0 to 6 (spaces), so it must be decoded after that one.
mkdir -p "$work/many"
for i in $(seq 1 40); do seq "$i" 7 $((i * 3000)) > "$work/many/F$i.TXT"; done
printf 'abc' > "$work/many/ZZ.BIN"
check "pack many" 0 "$wpk" pack -j 3 "$work/many.wpk" "$work/many"
# Packing on several processes gives the bytes one gives, and leaves
# no scratch files.
check "pack many -j 1" 0 "$wpk" pack -j 1 "$work/many-1.wpk" "$work/many"
cmp -s "$work/many.wpk" "$work/many-1.wpk" && [ -z "$(ls -A "$work" | grep '^\.')" ] ||
  { echo "FAIL: pack on several processes differs from -j 1, or left files"; failures=$((failures + 1)); }
python3 - "$work/many.wpk" <<'PY2'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
count = struct.unpack_from('<h', data, 56)[0]
at, offsets = 58, []
for _ in range(count):
    offsets.append(struct.unpack_from('<I', data, at)[0])
    at += 14 + data[at + 12] + data[at + 13]
base = struct.unpack_from('<I', data, at)[0]
data[54:56] = b'\0\0'  # the last member is made by hand: no checksum of it to verify
open(path, 'wb').write(data[:base + offsets[-1]] + bytes([60, 0, 0, 0, 0xC5, 0xFF, 0xE0]))
PY2
for run in "test many" "extract -C $work/par1 many" "test cut-data" "extract -C $work/par2 cut-data"; do
  read -ra argv <<<"$run"
  archive="$work/${argv[-1]}.wpk"; unset 'argv[-1]'
  "$wpk" "${argv[@]}" -j 1 "$archive" >"$work/serial.out" 2>"$work/serial.err"; serial=$?
  "$wpk" "${argv[@]/par/pax}" -j 3 "$archive" >"$work/par.out" 2>"$work/par.err"; par=$?
  sed -i "s/pax/par/g" "$work/par.out" "$work/par.err"
  [ "$serial" = "$par" ] && cmp -s "$work/serial.out" "$work/par.out" && cmp -s "$work/serial.err" "$work/par.err" ||
    { fail "$run: parallel run differs"; diff "$work/serial.out" "$work/par.out"; }
done
diff -r "$work/par1" "$work/pax1" >/dev/null || fail "parallel extract differs"
# F9.TXT is the member before it: its bytes 7 to 59 (mod 4096) of its last 4096.
python3 -c 'import sys; d=open(sys.argv[1],"rb").read(); i=len(d)-4096+((7-len(d))%4096); assert open(sys.argv[2],"rb").read()==d[i:i+53]+b" "*7' "$work/many/F9.TXT" "$work/pax1/ZZ.BIN" ||
  fail "the carried ring bytes were not the previous member's"
# A member the installer cannot write (no name) is not decoded there, so the
# member after it reads the ring as the one before left it: extract does
# the same. Members: FIRST.TXT (60 bytes), one without a name (60 others),
# then the hand-made stream above, which reads the carried bytes.
python3 - "$work/ring.wpk" <<'PY3'
import struct, subprocess, sys, os
d = os.path.dirname(sys.argv[1])
os.makedirs(d + '/ring', exist_ok=True)
for name, text in (('A', b'0123456789' * 6), ('B', b'abcdefghij' * 6)):
    open(d + '/ring/' + name, 'wb').write(text)
streams = []
for name in 'AB':
    subprocess.run([os.environ['wpk'], 'pack', '-q', d + '/one.wpk', '--list', '/dev/stdin'],
                   input=('ring/' + name).encode(), cwd=d, check=True)
    data = open(d + '/one.wpk', 'rb').read()
    streams.append(data[struct.unpack_from('<I', data, 58 + 14 + 4 + 1)[0]:])
streams.append(bytes([60, 0, 0, 0, 0xC5, 0xFF, 0xE0]))
names = [b'FIRST.TXT', b'', b'LAST.TXT']
at, records = 0, b''
for n, st in zip(names, streams):
    records += struct.pack('<IIIBB', at, 0, 0x279FBF7D, 0, len(n)) + n
    at += len(st)
head = bytes(56) + struct.pack('<h', 3) + records
open(sys.argv[1], 'wb').write(head + struct.pack('<I', len(head) + 4) + b''.join(streams))
PY3
check "extract, a member the installer skips" 1 "$wpk" extract "$work/ring.wpk" -C "$work/ring-x"
expect_err "skipped member" "skipped: the installer cannot write it either"
[ "$(cat "$work/ring-x/LAST.TXT")" = "$(tail -c 53 "$work/ring/A")       " ] ||
  fail "the member after a skipped one did not read the ring the one before left"

[ "$failures" -eq 0 ] && echo "wpk cli: all checks passed"
exit "$failures"
