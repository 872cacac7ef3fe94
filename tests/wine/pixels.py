#!/usr/bin/env python3
"""Pixel checks on screenshots for the Wine tests (no PIL here).

    pixels.py size FILE                 -> "W H"
    pixels.py rgb FILE X Y              -> "R G B"
    pixels.py row-blue FILE Y           -> most common blue level in row Y
    pixels.py row-mode FILE Y           -> most common "R G B" in row Y
    pixels.py count FILE Y0 Y1 R G B    -> pixels of exactly (R,G,B) in rows Y0..Y1 (inclusive)
    pixels.py rows FILE R G B           -> "Y N" for every row holding that colour
    pixels.py gradient FILE [TOL]       -> checks row-blue(y) == y*256/H (clamped to 255) for
                                           every row, within TOL (default 0); prints the bad
                                           rows and exits 1 if any
    pixels.py diff FILE X0 Y0 X1 Y1 W H -> pixels that differ between two W x H areas
    pixels.py dark FILE X0 Y0 X1 Y1 [LIMIT] -> pixels in the box whose R+G+B < LIMIT (default 384)
    pixels.py xor FILE FILE2 R G B      -> "N1 N2 X": pixels of exactly (R,G,B) in each file,
                                           and pixels where only one of the two has it

Pixels are read through ImageMagick (convert FILE -depth 8 ppm:-, the same
bytes as rgb:- behind a header that gives the size); /usr/bin/convert is
called by full path on purpose.
"""
import collections
import signal
import subprocess
import sys

CONVERT = "/usr/bin/convert"


def load(path):
    # one ImageMagick call: a binary PPM carries the size in its header
    data = subprocess.run([CONVERT, path, "-depth", "8", "ppm:-"],
                          check=True, capture_output=True).stdout
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1  # the single whitespace after maxval
    if fields[0] != b"P6" or fields[3] != b"255":
        raise SystemExit("pixels.py: unexpected PPM header %r" % fields)
    w, h = int(fields[1]), int(fields[2])
    pixels = data[pos:]
    if len(pixels) != w * h * 3:
        raise SystemExit("pixels.py: unexpected data size %d for %dx%d" % (len(pixels), w, h))
    return w, h, pixels


def px(img, x, y):
    w, h, data = img
    if not (0 <= x < w and 0 <= y < h):
        raise SystemExit("pixels.py: (%d,%d) outside %dx%d" % (x, y, w, h))
    i = (y * w + x) * 3
    return data[i], data[i + 1], data[i + 2]


def row(img, y):
    w, h, data = img
    if not 0 <= y < h:
        raise SystemExit("pixels.py: row %d outside height %d" % (y, h))
    base = y * w * 3
    return [tuple(data[base + 3 * x: base + 3 * x + 3]) for x in range(w)]


def mode(values):
    # ties go to the smallest value so the answer is stable
    counts = collections.Counter(values)
    best = max(counts.values())
    return min(v for v, c in counts.items() if c == best)


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    cmd, path = argv[1], argv[2]
    args = [int(a) for a in argv[3:]] if cmd != "xor" else []
    img = load(path)
    w, h, _ = img
    if cmd == "size":
        print(w, h)
    elif cmd == "rgb":
        print(*px(img, args[0], args[1]))
    elif cmd == "row-blue":
        print(mode([p[2] for p in row(img, args[0])]))
    elif cmd == "row-mode":
        print(*mode(row(img, args[0])))
    elif cmd == "count":
        y0, y1, colour = args[0], args[1], tuple(args[2:5])
        print(sum(1 for y in range(y0, y1 + 1) for p in row(img, y) if p == colour))
    elif cmd == "rows":
        colour = tuple(args[0:3])
        for y in range(h):
            n = sum(1 for p in row(img, y) if p == colour)
            if n:
                print(y, n)
    elif cmd == "gradient":
        tol = args[0] if args else 0
        bad = 0
        for y in range(h):
            want = min(255, y * 256 // h)
            got = mode([p[2] for p in row(img, y)])
            if abs(got - want) > tol:
                bad += 1
                if bad <= 10:
                    print("row %d: blue %d, expected %d" % (y, got, want))
        if bad:
            print("%d bad rows" % bad)
            return 1
        print("ok %d rows" % h)
    elif cmd == "xor":
        colour = bytes(int(a) for a in argv[4:7])
        other = load(argv[3])
        if other[0:2] != (w, h):
            raise SystemExit("pixels.py: %s is not %dx%d" % (argv[3], w, h))
        mine = [img[2][i:i + 3] == colour for i in range(0, w * h * 3, 3)]
        theirs = [other[2][i:i + 3] == colour for i in range(0, w * h * 3, 3)]
        print(sum(mine), sum(theirs), sum(a != b for a, b in zip(mine, theirs)))
    elif cmd == "diff":
        x0, y0, x1, y1, dw, dh = args
        print(sum(1 for y in range(dh) for x in range(dw)
                  if px(img, x0 + x, y0 + y) != px(img, x1 + x, y1 + y)))
    elif cmd == "dark":
        x0, y0, x1, y1 = args[0:4]
        limit = args[4] if len(args) > 4 else 384
        print(sum(1 for y in range(y0, y1 + 1) for x in range(x0, x1 + 1)
                  if sum(px(img, x, y)) < limit))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    sys.exit(main(sys.argv))
