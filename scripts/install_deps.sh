#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the builds and tests need and the
# machine lacks. Safe to run again: it installs nothing that is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ python3 googletest libgtest-dev libbenchmark-dev lhasa
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 wine wine32:i386 xvfb xauth xdotool imagemagick
  fonts-liberation fonts-nanum locales xorriso
  osslsigncode openssl help2man dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
