#!/usr/bin/env bash
# Every test of the Windows build: WBOOT.EXE's imports, size and
# reproducibility, then the tests under Wine. Expects the host and win builds.
set -uo pipefail
cd "$(dirname "$0")/../.."
failed=0
bash tests/win32/check_wboot.sh build/win build/host/tools/wpk/wpk || failed=1
bash tests/wine/platform_check.sh build/win build/host/tools/wpk/wpk || failed=1
if [ -f tests/wine/e2e.sh ]; then
  bash tests/wine/e2e.sh build/win build/host/tools/wpk/wpk || failed=1
fi
exit $failed
