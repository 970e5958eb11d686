#!/usr/bin/env python3
"""Where the bytes of a setup program go.

  size-table.py PROGRAM.exe PROGRAM.map [UNSTRIPPED.exe]

First the file by PE section (bytes in the file), then code, data and unwind
tables by origin, from the linker's map (sizes of the input sections before
the sections are padded): C runtime, zlib, C++ runtime and unwinding, our
code. The map is written by the link of the shipped program (-Wl,-Map).
"""
import collections
import re
import struct
import subprocess
import sys

ORIGINS = [
    ('zlib', re.compile(r'libz\.a')),
    ('C++ runtime and unwinding', re.compile(r'libstdc\+\+|libsupc\+\+|libgcc_eh|libgcc\.a')),
    ('our code', re.compile(r'libqs_|ltrans|WinMain|CMakeFiles')),
    ('C runtime', re.compile(r'crt\w*\.o|libmingw|libmsvcr|lib\w+\.a\(.*\.o\)|dll[a-z0-9]*\.o')),
]
KINDS = {'.text': 'code', '.rdata': 'data', '.data': 'data', '.bss': None, '.eh_frame': 'unwind tables',
         '.pdata': 'unwind tables', '.xdata': 'unwind tables'}


def sections(exe):
    b = open(exe, 'rb').read()
    pe = struct.unpack_from('<I', b, 0x3C)[0]
    count = struct.unpack_from('<H', b, pe + 6)[0]
    optional = struct.unpack_from('<H', b, pe + 20)[0]
    at = pe + 24 + optional
    out = []
    for i in range(count):
        name = b[at:at + 8].rstrip(b'\0').decode('ascii', 'replace')
        raw = struct.unpack_from('<I', b, at + 16)[0]
        out.append((name, raw))
        at += 40
    return len(b), out


def origins(mapfile):
    sums = collections.defaultdict(collections.Counter)
    out = pending = None
    for line in open(mapfile, errors='replace'):
        line = line.rstrip('\n')
        m = re.match(r'^([.\w$]+)\s+0x[0-9a-f]+\s+0x[0-9a-f]+', line)
        if m:
            out = m.group(1)
            continue
        m = re.match(r'^ (\S+)$', line)
        if m:
            pending = m.group(1)
            continue
        m = re.match(r'^ (\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$', line)
        if not m:
            pending = None
            continue
        pending = None
        kind = KINDS.get(out)
        size = int(m.group(2), 16)
        if not kind or not size:
            continue
        source = m.group(3)
        origin = next((name for name, pattern in ORIGINS if pattern.search(source)), 'other')
        sums[origin][kind] += size
    return sums


def functions(unstripped, count=40):
    """The largest code symbols of an unstripped program, demangled."""
    nm = 'x86_64-w64-mingw32-nm'
    listed = subprocess.run([nm, '-n', '--defined-only', unstripped], check=True, capture_output=True,
                            text=True).stdout.split('\n')
    code = [(int(a, 16), n) for a, kind, n in (l.split(None, 2) for l in listed if l.count(' ') >= 2)
            if kind in 'tT' and not n.startswith('.')]
    sizes = collections.Counter()
    for (at, name), (after, _) in zip(code, code[1:]):
        sizes[name] += after - at
    names = [n for n, _ in sizes.most_common(count)]
    shown = subprocess.run(['x86_64-w64-mingw32-c++filt'], input='\n'.join(names), check=True,
                           capture_output=True, text=True).stdout.split('\n')
    print('  largest functions (of %d, %d bytes):' % (len(sizes), sum(sizes.values())))
    for name, readable in zip(names, shown):
        print('  %8d  %s' % (sizes[name], readable[:100]))


def main():
    exe, mapfile = sys.argv[1], sys.argv[2]
    total, table = sections(exe)
    named = {'.text': 'code', '.data': 'data', '.rdata': 'read-only data', '.eh_fram': 'unwind tables',
             '.pdata': 'unwind tables', '.xdata': 'unwind data', '.idata': 'imports and data', '.rsrc': 'resources', '.reloc': 'relocations', '.CRT': 'C runtime tables',
             '.tls': 'thread-local data'}
    print('  %-28s %8d bytes' % ('total', total))
    accounted = 0
    for name, raw in table:
        if raw:
            print('  %-28s %8d' % ('%s (%s)' % (named.get(name, name), name), raw))
            accounted += raw
    print('  %-28s %8d' % ('headers and padding', total - accounted))
    print('  by origin (code + data + unwind tables, before padding):')
    sums = origins(mapfile)
    for origin in ['our code', 'zlib', 'C++ runtime and unwinding', 'C runtime', 'other']:
        c = sums.get(origin)
        if not c and origin == 'zlib':
            print('  %-28s %8d  (the program decodes with its own inflater, in our code)' % (origin, 0))
            continue
        if not c:
            continue
        print('  %-28s %8d  (code %d, data %d, unwind tables %d)' % (
            origin, sum(c.values()), c['code'], c['data'], c['unwind tables']))
    if len(sys.argv) > 3:
        functions(sys.argv[3])


if __name__ == '__main__':
    main()
