#!/usr/bin/env bash
# Signed, bound media: the signature verifies against the certificate that
# made it, the same inputs give the same bytes (program, archive, ISO), and
# wpk check finds a changed program, a swapped archive and an unbound one;
# the password is never an argument. Needs the Windows build's WBOOT.EXE.
#   wpk_sign_test.sh WPK WBOOT_EXE
set -uo pipefail
[ -f "$2" ] || { echo "skip: no Windows build ($2)"; exit 77; }
wpk=$(realpath "$1")
program=$(realpath "$2")
for tool in osslsigncode openssl xorriso; do
  command -v $tool >/dev/null || { echo "skip: no $tool"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A throw-away vendor certificate, its key under a password.
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 30 \
  -subj "/CN=Test Vendor" >/dev/null 2>&1 &&
  printf 'pw-4711\n' >pass.txt &&
  openssl pkcs12 -export -in cert.pem -inkey key.pem -out vendor.p12 -passout file:pass.txt ||
  { echo "FAIL: no test certificate"; exit 1; }
mkdir -p tree/DATA && cp "$program" tree/W_SETUP.EXE && seq 1 5000 >tree/DATA/TABLE.TXT
# The signing tool as wpk runs it, with its arguments recorded.
mkdir bin && cat >bin/osslsigncode <<EOS
#!/bin/sh
echo "\$*" >>"$work/arguments"
exec $(command -v osslsigncode) "\$@"
EOS
chmod +x bin/osslsigncode
medium() { PATH="$work/bin:$PATH" "$wpk" medium -q --program "$program" "$@" tree; }

medium --sign vendor.p12 --sign-password-file pass.txt --mtime 2020-01-01 --iso a.iso a ||
  fail "signed medium: exit $?"
SOURCE_DATE_EPOCH=1577836800 medium --sign vendor.p12 --sign-password-file - --iso b.iso b <pass.txt ||
  fail "signed medium, password on a pipe: exit $?"
for f in a/WBOOT.EXE a/W_SETUP.WPK a.iso; do
  cmp -s "$f" "b${f#a}" || fail "$f differs between two runs"
done
echo "ISO digests of two runs: $(sha256sum a.iso b.iso | cut -c1-16 | tr '\n' ' ')"
osslsigncode verify -CAfile cert.pem -in a/WBOOT.EXE >verify.txt 2>&1 || fail "signature does not verify: $(tail -3 verify.txt)"
grep -q -- "-readpass pass.txt" arguments || fail "the signing tool was not given the password file"
grep -q pw-4711 arguments && fail "the password was an argument of the signing tool"
"$wpk" check --trust cert.pem a >out 2>&1 && grep -q "signed by CN = Test Vendor; the signature verifies" out &&
  grep -q "0 findings" out || { fail "check of the signed medium"; cat out; }

# What wpk check must find: status, medium, what is done to it, the line.
cp -r a flipped && printf '\001' | dd of=flipped/WBOOT.EXE bs=1 seek=2000 conv=notrunc status=none
cp -r a swapped && echo 5001 >>tree/DATA/TABLE.TXT && "$wpk" pack -q swapped/W_SETUP.WPK tree
medium --no-bind unbound
while IFS='|' read -r want dir line; do
  "$wpk" check --trust cert.pem "$dir" >out 2>&1
  got=$?
  [ "$got" = "$want" ] && grep -qF -- "$line" out || { fail "check $dir: exit $got, expected $want and '$line'"; cat out; }
done <<'EOS'
1|flipped|the signature does not verify: the program's bytes do not match its signature
1|swapped|bound to another archive than W_SETUP.WPK
0|unbound|not bound to its archive
0|a.iso|bound to W_SETUP.WPK: the digest matches
EOS

# A wrong password leaves the medium there as it was.
printf 'wrong\n' >wrong.txt
medium --sign vendor.p12 --sign-password-file wrong.txt a 2>err && fail "a wrong password signed"
grep -q "password is wrong or missing" err || fail "wrong password: $(cat err)"
cmp -s a/WBOOT.EXE b/WBOOT.EXE && [ "$(ls -A a | tr '\n' ' ')" = "WBOOT.EXE W_SETUP.WPK " ] ||
  fail "a failed signing changed the medium: $(ls -A a | tr '\n' ' ')"
[ "$failures" = 0 ] && echo "signed media: every check passed"
exit $((failures > 0))
