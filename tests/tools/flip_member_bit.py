#!/usr/bin/env python3
"""Writes a copy of an archive with one bit flipped inside one member's coded
stream, chosen so that the damage is silent without checksums: with the
archive's checksum mark cleared, `wpk test` passes and `wpk extract` gives
the member other bytes. Prints the flipped offset.

Usage: flip_member_bit.py WPK ARCHIVE MEMBER OUT   (MEMBER as folder\\name)
"""
import os
import struct
import subprocess
import sys
import tempfile


def member_range(data, wanted):
    count = struct.unpack_from('<h', data, 56)[0]
    at, records = 58, []
    for _ in range(count):
        offset, _, _, flen, nlen = struct.unpack_from('<IIIBB', data, at)
        folder = data[at + 14:at + 14 + flen].decode('latin-1')
        name = data[at + 14 + flen:at + 14 + flen + nlen].decode('latin-1')
        records.append((offset, folder + '\\' + name if folder else name))
        at += 14 + flen + nlen
    base = struct.unpack_from('<I', data, at)[0]
    starts = sorted(base + o for o, _ in records) + [len(data)]
    start = next(base + o for o, n in records if n == wanted)
    return start, next(s for s in starts if s > start)


def extracted(wpk, archive, member, work):
    out = tempfile.mkdtemp(dir=work)
    subprocess.run([wpk, 'extract', '-q', archive, '-C', out], capture_output=True)
    path = os.path.join(out, *member.split('\\'))
    return open(path, 'rb').read() if os.path.exists(path) else None


def main():
    wpk, archive, member, out = sys.argv[1:5]
    data = bytearray(open(archive, 'rb').read())
    start, end = member_range(data, member)
    with tempfile.TemporaryDirectory() as work:
        good = extracted(wpk, archive, member, work)
        trial = os.path.join(work, 'trial.wpk')
        for at in range(end - 1, start + 4, -1):
            flipped = bytearray(data)
            flipped[at] ^= 0x08
            unmarked = bytearray(flipped)
            unmarked[54:56] = b'\0\0'
            open(trial, 'wb').write(unmarked)
            if subprocess.run([wpk, 'test', '-q', trial], capture_output=True).returncode != 0:
                continue
            if extracted(wpk, trial, member, work) not in (good, None):
                open(out, 'wb').write(flipped)
                print(at)
                return 0
    print('no silent flip found', file=sys.stderr)
    return 1


sys.exit(main())
