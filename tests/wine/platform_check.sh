#!/usr/bin/env bash
# The installation steps on the real Win32 side under Wine: unpack into
# %TEMP%\W80_INST, time conversion, setup launch and cleanup with a file held
# open by another process. Usage: platform_check.sh BUILD_WIN_DIR WPK
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
win=$(realpath "$1")
wpk=$(realpath "$2")
work=$(mktemp -d)
trap 'wine_session_stop; rm -rf "$work"' EXIT

mkdir -p "$work/medium" "$work/tree/SUB/DEEP"
cp "$win/tests/wine/tools/w_setup_stub.exe" "$work/tree/W_SETUP.EXE"
echo "deep data" >"$work/tree/SUB/DEEP/DATA.TXT"
echo "held by the stand-in" >"$work/tree/SUB.TXT"
"$wpk" pack "$work/medium/W_SETUP.WPK" "$work/tree" >/dev/null || exit 1
cp "$win/platform_check.exe" "$work/medium/"

wine_session_start || exit 1
wine_prefix_init "$work/prefix" || exit 1
WSTUB_RECORD="$(wine_winpath "$work/record.txt")" WINE_TIMEOUT=90 \
  wine_run "$work/medium/platform_check.exe" "$(wine_winpath "$work/report.txt")"
rc=$WINE_RC
cat "$work/report.txt" 2>/dev/null
grep -q '^done failures=0' "$work/report.txt" 2>/dev/null || { echo "platform check failed (exit $rc)"; exit 1; }
tr -d '\r' <"$work/record.txt" >"$work/record"
grep -q '^cmdline=.*W80_INST\\W_SETUP.EXE [0-9]* [0-9]* Z:' "$work/record" ||
  { echo "stand-in did not record the expected command line"; cat "$work/record"; exit 1; }
grep -q '^cwd=.*\\W80_INST$' "$work/record" || { echo "stand-in did not run in the work folder"; exit 1; }
echo "platform check under Wine: passed"
