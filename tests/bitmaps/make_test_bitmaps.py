#!/usr/bin/env python3
"""Writes the small bitmaps that test_bitmaps decodes, one for each storage form and for each
quirk of the system's decoding that the POSIX decoder copies. Run it from this folder; the
files are committed, so the build needs no Python.

Every 8-bit palette here has non-grey entries and a non-zero fourth byte, and the padding at
row ends is 0xEE, so that a decoder reading the wrong entry, byte or stride shows."""
import random
import struct

random.seed(20240611)


def bmp(width, height, bits, compression, palette, pixels, colours_used=None, gap=b""):
    table = b"".join(struct.pack("<BBBB", b, g, r, 0x5A) for (r, g, b) in palette)
    offset = 14 + 40 + len(table) + len(gap)
    used = len(palette) if colours_used is None else colours_used
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, len(pixels), 2835, 2835, used, 0)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + table + gap + pixels


def write(name, data):
    with open(name, "wb") as f:
        f.write(data)


# Entry i is (3i + 1, 255 - i, 7i) mod 256: no two alike, none grey.
PALETTE = [((3 * i + 1) % 256, 255 - i, (7 * i) % 256) for i in range(256)]


def uncompressed8(width, height):
    stride = (width + 3) // 4 * 4
    return b"".join(bytes(random.randrange(256) for _ in range(width)) + b"\xee" * (stride - width) for _ in range(height))


def uncompressed24(width, height):
    stride = (width * 3 + 3) // 4 * 4
    return b"".join(bytes(random.randrange(256) for _ in range(3 * width)) + b"\xee" * (stride - 3 * width)
                    for _ in range(height))


write("pal8_odd.bmp", bmp(5, 3, 8, 0, PALETTE, uncompressed8(5, 3)))
# No colour count in the header: 256 entries.
write("pal8_wide.bmp", bmp(37, 11, 8, 0, PALETTE, uncompressed8(37, 11), colours_used=0))
write("rgb24_odd.bmp", bmp(3, 2, 24, 0, [], uncompressed24(3, 2)))
write("rgb24_wide.bmp", bmp(29, 7, 24, 0, [], uncompressed24(29, 7)))

# 16 entries only; indices 16 and above are black. 4 x 2, bottom row first.
write("pal8_short_palette.bmp", bmp(4, 2, 8, 0, PALETTE[:16], bytes([0, 15, 16, 255, 200, 3, 17, 1])))

# The pixels follow the colour table; the file's own pixel offset (past 4 bytes of 2) is
# not used, as for a bitmap resource, which has no file header.
write("pal8_gap.bmp", bmp(2, 1, 8, 0, PALETTE[:3], bytes([0, 1, 0xEE, 0xEE]), gap=bytes([2, 2, 2, 2])))

# RLE8, 6 x 4, bottom row first:
#   row 0: run 3 x 9, absolute 1 2 3 (padded to a word), end of line
#   row 1: run 2 x 5, delta (2, 1) to row 2 column 4
#   row 2: run 1 x 6, end of line
#   row 3: absolute 10 11 12 13, run 2 x 14, end of bitmap
write("rle8_escapes.bmp", bmp(6, 4, 8, 1, PALETTE, bytes([
    3, 9, 0, 3, 1, 2, 3, 0, 0, 0,
    2, 5, 0, 2, 2, 1,
    1, 6, 0, 0,
    0, 4, 10, 11, 12, 13, 2, 14, 0, 1])))

# RLE8, 4 x 3: runs and deltas that reach past the row end are cut there, not wrapped (what
# would wrap lands on pixels nothing else draws).
#   row 0: run 6 x 3, end of line
#   row 1: delta (2, 0), absolute 7 8 9 10 11 (padded), end of line
#   row 2: delta (3, 0), run 1 x 4, delta (9, 0), run 2 x 5, end of bitmap
write("rle8_clipped.bmp", bmp(4, 3, 8, 1, PALETTE, bytes([
    6, 3, 0, 0,
    0, 2, 2, 0, 0, 5, 7, 8, 9, 10, 11, 0, 0, 0,
    0, 2, 3, 0, 1, 4, 0, 2, 9, 0, 2, 5, 0, 1])))

# RLE8, 3 x 2, data ending without an end of bitmap: row 0 ends with an end of line and is
# drawn; row 1's run has nothing after it and is not.
write("rle8_unterminated.bmp", bmp(3, 2, 8, 1, PALETTE, bytes([2, 4, 0, 0, 3, 6])))

# RLE8, 3 x 2, breaking off in an absolute run of 5 with 2 bytes left: as the data ending
# there, row 0 is drawn, and neither row 1's run nor the broken absolute run.
write("rle8_truncated.bmp", bmp(3, 2, 8, 1, PALETTE, bytes([3, 4, 0, 0, 1, 7, 0, 5, 1, 2])))


# RLE8 of random content, 61 x 29, and the same picture uncompressed. Every row is encoded as
# runs, absolute runs (odd and even lengths) and deltas, ended by an end of line (or by a
# delta into the next rows). Pixels a delta skips are black; the uncompressed twin gives them
# palette entry 0, which is made black there (the compressed file's entry 0 is not black, so
# a decoder filling skipped pixels with entry 0 fails).
def random_rle(width, height):
    skipped = -1
    picture = [[skipped] * width for _ in range(height)]
    out = bytearray()
    x = y = 0
    while y < height:
        if x >= width:
            out += bytes([0, 0])
            x, y = 0, y + 1
            continue
        kind = random.random()
        left = width - x
        if kind < 0.4:
            n = random.randint(1, min(left, 12))
            v = random.randrange(1, 256)
            out += bytes([n, v])
            for i in range(n):
                picture[y][x + i] = v
            x += n
        elif kind < 0.8 and left >= 3:
            n = random.randint(3, min(left, 9))
            vals = [random.randrange(1, 256) for _ in range(n)]
            out += bytes([0, n] + vals + ([0] if n % 2 else []))
            for i in range(n):
                picture[y][x + i] = vals[i]
            x += n
        elif kind < 0.9:
            dx = random.randint(0, left)
            dy = random.choice([0, 0, 1, 2])
            if y + dy >= height:
                dy = 0
            out += bytes([0, 2, dx, dy])
            x, y = x + dx, y + dy
        else:
            out += bytes([0, 0])
            x, y = 0, y + 1
    out += bytes([0, 1])
    return picture, bytes(out)


picture, stream = random_rle(61, 29)
write("rle8_random.bmp", bmp(61, 29, 8, 1, PALETTE, stream))
twin_palette = [(0, 0, 0)] + PALETTE[1:]
stride = (61 + 3) // 4 * 4
twin = b"".join(bytes(max(v, 0) for v in row) + b"\xee" * (stride - 61) for row in picture)
write("rle8_random_plain.bmp", bmp(61, 29, 8, 0, twin_palette, twin))
