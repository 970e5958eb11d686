#!/usr/bin/env python3
"""Writes an .ico of square images, for the tests of SetupIcon:
  make-icon.py OUT SIZE[:png] ...
A bitmap image is 32 bits a pixel with its mask; a PNG image is stored as
it is. Each image is one colour, its size in its red, so a test can tell
which image Windows chose."""
import struct
import sys
import zlib


def bitmap(side):
    pixels = bytes([0, 0x40, side, 0xFF]) * (side * side)
    mask = b"\0" * (((side + 31) // 32 * 4) * side)
    header = struct.pack("<IiiHHIIiiII", 40, side, 2 * side, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + mask


def png(side):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes([side, 0x40, 0, 0xFF]) * side for _ in range(side))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def main():
    out, specs = sys.argv[1], sys.argv[2:]
    images = []
    for spec in specs:
        side, _, kind = spec.partition(":")
        side = int(side)
        images.append((side, png(side) if kind == "png" else bitmap(side)))
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for side, image in images:
        data += struct.pack("<BBBBHHII", side % 256, side % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    data += b"".join(image for _, image in images)
    with open(out, "wb") as f:
        f.write(data)


main()
