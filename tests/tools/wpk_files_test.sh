#!/usr/bin/env bash
# wpk and the files around it: what it writes to (devices, FIFOs, folders,
# links), what it reads in a tree (links, loops, FIFOs, devices, its own
# outputs), and what an interrupted or killed run leaves behind.
set -uo pipefail
wpk=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'umount "$work/run/x" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
python3 "$here/tiny_pe.py" "$work/gui.exe" 2
python3 "$here/tiny_pe.py" "$work/console.exe" 3
python3 "$here/tiny_pe.py" "$work/imports.exe" 2 USER32.dll MessageBoxA
python3 "$here/tiny_pe.py" "$work/wide.exe" 2 USER32.dll MessageBoxW
mkdir -p "$work/zeros" "$work/random"
head -c 10000000 /dev/zero >"$work/zeros/Z.BIN"
head -c 20000000 /dev/urandom >"$work/random/A.BIN"
cp "$work/random/A.BIN" "$work/random/B.BIN"
"$wpk" pack -q "$work/random.wpk" "$work/random" || fail "packing the random files"
as_root() { [ "$(id -u)" = 0 ] || { echo "skip (not root): $what"; return 1; }; }

# Becomes "$@" with SIGINT, SIGHUP and SIGPIPE not ignored (as they are for a
# background job of a script), like a command in the foreground; only for
# a background job, which it replaces.
with_signals() {
  exec python3 -c 'import os, signal, sys
for s in (signal.SIGINT, signal.SIGHUP, signal.SIGPIPE): signal.signal(s, signal.SIG_DFL)
os.execvp(sys.argv[1], sys.argv[1:])' "$@"
}
# Runs "$@" in the background, sends signal $sig once its temporary file
# (.NAME.XXXXXX beside the target) is there, and gives its exit status.
interrupt() {
  with_signals "$@" >/dev/null 2>&1 &
  local pid=$! n=0
  while [ -z "$(ls -A | grep '^\.o\.wpk\.')" ] && [ $n -lt 1000 ]; do sleep 0.01; n=$((n + 1)); done
  kill -"$sig" $pid
  wait $pid
}
# Each row: what | setup | command | exit status | text in stdout or stderr | check after
while IFS='|' read -r what setup command want text after; do
  [ -z "$what" ] && continue
  cd "$work" && { umount run/x 2>/dev/null; rm -rf run; } && mkdir -p run/t && cd run || exit 1
  printf 'setup' >t/W_SETUP.EXE
  eval "$setup" || continue
  eval "$command" >out 2>err
  got=$?
  [ "$got" = "$want" ] || { fail "$what: exit $got, expected $want"; cat err; continue; }
  [ -z "$text" ] || grep -qF -- "$text" out err || { fail "$what: output lacks '$text'"; cat out err; }
  eval "$after" || fail "$what: not so after: $after"
