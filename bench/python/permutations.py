"""QAPLIB and TSPLIB one-hot models: dalo against the annealing sampler Python users most often
pick, in the same time, side by side.

    VENV/bin/python bench/python/permutations.py [--seconds 10] [--seed 1] NAME ...

NAME is a QAPLIB instance (../shared/bench/qap/NAME.dat) or a TSPLIB one with EUC_2D
coordinates (../shared/bench/tsp/NAME.tsp). The model is x[i, p] with rows and columns
one-hot. dalo solves it with the constraints declared (`dalo solve`, BriskSolver, 2 threads);
the annealer gets the same model as a penalty QUBO (weight (sum - 1)^2 per row and column,
the weight `dalo solve` chooses) and repeats reads of rising sweep counts until the time is up.
Each column is the best feasible cost found and its gap to the best known value.
"""
import argparse
import json
import math
import os
import subprocess
import time

import dimod
import numpy as np
from dwave.samplers import SimulatedAnnealingSampler

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
BENCH = os.path.join(ROOT, "..", "shared", "bench")
DALO = os.path.join(ROOT, "build", "tools", "dalo")


def read(name):
    """(kind, flow or None, distance, best known, path)."""
    qap = os.path.join(BENCH, "qap", name + ".dat")
    if os.path.exists(qap):
        v = np.array(open(qap).read().split(), dtype=np.int64)
        n = int(v[0])
        known = {l.split("\t")[0]: int(l.split("\t")[2])
                 for l in open(os.path.join(BENCH, "qap", "best_known.tsv")).readlines()[1:]}
        return "qap", v[1:1 + n * n].reshape(n, n), v[1 + n * n:1 + 2 * n * n].reshape(n, n), \
            known[name], qap
    tsp = os.path.join(BENCH, "tsp", name + ".tsp")
    lines = open(tsp).read().splitlines()
    if not any("EUC_2D" in l for l in lines):
        raise SystemExit(f"{name}: only EUC_2D tour files here")
    start = next(k for k, l in enumerate(lines) if l.startswith("NODE_COORD_SECTION")) + 1
    xy = []
    for l in lines[start:]:
        if l.strip() in ("EOF", ""):
            break
        xy.append([float(t) for t in l.split()[1:3]])
    xy = np.array(xy)
    d = np.floor(np.hypot(*(xy[:, None, :] - xy[None, :, :]).transpose(2, 0, 1)) + 0.5)
    known = {l.split("\t")[0]: int(l.split("\t")[1])
             for l in open(os.path.join(BENCH, "tsp", "best_known.tsv")).readlines()[1:]}
    return "tsp", None, d.astype(np.int64), known[name], tsp


def penalty_bqm(kind, flow, dist, weight):
    n = len(dist)
    if kind == "qap":  # a_ij b_pq x[i, p] x[j, q] over all four indexes
        i, j, p, q = (g.ravel() for g in np.meshgrid(*[np.arange(n)] * 4, indexing="ij"))
        c = flow[i, j] * dist[p, q]
    else:  # dist[c, e] x[c, t] x[e, t + 1]
        i, j, p = (g.ravel() for g in np.meshgrid(*[np.arange(n)] * 3, indexing="ij"))
        q = (p + 1) % n
        c = np.where(i != j, dist[i, j], 0)
    u, v, keep = i * n + p, j * n + q, c != 0
    u, v, c = u[keep], v[keep], c[keep].astype(float)
    lin = np.bincount(u[u == v], c[u == v], n * n)
    bqm = dimod.BQM.from_numpy_vectors(lin, (u[u != v], v[u != v], c[u != v]), 0, "BINARY")
    for k in range(n):
        for vs in (range(k * n, k * n + n), range(k, n * n, n)):
            bqm.add_linear_equality_constraint([(x, 1) for x in vs], weight, -1)
    return bqm


def decode(kind, flow, dist, bits):
    n = len(dist)
    x = np.array(bits).reshape(n, n)
    if not ((x.sum(0) == 1).all() and (x.sum(1) == 1).all()):
        return None
    at = x.argmax(1)  # location of facility i, or step of city i
    if kind == "qap":
        return int((flow * dist[np.ix_(at, at)]).sum())
    order = np.argsort(at)
    return int(sum(dist[order[t], order[(t + 1) % n]] for t in range(n)))


def anneal(kind, flow, dist, weight, seconds, seed):
    """The best feasible cost the annealer finds on the penalty QUBO in that time: 10 reads at
    a time, the sweep count doubling from 1,000."""
    bqm = penalty_bqm(kind, flow, dist, weight)
    sampler, best, sweeps = SimulatedAnnealingSampler(), None, 1000
    end = time.perf_counter() + seconds
    while time.perf_counter() < end:
        ss = sampler.sample(bqm, num_reads=10, num_sweeps=sweeps, seed=seed + sweeps)
        column = [ss.variables.index(v) for v in range(len(dist) ** 2)]
        for bits in ss.record.sample[:, column]:
            c = decode(kind, flow, dist, bits)
            if c is not None and (best is None or c < best):
                best = c
        sweeps *= 2
    return best


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("names", nargs="+")
    ap.add_argument("--seconds", type=float, default=10.0)
    ap.add_argument("--seed", type=int, default=1)
    a = ap.parse_args()
    print(f"{'instance':9} {'best known':>10} {'dalo':>16} {'annealer (penalty QUBO)':>26}")
    for name in a.names:
        kind, flow, dist, known, path = read(name)
        args = [DALO, "solve", path, "--threads", "2", "--time-limit", str(a.seconds), "--seed",
                str(a.seed), "--quiet", "--json"] + (["--format", "qap"] if kind == "qap" else [])
        out = json.loads(subprocess.run(args, capture_output=True, text=True).stdout)
        ours = out["cost"] if out["feasible"] else None
        best = anneal(kind, flow, dist, out["weight"], a.seconds, a.seed)
        cell = lambda c: "infeasible" if c is None else f"{c} ({100 * (c - known) / known:+.2f}%)"  # noqa: E731
        print(f"{name:9} {known:>10} {cell(ours):>16} {cell(best):>26}", flush=True)


if __name__ == "__main__":
    main()
