#!/usr/bin/env bash
# WBOOT.EXE as the Windows build makes it: only the imports of
# tests/win32/allowed_imports.tsv, OS and subsystem version 4.0, the
# hardening flags, at most 40 KiB; and the same bytes again from a copy of the sources built in
# another folder.
# The same checks run on the program as a medium ships it, bound to an
# archive and signed (with a throw-away certificate), when WPK is given.
#   check_wboot.sh [WIN_BUILD_DIR [WPK]]
set -euo pipefail
cd "$(dirname "$0")/../.."
win=${1:-build/win}
wpk=${2:-}
python3 tests/win32/check_pe.py "$win/wboot.exe" tests/win32/allowed_imports.tsv --max-size 40960

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -n "$wpk" ]; then
  mkdir -p "$work/tree" && cp "$win/wboot.exe" "$work/tree/W_SETUP.EXE"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 30 \
    -subj "/CN=Test Vendor" >/dev/null 2>&1
  openssl pkcs12 -export -in "$work/cert.pem" -inkey "$work/key.pem" -out "$work/v.p12" -passout pass:
  "$wpk" medium -q --program "$win/wboot.exe" --sign "$work/v.p12" "$work/medium" "$work/tree"
  echo "as shipped, bound and signed:"
  python3 tests/win32/check_pe.py "$work/medium/WBOOT.EXE" tests/win32/allowed_imports.tsv --max-size 40960
fi
mkdir -p "$work/sources/elsewhere"
tar -c --exclude=./build --exclude=./.git --exclude=./dist . | tar -x -C "$work/sources/elsewhere"
cmake -S "$work/sources/elsewhere" -B "$work/out" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$work/sources/elsewhere/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/out" --target wboot -j2 >/dev/null
if ! cmp "$win/wboot.exe" "$work/out/wboot.exe"; then
  echo "FAIL wboot.exe differs when built from $work/sources/elsewhere in $work/out"
  exit 1
fi
echo "reproducible: the same $(stat -c %s "$win/wboot.exe") bytes from a copy built in another folder"
