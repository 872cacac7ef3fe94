#!/usr/bin/env bash
# The main job: pack a sample tree with wpk, list it, test it, extract it
# again and show that the round trip is exact.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh
bash scripts/build.sh host

wpk=build/host/tools/wpk/wpk
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/DATA/FONTS" "$work/tree/HELP"
cp README.md "$work/tree/README.TXT"
cp -r src "$work/tree/DATA/SOURCE"
head -c 300000 /dev/urandom > "$work/tree/DATA/FONTS/NOISE.BIN"
seq 1 50000 > "$work/tree/HELP/NUMBERS.TXT"
: > "$work/tree/HELP/EMPTY.TXT"

"$wpk" pack "$work/W_SETUP.WPK" "$work/tree"
"$wpk" list "$work/W_SETUP.WPK" | head -n 12
"$wpk" test "$work/W_SETUP.WPK"
"$wpk" extract "$work/W_SETUP.WPK" -C "$work/out"
if diff -r "$work/tree" "$work/out"; then
  echo "round trip exact: $(find "$work/tree" -type f | wc -l) files identical"
else
  echo "round trip differs" >&2
  exit 1
fi
