#!/usr/bin/env python3
"""Draws the program icon: an open parcel with a green arrow going into it.

Writes one .ico holding three 256-colour (8 bits per pixel) images of 48, 32 and 16 pixels.
Usage: make_icon.py OUT.ico
"""
import struct
import sys

# Palette index -> (r, g, b); every unused entry stays black.
PALETTE = {
    0: (0, 0, 0),
    1: (120, 78, 38),    # box outline
    2: (205, 150, 90),   # box front
    3: (170, 118, 62),   # box side / flaps
    4: (30, 140, 60),    # arrow
    5: (20, 90, 40),     # arrow outline
    6: (245, 225, 180),  # tape
}
TRANSPARENT = None


def draw(size):
    """Returns size x size rows of palette indexes (None = transparent), top row first."""
    s = size / 48.0
    px = [[TRANSPARENT] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, c):
        for y in range(max(0, int(y0 * s)), min(size, int(round(y1 * s)))):
            for x in range(max(0, int(x0 * s)), min(size, int(round(x1 * s)))):
                px[y][x] = c

    # The box body and its flaps.
    rect(6, 20, 42, 46, 1)
    rect(8, 22, 40, 44, 2)
    rect(8, 22, 40, 25, 3)
    rect(21, 25, 27, 44, 6)
    rect(2, 16, 16, 21, 1)
    rect(32, 16, 46, 21, 1)
    rect(3, 17, 15, 20, 3)
    rect(33, 17, 45, 20, 3)
    # The arrow pointing down into the box.
    rect(19, 1, 29, 15, 5)
    rect(21, 2, 27, 15, 4)
    for i in range(9):
        rect(13 + i, 13 + i, 35 - i, 14 + i, 5)
        rect(15 + i, 13 + i, 33 - i, 14 + i, 4)
    return px


def image(size):
    rows = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    palette = b"".join(struct.pack("<BBBB", *(PALETTE.get(i, (0, 0, 0))[::-1] + (0,)))
                       for i in range(256))
    stride = (size + 3) & ~3
    mask_stride = ((size + 31) // 32) * 4
    xor = b""
    mask = b""
    for row in reversed(rows):  # bottom-up
        xor += bytes(c or 0 for c in row) + b"\0" * (stride - size)
        line = bytearray(mask_stride)
        for x, c in enumerate(row):
            if c is TRANSPARENT:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
    return header + palette + xor + mask


def main():
    sizes = (48, 32, 16)
    images = [image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
