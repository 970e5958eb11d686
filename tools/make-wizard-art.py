#!/usr/bin/env python3
"""Draws the wizard's side picture: a quill over a night-blue sky that pales
toward the bottom, in the 16 colours of the standard palette.

Writes resources/Wizard.bmp (122 x 262, 4 bits a pixel). Run from the project
root; the result is committed, so the build needs no Python.
"""
import math
import struct

W, H = 122, 262
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BAYER = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def colour(x, y):
    """The wanted colour of a pixel before it is reduced to the palette."""
    v = y / (H - 1)
    sky = (int(10 + 40 * v), int(20 + 90 * v), int(90 + 120 * v))
    # the quill: a slanted feather from lower left to upper right
    u = (x - 20) / 90.0
    t = (H - 40 - y) / 200.0
    along = (u + t) / 2
    across = (t - u)
    if 0.0 <= along <= 1.0:
        width = 0.16 * math.sin(math.pi * min(1.0, along * 1.15))
        if abs(across) < width:
            shade = 235 - int(60 * abs(across) / max(width, 1e-6))
            return (shade, shade, shade)
        if abs(across) < 0.012 and along < 0.1:
            return (60, 60, 60)
    # a few stars in the upper sky
    if y < 110 and (x * 7 + y * 13) % 97 == 0:
        return (255, 255, 255)
    return sky


def nearest(c, threshold):
    best, index = None, 0
    for i, p in enumerate(PALETTE):
        d = sum((c[k] + threshold - p[k]) ** 2 for k in range(3))
        if best is None or d < best:
            best, index = d, i
    return index


def main():
    rows = []
    for y in range(H - 1, -1, -1):  # bottom-up
        idx = [nearest(colour(x, y), (BAYER[y % 4][x % 4] - 7.5) * 6) for x in range(W)]
        if len(idx) % 2:
            idx.append(0)
        row = bytes((idx[i] << 4) | idx[i + 1] for i in range(0, len(idx), 2))
        row += b"\0" * ((4 - len(row) % 4) % 4)
        rows.append(row)
    pixels = b"".join(rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 4, 0, len(pixels), 2835, 2835, 16, 16)
    offset = 14 + len(header) + len(palette)
    filehdr = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open("resources/Wizard.bmp", "wb") as f:
        f.write(filehdr + header + palette + pixels)


if __name__ == "__main__":
    main()
