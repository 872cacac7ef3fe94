#!/usr/bin/env bash
# The Debian package of wpk: built with CPack, unpacked into a scratch root
# (dpkg-deb -x), it makes a medium with the WBOOT.EXE it carries; and its
# manual page names every option that some command's --help prints.
#   package_test.sh BUILD_DIR WBOOT_EXE
set -uo pipefail
build=$(realpath "$1")
[ -f "$2" ] || { echo "skip: no Windows build ($2)"; exit 77; }
program=$(realpath "$2")
command -v dpkg-deb >/dev/null || { echo "skip: no dpkg-deb"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$work"/out/wpk_*.deb) && dpkg-deb -x "$deb" "$work/root" || { echo "FAIL: no package"; exit 1; }
echo "package: $(basename "$deb"), $(dpkg-deb -f "$deb" Depends)"
wpk="$work/root/usr/bin/wpk"
for f in usr/share/wpk/WBOOT.EXE usr/share/wpk/allowed_imports.tsv usr/share/man/man1/wpk.1.gz \
  usr/share/bash-completion/completions/wpk; do
  [ -f "$work/root/$f" ] || fail "the package lacks $f"
done
dpkg-deb -f "$deb" Depends | grep -q 'xorriso.*osslsigncode' || fail "it does not depend on xorriso and osslsigncode"

# A medium from the installed layout: its own WBOOT.EXE, found beside it.
mkdir -p "$work/tree" && cp "$program" "$work/tree/W_SETUP.EXE"
"$wpk" medium -q "$work/medium" "$work/tree" || fail "the installed wpk made no medium"
cmp -s "$work/medium/W_SETUP.WPK" /dev/null && fail "empty archive"
"$wpk" check "$work/medium" | grep -q "bound to W_SETUP.WPK: the digest matches" ||
  fail "the installed wpk's medium is not bound"

# Every option any command's help prints is in the manual page.
# The page's roff with its escapes of fonts and hyphens taken out.
page=$(gzip -dc "$work/root/usr/share/man/man1/wpk.1.gz" | sed 's/\\f[BIRP]//g; s/\\-/-/g; s/^\.SH "*//; s/"$//')
commands=$("$wpk" --help | sed -n '/^commands:$/,/^$/s/^  \([a-z]*\) .*/\1/p')
[ -n "$commands" ] || fail "no commands in wpk --help"
for c in $commands; do
  for option in $("$wpk" "$c" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "$option" <<<"$page" || fail "the manual page lacks $c's $option"
  done
  grep -q "^WPK ${c^^}" <<<"$page" || fail "the manual page has no section for $c"
done
grep -q "^EXIT STATUS" <<<"$page" && grep -q "SOURCE_DATE_EPOCH" <<<"$page" ||
  fail "the manual page lacks its exit status or environment"
[ "$failures" = 0 ] && echo "package and manual page: every check passed"
exit $((failures > 0))
