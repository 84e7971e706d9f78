#!/usr/bin/env python3
"""Writes the program's bitmap and icon "Tallydsk" (tallydsk.bmp, tallydsk.ico) beside itself.

The bitmap is the 8 by 8 background pattern: diagonal stripes in blue, navy, teal and dark
green, each row the one above shifted one pixel to the right. The icon is a 32 by 32 printer with
a sheet coming out of it and a coin in front. Both use the 16-colour VGA palette.
"""
import os
import struct

PALETTE = [  # (r, g, b), the standard 16-colour palette
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, OLIVE, NAVY, TEAL, SILVER, GREY = 0, 2, 3, 4, 6, 7, 8
YELLOW, BLUE, WHITE = 11, 12, 15


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)


def pack_4bpp(rows):
    """Bottom-up rows of palette indexes, each row padded to 4 bytes."""
    data = b""
    for row in reversed(rows):
        packed = bytes((row[i] << 4) | row[i + 1] for i in range(0, len(row), 2))
        data += packed + b"\0" * (-len(packed) % 4)
    return data


def info_header(width, height, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_size, 0, 0, 16, 16)


def stripes():
    run = [BLUE, BLUE, NAVY, NAVY, TEAL, TEAL, DARK_GREEN, DARK_GREEN]
    return [[run[(x - y) % 8] for x in range(8)] for y in range(8)]


def write_bitmap(path):
    pixels = pack_4bpp(stripes())
    header = info_header(8, 8, len(pixels)) + palette_bytes()
    offset = 14 + len(header)
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset))
        f.write(header + pixels)


def icon_picture():
    """32x32 palette indexes, None where the icon is transparent."""
    img = [[None] * 32 for _ in range(32)]

    def box(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                img[y][x] = colour

    box(9, 2, 22, 11, BLACK)  # the sheet, with an outline
    box(10, 3, 21, 11, WHITE)
    for y in (5, 7, 9):
        box(12, y, 19, y, GREY)
    box(3, 11, 28, 23, BLACK)  # the printer body
    box(4, 12, 27, 22, SILVER)
    box(4, 12, 27, 13, GREY)
    box(7, 18, 20, 19, BLACK)  # the paper slot
    box(24, 15, 25, 16, DARK_GREEN)  # the power light
    cx, cy, r = 23, 24, 6.5  # the coin in front
    for y in range(32):
        for x in range(32):
            d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
            if d <= r:
                img[y][x] = OLIVE if d > r - 1.3 else YELLOW
    box(22, 21, 24, 21, OLIVE)
    box(22, 22, 22, 26, OLIVE)
    box(22, 27, 24, 27, OLIVE)
    return img


def write_icon(path):
    img = icon_picture()
    xor = pack_4bpp([[c if c is not None else BLACK for c in row] for row in img])
    mask = b""
    for row in reversed(img):
        bits = 0
        for x, c in enumerate(row):
            if c is None:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    body = info_header(32, 64, len(xor) + len(mask)) + palette_bytes() + xor + mask
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1))
        f.write(struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(body), 6 + 16))
        f.write(body)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    write_bitmap(os.path.join(here, "tallydsk.bmp"))
    write_icon(os.path.join(here, "tallydsk.ico"))
