#!/usr/bin/env python3
"""Checks that every include between rooms of src/ points down the layer order.

  scripts/check_layers.py [SRC]     SRC defaults to the src/ folder beside this script

A room may include itself and the rooms below it; array, solvers and ilp are peers and do
not include each other. Prints one line per offending include and exits 1, else one OK line.
"""
import os, re, sys

# Rank of each room: an include may point to the same rank only within its own room.
RANK = {'core': 0, 'constraints': 1, 'transform': 2, 'model': 3,
        'array': 4, 'solvers': 4, 'ilp': 4, 'capi': 5}


INCLUDE = re.compile(r'^\s*#\s*include\s*"([a-z_]+)/([^"]+)"')


def offences(src):
    for folder, _, names in sorted(os.walk(src)):
        for name in sorted(names):
            if not name.endswith(('.cpp', '.hpp')):
                continue
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, src).replace(os.sep, '/')
            room = rel.split('/')[0]
            if room not in RANK:
                continue
            with open(path, encoding='utf-8') as fh:
                for number, line in enumerate(fh, 1):
                    m = INCLUDE.match(line)
                    if not m or m.group(1) not in RANK or m.group(1) == room:
                        continue
                    target = m.group(1)
                    if RANK[target] < RANK[room]:
                        continue
                    yield f'src/{rel}:{number}: {room} -> {target}'


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.dirname(os.path.abspath(__file__))), 'src')
    bad = list(offences(src))
    for line in bad:
        print(line)
    if bad:
        return 1
    print('layers OK: every include in ' + src + ' points to its own room or a lower one')
    return 0


if __name__ == '__main__':
    sys.exit(main())