done <<'TABLE'
target a device|as_root && mknod cdev c 1 3|"$wpk" pack cdev t|1|cdev: is a device, not written|[ -c cdev ]
target a FIFO|mkfifo f|"$wpk" pack f t|1|f: is a FIFO, not written|[ -p f ]
target a folder|mkdir d|"$wpk" pack d t|1|d: is a folder, not written|[ -d d ] && [ -z "$(ls -A d)" ]
medium target a device|as_root && mkdir m && mknod m/W_SETUP.WPK c 1 3|"$wpk" medium --no-bind --program ../gui.exe m t|1|is a device|[ -c m/W_SETUP.WPK ] && [ ! -e m/WBOOT.EXE ]
target a link|echo old >real && ln -s real link|"$wpk" pack link t|0|link: 1 member|[ -L link ] && "$wpk" test -q real
other files kept|echo mine >o.wpk.tmp && mkdir m && echo mine >m/W_SETUP.WPK.new|"$wpk" pack o.wpk t && "$wpk" medium --no-bind --program ../gui.exe m t|0|WBOOT.EXE (unbound) and W_SETUP.WPK|[ "$(cat o.wpk.tmp)" = mine ] && [ "$(cat m/W_SETUP.WPK.new)" = mine ]
FIFO in a tree|mkfifo t/PIPE|"$wpk" pack o.wpk t|1|PIPE: a FIFO, not a file: never read, an error|[ ! -e o.wpk ]
device in a list|as_root && mknod t/DEV c 1 3 && echo t/DEV >list|"$wpk" pack --list list o.wpk|1|DEV: a device, not a file|[ ! -e o.wpk ]
link out of the tree|echo out >outside.txt && ln -s ../outside.txt t/OUT.TXT|"$wpk" check t|0|OUT.TXT: leads out of the tree|"$wpk" pack -q o.wpk t && "$wpk" list o.wpk | grep OUT.TXT >/dev/null
link to a folder|mkdir t/SUB && echo s >t/SUB/S.TXT && ln -s SUB t/LINKED|"$wpk" pack o.wpk t|0|LINKED: a symbolic link to SUB|"$wpk" list o.wpk | grep -F 'LINKED\S.TXT' >/dev/null
link loop|ln -s . t/LOOP|"$wpk" check t|0|LOOP: leads to a folder that holds it|grep -q '2 findings' out
dangling link|ln -s nowhere t/GONE|"$wpk" check --strict t|1|GONE: a symbolic link to nowhere, which is not there|true
archive in its tree|"$wpk" pack -q t/o.wpk t|"$wpk" pack t/o.wpk t|0|o.wpk: the archive being written|! "$wpk" list t/o.wpk | grep 'o\.wpk' >/dev/null
medium in its tree|"$wpk" medium -q --no-bind --program ../gui.exe t/m t|"$wpk" medium --no-bind --program ../gui.exe t/m t|0|m: the output folder lies inside|! "$wpk" list t/m/W_SETUP.WPK | grep WBOOT >/dev/null
same tree twice|true|"$wpk" pack o.wpk t t|0|o.wpk: 1 member,|true
text file as program|true|"$wpk" medium --program t/W_SETUP.EXE m t|1|not a Windows program|[ ! -e m ]
console program|true|"$wpk" medium --program ../console.exe m t|1|not a GUI program|[ ! -e m ]
program with an allowed import|true|"$wpk" medium --no-bind --program ../imports.exe m t|0|WBOOT.EXE (unbound) and W_SETUP.WPK|cmp -s ../imports.exe m/WBOOT.EXE
program with another import|true|"$wpk" medium --program ../wide.exe m t|1|imports USER32.DLL MessageBoxW, which the installer may not use|[ ! -e m ]
same path twice|mkdir u && echo two >u/W_SETUP.EXE && "$wpk" pack -q o.wpk t u|"$wpk" extract -C x o.wpk|0|W_SETUP.EXE: replaces the member of the same path|[ "$(cat x/W_SETUP.EXE)" = two ]
folder link in DIR|mkdir -p x away t/SUB && echo s >t/SUB/S.TXT && ln -s ../away x/SUB && "$wpk" pack -q o.wpk t|"$wpk" extract -C x o.wpk|1|x/SUB is a symbolic link: would be written outside|[ ! -e away/S.TXT ] && [ -f x/W_SETUP.EXE ]
full disk|as_root && mkdir x && mount -t tmpfs -o size=64k none x|"$wpk" extract -j 1 -C x ../random.wpk|1|No space left on device (the disk is full)|umount x
left out by --exclude|mkdir -p t/.git t/D && echo r >t/.git/HEAD && echo b >t/D/a.ini~ && echo k >t/D/KEEP|"$wpk" pack --exclude .git --exclude '*~' o.wpk t && "$wpk" list o.wpk|0|D\KEEP|! grep -q 'HEAD\|ini~' out
a list on standard input|echo x >t/A.TXT|(cd t && "$wpk" pack -q ../o.wpk --list - <<<A.TXT) && "$wpk" list o.wpk|0|A.TXT|! grep -q W_SETUP out
named members, to standard output|seq 1 9999 >t/N.TXT && mkdir t/S && echo s >t/S/M.TXT && "$wpk" pack -q o.wpk t|"$wpk" extract -O o.wpk N.TXT S/M.TXT >x|0||[ "$(cat x)" = "$(cat t/N.TXT t/S/M.TXT)" ]
a member not there|"$wpk" pack -q o.wpk t|"$wpk" extract -C x o.wpk NONE|1|NONE: no such member|[ ! -e x/W_SETUP.EXE ]
several archives tested|"$wpk" pack -q o.wpk t && printf 'x' >bad.wpk|"$wpk" test o.wpk bad.wpk|1|o.wpk: 1 member, 0 damaged|true
help of a command, -V|true|"$wpk" help extract && "$wpk" -V|0|usage: wpk extract|grep -q '^wpk [0-9]' out
SIGINT in pack|sig=INT|interrupt "$wpk" pack o.wpk ../zeros|130||[ -z "$(ls -A | grep -v '^t$\|^out$\|^err$')" ]
SIGTERM in pack|sig=TERM|interrupt "$wpk" pack o.wpk ../zeros|143||[ -z "$(ls -A | grep -v '^t$\|^out$\|^err$')" ]
SIGHUP in pack|sig=HUP|interrupt "$wpk" pack o.wpk ../zeros|129||[ -z "$(ls -A | grep -v '^t$\|^out$\|^err$')" ]
closed pipe in pack|sig=PIPE|interrupt "$wpk" pack o.wpk ../zeros|141||[ -z "$(ls -A | grep -v '^t$\|^out$\|^err$')" ]
TABLE

