#!/usr/bin/env bash
# The installer's unpack of the benchmark archive under Wine against the
# host's `wpk extract` of the same archive, measured in one run (best of
# RUNS each), and their ratio. With COMPARE_BUILD set to another Windows
# build folder, its unpack runs alternately with this one's in the same
# session, and its best time is printed too. The processor time of the
# whole Wine process (start-up included) is printed beside each best time:
# on a busy machine it varies much less than the clock. With UNMARKED=1, the
# same archive with its checksum mark cleared (so that no member's checksum
# is computed) is unpacked alternately too: what the checksums cost. With
# BOUND=1, the unpack is also timed bound to the archive's SHA-256, as a
# bound WBOOT.EXE is (the archive hashed while it is copied): what the
# binding costs.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${RUNS:-3}
WIN_BUILD=${WIN_BUILD:-build/win}
COMPARE_BUILD=${COMPARE_BUILD:-}
UNMARKED=${UNMARKED:-0}
BOUND=${BOUND:-0}
[ "${NO_BUILD:-0}" = 1 ] || bash scripts/build.sh host win >/dev/null
work=$(mktemp -d)
. tests/wine/lib.sh
trap 'wine_session_stop; rm -rf "$work"' EXIT

build/host/bench/make_corpus "$work/corpus" >/dev/null
mkdir -p "$work/medium"
build/host/tools/wpk/wpk pack "$work/medium/W_SETUP.WPK" "$work/corpus" >/dev/null
cp "$WIN_BUILD/unpack_timer.exe" "$work/medium/"
[ -z "$COMPARE_BUILD" ] || cp "$COMPARE_BUILD/unpack_timer.exe" "$work/medium/unpack_timer_b.exe"
if [ "$UNMARKED" = 1 ]; then
  # The two bytes after the signature mark the archive as carrying checksums.
  mkdir -p "$work/plain"
  cp "$work/medium/W_SETUP.WPK" "$WIN_BUILD/unpack_timer.exe" "$work/plain/"
  printf '\0\0' | dd of="$work/plain/W_SETUP.WPK" bs=1 seek=54 conv=notrunc status=none
fi
bytes=$(du -sb "$work/corpus" | cut -f1)

best_host=""
for _ in $(seq "$RUNS"); do
  rm -rf "$work/out"
  t0=$(date +%s%N)
  build/host/tools/wpk/wpk extract -j 1 "$work/medium/W_SETUP.WPK" -C "$work/out"
  ms=$((($(date +%s%N) - t0) / 1000000))
  [ -z "$best_host" ] || [ "$ms" -lt "$best_host" ] && best_host=$ms
done

wine_session_start
wine_prefix_init "$work/prefix" >/dev/null
temp=$(wine_temp_dir "$work/prefix")
best_wine=""
best_compare=""
best_plain=""
best_bound=""
cpu_bound=""
cpu_wine=""
cpu_compare=""
cpu_plain=""
# Runs one unpack under Wine (PROGRAM below $work); its milliseconds in $ms.
unpack_once() {
  rm -rf "$temp/W80_INST"
  wine_run "$work/$1" || { cat "$WINE_OUT" "$WINE_ERR"; exit 1; }
  ms=$(sed -n 's/^unpack_ms=\([0-9]*\).*/\1/p' "$WINE_OUT")
  cpu=$(sed -n 's/.*cpu_ms=\([0-9]*\).*/\1/p' "$WINE_OUT")
}
for _ in $(seq "$RUNS"); do
  if [ -n "$COMPARE_BUILD" ]; then
    unpack_once medium/unpack_timer_b.exe
    [ -z "$best_compare" ] || [ "$ms" -lt "$best_compare" ] && best_compare=$ms
    [ -z "$cpu_compare" ] || [ "$cpu" -lt "$cpu_compare" ] && cpu_compare=$cpu
  fi
  if [ "$UNMARKED" = 1 ]; then
    unpack_once plain/unpack_timer.exe
    [ -z "$best_plain" ] || [ "$ms" -lt "$best_plain" ] && best_plain=$ms
    [ -z "$cpu_plain" ] || [ "$cpu" -lt "$cpu_plain" ] && cpu_plain=$cpu
  fi
  if [ "$BOUND" = 1 ]; then
    ARCHIVE_SHA256=$(sha256sum "$work/medium/W_SETUP.WPK" | cut -c1-64) unpack_once medium/unpack_timer.exe
    [ -z "$best_bound" ] || [ "$ms" -lt "$best_bound" ] && best_bound=$ms
    [ -z "$cpu_bound" ] || [ "$cpu" -lt "$cpu_bound" ] && cpu_bound=$cpu
  fi
  unpack_once medium/unpack_timer.exe
  [ -z "$best_wine" ] || [ "$ms" -lt "$best_wine" ] && best_wine=$ms
  [ -z "$cpu_wine" ] || [ "$cpu" -lt "$cpu_wine" ] && cpu_wine=$cpu
done
diff -r "$work/corpus" "$temp/W80_INST" >/dev/null || { echo "the Wine unpack differs from the corpus"; exit 1; }

echo "benchmark archive: $bytes bytes in $(find "$work/corpus" -type f | wc -l) members"
echo "host wpk extract:        $best_host ms"
echo "unpack under Wine:       $best_wine ms (in-process, copy of the archive included; processor $cpu_wine ms)"
[ -z "$COMPARE_BUILD" ] || echo "the same from $COMPARE_BUILD: $best_compare ms (processor $cpu_compare ms)"
[ "$UNMARKED" != 1 ] || echo "the same without checksums: $best_plain ms (processor $cpu_plain ms)"
[ "$BOUND" != 1 ] || echo "the same bound to the archive's SHA-256: $best_bound ms (processor $cpu_bound ms)"
awk -v w="$best_wine" -v h="$best_host" 'BEGIN { printf "ratio Wine / host:       %.2f\n", w / h }'
