#!/usr/bin/env bash
# The real-file benchmark set: about 20 MB of files that every Debian 12
# machine with the project's packages (scripts/install_deps.sh) has, chosen
# by a fixed rule, so that it is the same set on every fresh machine.
#
# usage: real_set.sh OUT_DIR
#
# Copies the files into OUT_DIR/exe, OUT_DIR/lib and OUT_DIR/text, each under
# its own path (OUT_DIR/exe/usr/bin/ls), and prints one line per kind.
#
# The rule. Files come only from these packages, each installed by a package
# of install_deps.sh or a package that one depends on:
#   exe   ELF files in /usr/bin          coreutils (essential), binutils-x86-64-linux-gnu
#                                        (g++), cmake, ninja-build, lhasa
#   lib   ELF and PE (Windows) shared    libc6:amd64, libstdc++6:amd64 (g++),
#         libraries under /usr/lib       libpython3.11-stdlib:amd64 (python3),
#                                        libwine:i386 (wine32:i386)
#   text  documentation text: CMake's    cmake-data (cmake)
#         reStructuredText help (.rst)
#         and its modules (.cmake, code
#         with long documentation comments)
# A package's files are what `dpkg -L` lists, with /bin and /lib resolved to
# /usr (merged /usr). Of each kind, the regular files of 1 KB to 2 MB, tested
# by their first bytes (ELF: 7F 45 4C 46; PE: "MZ") or names (text),
# are ordered by the MD5 of their path (a fixed shuffle that mixes the
# packages) and taken in that order, each file that would take the kind's
# total past its budget left out: 7 MB exe, 7 MB lib, 6 MB text (10^6 bytes).
#
# The bytes are those of the installed package versions; the last line gives
# an MD5 of the whole set, to tell whether two machines measured the same.
set -euo pipefail

if [[ $# -ne 1 ]]; then
    echo "usage: $0 OUT_DIR" >&2
    exit 2
fi
OUT=$1

die() { echo "real_set: $*" >&2; exit 1; }

# kind, budget in bytes, packages
KINDS=(
    "exe 7000000 coreutils binutils-x86-64-linux-gnu cmake ninja-build lhasa"
    "lib 7000000 libc6:amd64 libstdc++6:amd64 libpython3.11-stdlib:amd64 libwine:i386"
    "text 6000000 cmake-data"
)

mkdir -p "$OUT"
for line in "${KINDS[@]}"; do
    read -r kind budget packages <<<"$line"
    for package in $packages; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
            die "package $package is not installed (run scripts/install_deps.sh)"
    done
    # shellcheck disable=SC2086 # the package names are words
    dpkg -L $packages | python3 -c '
import hashlib, os, shutil, sys
kind, budget, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
MIN_SIZE, MAX_SIZE = 1024, 2000000

def of_kind(path):
    if kind == "text":
        return path.startswith("/usr/share/cmake-") and (
            ("/Help/" in path and path.endswith(".rst")) or
            ("/Modules/" in path and path.endswith(".cmake")))
    with open(path, "rb") as f:
        magic = f.read(4)
    name = os.path.basename(path)
    if kind == "exe":
        return path.startswith("/usr/bin/") and magic == b"\x7fELF"
    return path.startswith("/usr/lib/") and (
        (".so" in name and magic == b"\x7fELF") or (name.endswith(".dll") and magic[:2] == b"MZ"))

paths = set()
for listed in sys.stdin.read().splitlines():
    if os.path.isfile(listed) and not os.path.islink(listed):
        paths.add(os.path.realpath(listed))  # merged /usr: /bin/ls is /usr/bin/ls
order = sorted(paths, key=lambda p: hashlib.md5(p.encode()).hexdigest())
total = taken = 0
for path in order:
    size = os.path.getsize(path)
    if size < MIN_SIZE or size > MAX_SIZE or total + size > budget or not of_kind(path):
        continue
    target = os.path.join(out, kind + path)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    shutil.copy2(path, target)
    total += size
    taken += 1
if not taken:
    sys.exit("real_set: no %s files found" % kind)
print("%s: %d files, %d bytes" % (kind, taken, total))
' "$kind" "$budget" "$OUT" || die "selecting the $kind files failed"
done
sum=$(cd "$OUT" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum | md5sum | cut -c1-16)
echo "set digest: $sum"
