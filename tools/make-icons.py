#!/usr/bin/env python3
"""Draws the program's icons: a white quill on a deep-blue rounded tile.

Writes resources/Quillset.ico (32x32 and 16x16), 32-bit images with an AND mask;
the small icon's group in Quillset.rc names its 16x16 image. Run from the project root; the
results are committed, so the build needs no Python.
"""
import math
import struct
import sys


def render(size):
    """Returns rows (top first) of (r, g, b, a) pixels, 4x supersampled."""
    ss = 4
    px = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(ss):
                for sx in range(ss):
                    u = (x + (sx + 0.5) / ss) / size
                    v = (y + (sy + 0.5) / ss) / size
                    c = shade(u, v)
                    if c:
                        a = c[3] / 255.0
                        for i in range(3):
                            acc[i] += c[i] * a
                        acc[3] += a
            n = ss * ss
            if acc[3] > 0:
                row.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]),
                            round(acc[2] / acc[3]), round(255 * acc[3] / n)))
            else:
                row.append((0, 0, 0, 0))
        px.append(row)
    return px


def shade(u, v):
    # rounded tile
    r = 0.18
    dx = max(abs(u - 0.5) - (0.5 - r) + 0.03, 0)
    dy = max(abs(v - 0.5) - (0.5 - r) + 0.03, 0)
    if dx * dx + dy * dy > r * r:
        return None
    top, bottom = (40, 90, 190), (16, 40, 110)
    t = v
    tile = tuple(round(top[i] * (1 - t) + bottom[i] * t) for i in range(3)) + (255,)
    # quill: a leaf shape along the diagonal from bottom-left to top-right
    ax, ay, bx, by = 0.22, 0.80, 0.80, 0.18
    lx, ly = bx - ax, by - ay
    length = math.hypot(lx, ly)
    s = ((u - ax) * lx + (v - ay) * ly) / (length * length)
    d = ((u - ax) * ly - (v - ay) * lx) / length
    if 0.0 <= s <= 1.0:
        width = 0.16 * math.sin(math.pi * min(1.0, s * 1.15)) ** 0.8 if s > 0.12 else 0
        if s > 0.12 and -width * 0.45 <= d <= width:
            # the shaft is a darker line through the vane
            if abs(d) < 0.012 + 0.008 * (1 - s):
                return (170, 190, 225, 255)
            return (250, 250, 245, 255)
        if s <= 0.14 and abs(d) < 0.025:
            return (230, 200, 90, 255)  # the nib
    return tile


def dib(px):
    size = len(px)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b''.join(bytes((b, g, r, a)) for row in reversed(px) for (r, g, b, a) in row)
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(px):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + xor + bytes(mask)


def write_ico(path, sizes):
    images = [dib(render(s)) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    out += b''.join(images)
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    root = sys.argv[1] if len(sys.argv) > 1 else '.'
    write_ico(root + '/resources/Quillset.ico', [32, 16])
