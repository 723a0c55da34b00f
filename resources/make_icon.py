#!/usr/bin/env python3
"""Writes Korvane.ico: a target with a crosshair, 32x32 and 16x16, 16 colours.

Deterministic: the same file on every run. Usage: make_icon.py [output]
"""
import math
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_RED, NAVY, RED, WHITE = 0, 1, 4, 9, 15
CLEAR = None


def pixel(size, x, y):
    """Colour index of one pixel, or CLEAR outside the target."""
    c = (size - 1) / 2.0
    dx, dy = x - c, y - c
    r = math.hypot(dx, dy) * 32.0 / size  # radius in 32-pixel units
    mid = size // 2
    on_cross = (x in (mid - 1, mid) or y in (mid - 1, mid)) if size >= 32 else (x == mid or y == mid)
    gap = 5.0 if size >= 32 else 6.0
    if on_cross and gap < r <= 16.0:
        return NAVY
    if r > 15.6:
        return CLEAR
    if r > 14.2:
        return DARK_RED
    for limit, colour in ((11.5, RED), (8.0, WHITE), (4.5, RED), (2.0, WHITE), (0.0, RED)):
        if r > limit:
            return colour
    return WHITE


def image(size):
    rows_xor, rows_and = [], []
    for y in reversed(range(size)):  # bottom-up
        colours = [pixel(size, x, y) for x in range(size)]
        nibbles = [0 if c is CLEAR else c for c in colours]
        row = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        rows_xor.append(row + b"\0" * (-len(row) % 4))
        bits = 0
        mask = bytearray()
        for i, c in enumerate(colours):
            bits = (bits << 1) | (1 if c is CLEAR else 0)
            if i % 8 == 7:
                mask.append(bits)
                bits = 0
        rows_and.append(bytes(mask) + b"\0" * (-len(mask) % 4))
    xor = b"".join(rows_xor)
    and_mask = b"".join(rows_and)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(and_mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + xor + and_mask


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "Korvane.ico"
    images = [image(32), image(16)]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, img in zip((32, 16), images):
        data += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(img), offset)
        offset += len(img)
    data += b"".join(images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
