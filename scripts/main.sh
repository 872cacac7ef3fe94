#!/usr/bin/env bash
# The main job: make the medium (dist/: WBOOT.EXE and W_SETUP.WPK, and an
# ISO image of it) from a demonstration tree with `wpk medium`, bound and
# signed with a throw-away certificate, check the medium and the
# archive round trip with wpk, then run the medium under Wine on a virtual
# display: a screenshot of the splash is saved, and what the demonstration
# setup program received is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh
bash scripts/build.sh host win >/dev/null

wpk=build/host/tools/wpk/wpk
out=build/main
rm -rf dist "$out"
mkdir -p "$out/tree/DATA/DOCS" "$out/tree/DATA/SAMPLES"

echo "== the medium"
cp build/win/w_setup_demo.exe "$out/tree/W_SETUP.EXE"
cp README.md "$out/tree/DATA/DOCS/README.TXT"
cp -r src "$out/tree/DATA/SOURCES"
seq 1 100000 >"$out/tree/DATA/SAMPLES/NUMBERS.TXT"
# Enough data that the unpack stays on screen for the screenshot.
head -c 24000000 /dev/urandom >"$out/tree/DATA/SAMPLES/NOISE.BIN"
# Signed with a throw-away certificate, made here, standing in for a vendor's.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$out/demo-key.pem" -out "$out/demo-cert.pem" \
  -days 30 -subj "/CN=Wendle demonstration/O=Wendle" >/dev/null 2>&1
openssl pkcs12 -export -in "$out/demo-cert.pem" -inkey "$out/demo-key.pem" -out "$out/demo.p12" -passout pass:
"$wpk" medium --sign "$out/demo.p12" --iso "$out/medium.iso" dist "$out/tree"
"$wpk" check --trust "$out/demo-cert.pem" dist
# The listing goes to a file first: under pipefail, `head` leaving a pipe
# before wpk has written its last line would end the job on SIGPIPE.
"$wpk" list dist/W_SETUP.WPK >"$out/listing.txt"
sed -n 1,8p "$out/listing.txt"
"$wpk" extract dist/W_SETUP.WPK -C "$out/extracted"
diff -r "$out/tree" "$out/extracted" && echo "round trip exact: $(find "$out/tree" -type f | wc -l) files"

echo "== the medium under Wine"
. tests/wine/lib.sh
trap wine_session_stop EXIT
wine_session_start
wine_prefix_init "$out/prefix" >/dev/null
wine_seed_ports "$out/prefix" "COM1:=9600,n,8,1" "COM2:=9600,n,8,1" "COM3:=9600,n,8,1" "COM4:=9600,n,8,1"
start=$(date +%s%N)
wine_start "$PWD/dist/WBOOT.EXE"
pid=$WINE_PID
if wait_x_window "Wendle Install" 30; then
  sleep 0.4
  screenshot "$out/splash.png" && echo "splash screenshot: $out/splash.png"
fi
wine_wait "$pid" || true
echo "WBOOT.EXE exit code $WINE_RC after $((($(date +%s%N) - start) / 1000000)) ms"
tr -d '\r' <"$(wine_temp_dir "$out/prefix")/W_SETUP_DEMO.TXT"
left=$(find "$(wine_temp_dir "$out/prefix")/W80_INST" -type f 2>/dev/null | wc -l)
echo "files left in the work folder: $left (member folders stay by design)"
