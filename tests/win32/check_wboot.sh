#!/usr/bin/env bash
# WBOOT.EXE as the Windows build makes it: only the imports of
# tests/win32/allowed_imports.tsv, OS and subsystem version 4.0, the
# hardening flags, at most 40 KiB; and the same bytes again from a copy of the sources built in
# another folder.
#   check_wboot.sh [WIN_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
win=${1:-build/win}
python3 tests/win32/check_pe.py "$win/wboot.exe" tests/win32/allowed_imports.tsv --max-size 40960

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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
