#!/usr/bin/env python3
"""Draw the setup starter's icon and write it as res/install_icon.ico.

The icon is a blue 3.5" disk with a yellow lightning bolt across its label
(the "line" in serial-line communications).  It is drawn as pixel art for
two sizes and stored as four classic BMP-in-ICO images, in this order:

    32x32, 16 colours  (4 bpp)
    32x32, 256 colours (8 bpp)
    16x16, 16 colours  (4 bpp)
    16x16, 256 colours (8 bpp)

Each image is a BITMAPINFOHEADER (with the height doubled to cover the mask),
a colour table, the XOR bitmap and a 1 bpp AND mask; both bitmaps are stored
bottom-up with every row padded to a multiple of four bytes.  Pixels drawn as
'.' are transparent: AND bit set, XOR colour index 0.

Only the standard library is used and nothing depends on time, locale or
dictionary ordering, so running the script twice gives the same bytes.

Usage:  python3 res/make_icon.py [output.ico]
"""

import os
import struct
import sys

# ---------------------------------------------------------------------------
# Artwork.  One character per pixel, top row first.
#
#   .  transparent            K  outline (black)
#   B  disk body              L  body highlight       b  body shadow
#   S  metal shutter          W  shutter shine/label  k  shutter edge
#   s  shutter window         w  label ruling
#   Y  lightning bolt         o  bolt outline
# ---------------------------------------------------------------------------

ART_32 = [
    "................................",
    "..KKKKKKKKKKKKKKKKKKKKKKKKK.....",
    ".KLLLLLLkWSSSSSSSSSSSSkLLLKK....",
    ".KLBBBBBkWSSSSSSSssssSkBBBBKK...",
    ".KLBBBBBkWSSSSSSSssssSkBBBBBKK..",
    ".KLBBBBBkWSSSSSSSssssSkBBBBBBKK.",
    ".KLBBBBBkWSSSSSSSssssSkBBBBBBbK.",
    ".KLBBBBBkWSSSSSSSssssSkBBBBBBbK.",
    ".KLBBBBBkWSSSSSSSssssSkBBBBBBbK.",
    ".KLBBBBBkWSSSSSSSssssSkBBBBBBbK.",
    ".KLBBBBBkWSSSSSSSssssSkBBBBBBbK.",
    ".KLBBBBBkWSSSSSSSSSSSSkBBBBBBbK.",
    ".KLBBBBBkkkkkkkkkkkkkkkBBBBBBbK.",
    ".KLBBBBBBBBBBBBBBBBBBBBBBBBBBbK.",
    ".KLBBBBBBBBBBBBoooooooooBBBBBbK.",
    ".KLBBKKKKKKKKKooYYYYYYYoKKKBBbK.",
    ".KLBBKWWWWWWWWoYYYYYYYooWWKBBbK.",
    ".KLBBKWWWWWWWooYYYYYYooWWWKBBbK.",
    ".KLBBKWWwwwwooYYYYYYYowwWWKBBbK.",
    ".KLBBKWWWWWWoYYYYYYYooWWWWKBBbK.",
    ".KLBBKWWWWWooYYYYYYooooWWWKBBbK.",
    ".KLBBKWWwwwoYYYYYYYYYYowWWKBBbK.",
    ".KLBBKWWWWooYYYYYYYYYooWWWKBBbK.",
    ".KLBBKWWWWoYYYYYYYYYooWWWWKBBbK.",
    ".KLBBKWWwwooooYYYYooowwwWWKBBbK.",
    ".KLBBKWWWWWWooYYYooWWWWWWWKBBbK.",
    ".KLBBKWWWWWWoYYYooWWWWWWWWKBBbK.",
    ".KLBBKWWwwwwoYYoowwwwwwwWWKBBbK.",
    ".KLBBKWWWWWooYooWWWWWWWWWWKBBbK.",
    ".KLbbKWWWWWoYooWWWWWWWWWWWKbbbK.",
    "..KKKKKKKKKKKKKKKKKKKKKKKKKKKK..",
    "................................",
]

ART_16 = [
    ".KKKKKKKKKKKK...",
    "KLLkWSSSssSkLK..",
    "KLBkWSSSssSkBBK.",
    "KLBkWSSSssSkBBbK",
    "KLBkWSSSssSkBBbK",
    "KLBkkkkkkkkkBBbK",
    "KLBBBBBBBoooBBbK",
    "KLBBBBBBoYYoBBbK",
    "KLBKKKKoYYoKKBbK",
    "KLBKWWoYYoooWBbK",
    "KLBKWoYYYYYoWBbK",
    "KLBKWoooYYoWWBbK",
    "KLBKWWoYYoWWWBbK",
    "KLBKWWoYoWWWWBbK",
    "KbbKWoYoWWWWWbbK",
    ".KKKKKKKKKKKKKK.",
]

# The 16 colours every Windows display can show; index order is the usual
# VGA/Windows order so the 4 bpp images look right on any palette device.
WINDOWS_16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

BLACK, NAVY, SILVER, GRAY, YELLOW, BLUE, WHITE = 0, 4, 7, 8, 11, 12, 15

