#!/usr/bin/env python3
"""Validation graphs for Max-Cut benchmarks, in the G-set file format ("n m", then "i j w"
lines, 1-based), from the same families as the G-set files but other random draws:

  random      G(n, p), unit weights
  random_pm   G(n, p), weights +1 or -1
  torus_pm    2-D toroidal grid, weights +1 or -1
  planar      union of two random planar triangulations on the same vertices, unit weights

p follows the G-set file of the same size (6% at 800 vertices, 1% at 2,000, 0.1% at 5,000).
Every graph comes from its own fixed seed (family, size, index), so reruns give the same
files. Files go under a build folder only: they are benchmark data, not part of the library.

usage: gen_graphs.py [--out build/validation] [--sizes 800,2000,5000] [--count 10]
"""
import argparse
import os
import random
import sys

DENSITY = {800: 0.06, 2000: 0.01, 5000: 0.001}


def gnp(n, p, rng, signed):
    # Geometric skips between edges, so sparse graphs cost about m draws rather than n^2.
    import math
    edges = []
    log_q = math.log(1.0 - p)
    v, w = 1, -1
    while v < n:
        w += 1 + int(math.log(1.0 - rng.random()) / log_q)
        while w >= v and v < n:
            w -= v
            v += 1
        if v < n:
            edges.append((w, v, rng.choice((-1, 1)) if signed else 1))
    return edges


def torus(n, rng):
    rows = max(d for d in range(1, int(n ** 0.5) + 1) if n % d == 0)
    cols = n // rows
    edges = set()
    for r in range(rows):
        for c in range(cols):
            v = r * cols + c
            for u in (r * cols + (c + 1) % cols, ((r + 1) % rows) * cols + c):
                if u != v:
                    edges.add((min(u, v), max(u, v)))
    return [(a, b, rng.choice((-1, 1))) for a, b in sorted(edges)]


def triangulation(n, rng):
    # A grid of cells, each split by a random diagonal: planar, about 3n edges.
    k = int((n - 1) ** 0.5) + 1
    edges = set()
    def at(i, j):
        v = i * k + j
        return v if j < k and v < n else None
    for i in range(k):
        for j in range(k):
            a, b, c, d = at(i, j), at(i, j + 1), at(i + 1, j), at(i + 1, j + 1)
            pairs = [(a, b), (a, c)]
            pairs.append((a, d) if rng.random() < 0.5 else (b, c))
            for u, v in pairs:
                if u is not None and v is not None:
                    edges.add((min(u, v), max(u, v)))
    return edges


def planar(n, rng):
    edges = triangulation(n, rng)
    perm = list(range(n))
    rng.shuffle(perm)
    for u, v in triangulation(n, rng):
        a, b = perm[u], perm[v]
        edges.add((min(a, b), max(a, b)))
    return [(a, b, 1) for a, b in sorted(edges)]


FAMILIES = {
    "random": lambda n, rng: gnp(n, DENSITY[n], rng, False),
    "random_pm": lambda n, rng: gnp(n, DENSITY[n], rng, True),
    "torus_pm": torus,
    "planar": planar,
}


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default="build/validation")
    ap.add_argument("--sizes", default="800,2000,5000")
    ap.add_argument("--count", type=int, default=10)
    args = ap.parse_args()
    if "build" not in os.path.normpath(args.out).split(os.sep):
        sys.exit("gen_graphs.py: --out must lie under a build folder")
    os.makedirs(args.out, exist_ok=True)
    for name, make in FAMILIES.items():
        for n in (int(s) for s in args.sizes.split(",")):
            if n not in DENSITY:
                sys.exit(f"gen_graphs.py: no density for n = {n} (one of {sorted(DENSITY)})")
            for k in range(1, args.count + 1):
                rng = random.Random(f"{name}-{n}-{k}")
                edges = make(n, rng)
                path = os.path.join(args.out, f"{name}-{n}-{k:02d}")
                with open(path, "w") as f:
                    f.write(f"{n} {len(edges)}\n")
                    f.writelines(f"{a + 1} {b + 1} {w}\n" for a, b, w in edges)
    print(f"wrote {len(FAMILIES) * args.count * len(args.sizes.split(','))} graphs to {args.out}")


if __name__ == "__main__":
    main()
