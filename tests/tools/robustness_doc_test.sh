#!/usr/bin/env bash
# Every test docs/robustness.md names must exist.
# Usage: robustness_doc_test.sh DOC UNIT_TESTS_BINARY SOURCE_DIR
set -uo pipefail
doc=$1
unit=$2
src=$3
missing=0
tests=$("$unit" --gtest_list_tests | awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }')
for name in $(grep -o '`[A-Za-z]*\.[A-Za-z]*`' "$doc" | tr -d '`' | sort -u); do
  grep -qxF "$name" <<<"$tests" || { echo "missing unit test: $name"; missing=$((missing + 1)); }
done
for c in $(grep -o '`e2e: [a-z]*`' "$doc" | sed 's/`e2e: //; s/`//' | sort -u); do
  grep -q "^if want $c; then" "$src/tests/wine/e2e.sh" || { echo "missing e2e case: $c"; missing=$((missing + 1)); }
done
for t in $(grep -o '`fuzz: [a-z_]*`' "$doc" | sed 's/`fuzz: //; s/`//' | sort -u); do
  [ -f "$src/tests/fuzz/fuzz_$t.cpp" ] || { echo "missing fuzz target: $t"; missing=$((missing + 1)); }
done
for f in platform_check:tests/wine/platform_check.sh wpk_cli:tests/tools/wpk_cli_test.sh wpk_files:tests/tools/wpk_files_test.sh; do
  if grep -q "\`${f%%:*}\`" "$doc" && [ ! -f "$src/${f#*:}" ]; then
    echo "missing script: ${f#*:}"; missing=$((missing + 1))
  fi
done
[ "$missing" -eq 0 ] && echo "robustness table: every named test exists ($(grep -c '^| ' "$doc") table lines)"
exit "$missing"