# Colour index for each art character in the 16 colour images.
COLOURS_4 = {
    "K": BLACK,
    "B": BLUE,
    "L": BLUE,
    "b": NAVY,
    "S": SILVER,
    "W": WHITE,
    "k": GRAY,
    "s": BLACK,
    "w": SILVER,
    "Y": YELLOW,
    "o": BLACK,
}

# True colours for the 256 colour images.  The body is shaded separately.
COLOURS_8 = {
    "K": (0x10, 0x14, 0x28),
    "L": (0x8C, 0xB4, 0xF5),
    "b": (0x14, 0x2C, 0x82),
    "S": (0xC8, 0xCC, 0xD4),
    "W": (0xFC, 0xFC, 0xFC),
    "k": (0x70, 0x74, 0x80),
    "s": (0x38, 0x3C, 0x48),
    "w": (0xB4, 0xC8, 0xEC),
    "Y": (0xFF, 0xD8, 0x20),
    "o": (0x5C, 0x38, 0x00),
}

BODY_LIGHT = (0x50, 0x8C, 0xF0)
BODY_DARK = (0x1E, 0x46, 0xB4)


def colour_8(ch, x, y, size):
    """Colour of one pixel in the 256 colour images."""
    if ch != "B":
        return COLOURS_8[ch]
    # Diagonal gradient, light at the top left, in exact integer steps.
    span = 2 * (size - 1)
    t = x + y
    return tuple((a * (span - t) + b * t + span // 2) // span
                 for a, b in zip(BODY_LIGHT, BODY_DARK))


# ---------------------------------------------------------------------------
# ICO writing
# ---------------------------------------------------------------------------

def check_art(art, size):
    if len(art) != size or any(len(row) != size for row in art):
        raise ValueError("artwork must be %dx%d" % (size, size))
    for row in art:
        for ch in row:
            if ch != "." and ch not in COLOURS_4:
                raise ValueError("unknown art character %r" % ch)


def build_palette(art, size, bpp):
    """Return (palette, index_rows) for one image."""
    if bpp == 4:
        palette = list(WINDOWS_16)
        rows = [[0 if ch == "." else COLOURS_4[ch] for ch in row] for row in art]
        return palette, rows

    # 8 bpp: keep the Windows 16 at the front, then add every other colour in
    # the order it first appears (top row first), then pad with black.
    palette = list(WINDOWS_16)
    lookup = {c: i for i, c in enumerate(palette)}
    rows = []
    for y, row in enumerate(art):
        out = []
        for x, ch in enumerate(row):
            if ch == ".":
                out.append(0)
                continue
            c = colour_8(ch, x, y, size)
            if c not in lookup:
                if len(palette) == 256:
                    raise ValueError("more than 256 colours")
                lookup[c] = len(palette)
                palette.append(c)
            out.append(lookup[c])
        rows.append(out)
    palette += [(0, 0, 0)] * (256 - len(palette))
    return palette, rows


def pack_row(values, bpp):
    """Pack one row of pixel values MSB first and pad it to 4 bytes."""
    out = bytearray()
    per_byte = 8 // bpp
    for i in range(0, len(values), per_byte):
        byte = 0
        for j in range(per_byte):
            v = values[i + j] if i + j < len(values) else 0
            byte = (byte << bpp) | v
        out.append(byte)
    while len(out) % 4:
        out.append(0)
    return bytes(out)


def build_image(art, size, bpp):
    """Return the bytes of one icon image (header, colours, XOR, AND)."""
    check_art(art, size)
    palette, rows = build_palette(art, size, bpp)

    xor_bits = b"".join(pack_row(rows[y], bpp) for y in reversed(range(size)))
    and_bits = b"".join(pack_row([1 if ch == "." else 0 for ch in art[y]], 1)
                        for y in reversed(range(size)))

    header = struct.pack(
        "<IiiHHIIiiII",
        40,                       # biSize
        size,                     # biWidth
        size * 2,                 # biHeight: XOR bitmap plus AND mask
        1,                        # biPlanes
        bpp,                      # biBitCount
        0,                        # biCompression = BI_RGB
        len(xor_bits) + len(and_bits),  # biSizeImage
        0, 0,                     # no resolution
        0, 0)                     # biClrUsed / biClrImportant: full table
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    return header + colours + xor_bits + and_bits


def build_ico(images):
    """images: list of (size, bpp, image_bytes)."""
    count = len(images)
    out = bytearray(struct.pack("<HHH", 0, 1, count))   # ICONDIR, type 1 = icon
    offset = 6 + 16 * count
    for size, bpp, data in images:
        out += struct.pack(
            "<BBBBHHII",
            size, size,
            (1 << bpp) if bpp < 8 else 0,   # bColorCount, 0 for 256 colours
            0,                              # reserved
            1,                              # wPlanes
            bpp,                            # wBitCount
            len(data),
            offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    return bytes(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "install_icon.ico")

    layout = [(ART_32, 32, 4), (ART_32, 32, 8), (ART_16, 16, 4), (ART_16, 16, 8)]
    images = [(size, bpp, build_image(art, size, bpp)) for art, size, bpp in layout]
    data = build_ico(images)

    with open(target, "wb") as f:
        f.write(data)
    print("wrote %s (%d bytes, %d images)" % (target, len(data), len(images)))


if __name__ == "__main__":
    main()
