#!/usr/bin/env python3
"""Counts the Wine server requests of one process (and the processes it
starts) in a trace written by `wineserver -d1`.

  count-requests.py TRACE PID [TOP]

PID is the process id as the trace writes it (hex). Prints "requests=N", then
the TOP (default 0) most frequent request names as "name=N".

In the trace every line starts with the id of the client thread; a request
reads "tid: name( args )", its reply "tid: name() = status { ... }". A
process's first thread learns its pid from init_first_thread's reply; a thread
it starts gets its tid from new_thread's reply, in the starting thread's
process; a process it starts gets its pid from new_process's reply.
"""
import collections
import re
import sys

LINE = re.compile(r'^([0-9a-f]{4,8}): (\w+)\((.*)$')


def main():
    trace, target = sys.argv[1], int(sys.argv[2], 16)
    top = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    owner = {}      # tid -> pid
    ours = {target}
    names = collections.Counter()
    with open(trace, errors='replace') as f:
        for line in f:
            m = LINE.match(line)
            if not m:
                continue
            tid, name, rest = int(m.group(1), 16), m.group(2), m.group(3)
            reply = rest.startswith(') = ')
            if reply:
                if name == 'init_first_thread':
                    pid = re.search(r'\bpid=([0-9a-f]+)', rest)
                    if pid:
                        owner[tid] = int(pid.group(1), 16)
                elif name == 'new_thread' and tid in owner:
                    new = re.search(r'\btid=([0-9a-f]+)', rest)
                    if new:
                        owner[int(new.group(1), 16)] = owner[tid]
                elif name == 'new_process' and owner.get(tid) in ours:
                    pid = re.search(r'\bpid=([0-9a-f]+)', rest)
                    if pid:
                        ours.add(int(pid.group(1), 16))
                continue
            if owner.get(tid) in ours:
                names[name] += 1
    print('requests=%d' % sum(names.values()))
    for name, n in names.most_common(top):
        print('%s=%d' % (name, n))


if __name__ == '__main__':
    main()
