#!/usr/bin/env python3
"""Does the BCJ x86 filter shrink a solid LZMA stream of these files?
Compresses them back to back as one raw LZMA1 stream (liblzma, preset 9,
the dictionary sized as quillset sizes it, up to 64 MiB) with and without
BCJ x86 in front, for the PE files alone, the others alone, and all.

  bcj-measure.py LABEL FILE...
"""
import lzma
import sys


def dictionary(n):
    d = 1 << 16
    while d < n and d < (64 << 20):
        d <<= 1
    return d


def packed(data, bcj):
    filters = [{"id": lzma.FILTER_LZMA1, "preset": 9, "dict_size": dictionary(len(data))}]
    if bcj:
        filters.insert(0, {"id": lzma.FILTER_X86})
    return len(lzma.compress(data, format=lzma.FORMAT_RAW, filters=filters))


def is_pe(path):
    with open(path, "rb") as f:
        head = f.read(0x40)
        if len(head) < 0x40 or head[:2] != b"MZ":
            return False
        f.seek(int.from_bytes(head[0x3C:0x40], "little"))
        return f.read(4) == b"PE\0\0"


def main():
    label, files = sys.argv[1], sys.argv[2:]
    groups = {"PE files": [f for f in files if is_pe(f)], "other files": [f for f in files if not is_pe(f)]}
    groups["all"] = files
    for name, group in groups.items():
        if not group:
            continue
        data = b"".join(open(f, "rb").read() for f in group)
        plain, filtered = packed(data, False), packed(data, True)
        print("%-5s BCJ x86, %-11s %4d files, %10d bytes: lzma %10d, bcj+lzma %10d (%+.2f %%)"
              % (label, name + ":", len(group), len(data), plain, filtered, 100.0 * (filtered - plain) / plain))


if __name__ == "__main__":
    main()
