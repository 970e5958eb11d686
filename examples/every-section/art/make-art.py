#!/usr/bin/env python3
"""Writes the example's pictures: a 96 x 64 24-bit bitmap and a placeable
Windows metafile with a filled ellipse for the background, and a 59 x 129
bitmap for the wizard's side (half its size: scaled up), for
every-section.qsp. Run from this folder."""
import struct

def bitmap(path, width=96, height=64, colour=lambda x, y: (40 + x, 80 + y, 160)):
    row = (width * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(height):
        line = bytearray()
        for x in range(width):
            line += bytes(colour(x, y))  # blue, green, red
        pixels += line + bytes(row - len(line))
    header = struct.pack('<2sIHHI', b'BM', 54 + len(pixels), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    open(path, 'wb').write(header + info + pixels)

def record(function, *words):
    return struct.pack('<IH', 3 + len(words), function) + struct.pack('<%dh' % len(words), *words)

def metafile(path):
    body = b''.join([
        record(0x020B, 0, 0),                     # SetWindowOrg
        record(0x020C, 1000, 1000),               # SetWindowExt (y, x)
        struct.pack('<IHHIH', 7, 0x02FC, 0, 0x00FFCC00 & 0xFFFFFFFF, 0),  # CreateBrushIndirect
        record(0x012D, 0),                        # SelectObject
        record(0x0418, 900, 900, 100, 100),       # Ellipse (bottom, right, top, left)
        record(0x0000),                           # end of file
    ])
    size = (18 + len(body)) // 2
    header = struct.pack('<HHHIHIH', 1, 9, 0x300, size, 1, 14, 0)
    placeable = struct.pack('<IHhhhhHI', 0x9AC6CDD7, 0, 0, 0, 1000, 1000, 1440, 0)
    checksum = 0
    for (w,) in struct.iter_unpack('<H', placeable[:20]):
        checksum ^= w
    open(path, 'wb').write(placeable[:20] + struct.pack('<H', checksum) + header + body)

bitmap('background.bmp')
bitmap('side.bmp', 59, 129, lambda x, y: (120 + y, 60 + y // 2, 30 + x))
metafile('logo.wmf')
