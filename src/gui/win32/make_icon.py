#!/usr/bin/env python3
"""Draws the program's icon (a white magnifier on a blue rounded square, as the
Qt window draws it) and writes it as a Windows icon file with a 32 x 32 and a
16 x 16 image, 32 bits per pixel.

    python3 make_icon.py quorvane.ico
"""
import math
import struct
import sys

BLUE = (0, 0, 255)
WHITE = (255, 255, 255)
SAMPLES = 4  # per axis and pixel, for smooth edges


def inside_rounded_square(x, y):
    # The square 1..31 with corners of radius 6, in 32-pixel units.
    lo, hi, r = 1.0, 31.0, 6.0
    cx = min(max(x, lo + r), hi - r)
    cy = min(max(y, lo + r), hi - r)
    return lo <= x <= hi and lo <= y <= hi and (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def on_magnifier(x, y):
    # A ring of radius 9 and width 4 around (16, 15), and a handle from
    # (19, 19) to (26, 27) as thick.
    ring = abs(math.hypot(x - 16.0, y - 15.0) - 9.0) <= 2.0
    ax, ay, bx, by = 19.0, 19.0, 26.0, 27.0
    t = ((x - ax) * (bx - ax) + (y - ay) * (by - ay)) / ((bx - ax) ** 2 + (by - ay) ** 2)
    t = min(max(t, 0.0), 1.0)
    handle = math.hypot(x - (ax + t * (bx - ax)), y - (ay + t * (by - ay))) <= 2.0
    return ring or handle


def pixel(size, px, py):
    """Blue, white and coverage of one pixel as (r, g, b, a)."""
    scale = 32.0 / size
    covered = white = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) * scale
            y = (py + (sy + 0.5) / SAMPLES) * scale
            if inside_rounded_square(x, y):
                covered += 1
                if on_magnifier(x, y):
                    white += 1
    if covered == 0:
        return (0, 0, 0, 0)
    share = white / covered
    colour = [round(b + (w - b) * share) for b, w in zip(BLUE, WHITE)]
    return (*colour, round(255 * covered / SAMPLES ** 2))


def image(size):
    """One icon image: a bottom-up 32-bit bitmap and its AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    mask_rows = []
    mask_stride = ((size + 31) // 32) * 4
    for py in reversed(range(size)):
        row = bytearray()
        mask = bytearray(mask_stride)
        for px in range(size):
            r, g, b, a = pixel(size, px, py)
            row += bytes((b, g, r, a))
            if a == 0:
                mask[px // 8] |= 0x80 >> (px % 8)
        rows.append(bytes(row))
        mask_rows.append(bytes(mask))
    return header + b"".join(rows) + b"".join(mask_rows)


def main():
    sizes = (32, 16)
    images = [image(size) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
