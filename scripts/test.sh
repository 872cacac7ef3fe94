#!/usr/bin/env bash
# Every test: host unit and tool tests, the same under ASan and UBSan, the
# fuzz targets' fixed runs, the Windows build, and the Windows program under
# Wine on a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh
bash scripts/build.sh host sanitize fuzz win

echo "== host tests"
ctest --preset host -j2
echo "== host tests under ASan and UBSan"
ASAN_OPTIONS=detect_leaks=1 ctest --preset sanitize -j2
echo "== fuzz targets, fixed runs"
ctest --preset fuzz
if [ -x tests/wine/run_all.sh ] || [ -f tests/wine/run_all.sh ]; then
  echo "== Windows build under Wine"
  bash tests/wine/run_all.sh
fi
echo "== all tests passed"