# Interrupted extract: with its output blocked on a pipe that nobody reads,
# its workers' scratch folder is full; SIGINT removes it.
cd "$work" && mkdir -p many x && mkfifo blocked
for i in $(seq 1 1500); do printf x >"many/$(printf 'F%04d-%0150d' "$i" 0)"; done
"$wpk" pack -q many.wpk many
exec 3<>blocked
with_signals "$wpk" extract -v -j 2 -C "$work/x" many.wpk >blocked 2>/dev/null &
pid=$!
for n in $(seq 1 500); do grep -q pipe_write /proc/$pid/wchan 2>/dev/null && break; sleep 0.01; done
ls -A x | grep "^\.wpk-extract-" >/dev/null || fail "extract blocked without its scratch folder"
kill -INT $pid
for n in $(seq 1 500); do kill -0 $pid 2>/dev/null || break; sleep 0.01; done
kill -0 $pid 2>/dev/null && { fail "SIGINT did not end extract"; kill -KILL $pid; }
wait $pid
exec 3<&-
[ -z "$(ls -A x | grep '^\.')" ] || fail "interrupted extract left $(ls -A x | grep '^\.' | head -1)"

# A worker ends with its parent: stopped while it decodes, it is gone once
# the parent is killed.
"$wpk" test -j 2 random.wpk >/dev/null 2>&1 &
pid=$!
worker=
for n in $(seq 1 1000); do
  for child in $(pgrep -P $pid); do
    [ "$(ls -l /proc/$child/fd 2>/dev/null | grep -c random.wpk)" -ge 2 ] && worker=$child
  done
  [ -n "$worker" ] && break
  sleep 0.01
done
if [ -n "$worker" ]; then
  kill -STOP "$worker" && kill -KILL $pid
  for n in $(seq 1 500); do kill -0 "$worker" 2>/dev/null || break; sleep 0.01; done
  kill -0 "$worker" 2>/dev/null && { fail "the worker outlived its parent"; kill -KILL "$worker"; }
else
  fail "no worker seen decoding"
fi
wait $pid 2>/dev/null

[ "$failures" -eq 0 ] && echo "wpk files: all checks passed"
exit "$failures"
