"""Model building plus compilation time of the same three models in dalo and in the Python
modelling tools users know (PyQUBO, dimod), side by side in one run.

    bench/python/run.sh [--runs R] [--pyqubo-runs P] [TOOL_TO_SKIP ...]

Each tool builds its final object (dalo.Model, PyQUBO's QUBO, dimod's BQM) from the same data
through its fastest documented path; every tool's model is evaluated on the same random
assignments and the run fails unless all energies agree.
"""
import argparse
import gc
import importlib
import statistics
import sys
import time

import numpy as np


def optional(name):
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


# Imported once here, so no import is ever timed.
dalo, pyqubo, dimod = optional("dalo"), optional("pyqubo"), optional("dimod")

RNG = np.random.default_rng(2026)
N_DENSE, N_CITIES, N_CUT, CUT_EDGES = 2000, 50, 10000, 30000

dense_q = RNG.integers(-9, 10, size=(N_DENSE, N_DENSE))
dense_q = np.triu(dense_q, 1)
dist = RNG.integers(1, 100, size=(N_CITIES, N_CITIES))
np.fill_diagonal(dist, 0)  # no city follows itself: every tool builds the same terms
cut_i = RNG.integers(0, N_CUT, size=CUT_EDGES)
cut_j = (cut_i + 1 + RNG.integers(0, N_CUT - 1, size=CUT_EDGES)) % N_CUT
cut_w = RNG.choice([-1, 1], size=CUT_EDGES)
# Every Max-Cut objective is minus the cut weight, sum_e w_e (2 x_a x_b - x_a - x_b).


# ---- dalo: the Model and the variables it was built from ----
def dalo_dense():
    x = dalo.var("x", shape=(N_DENSE,))
    return dalo.quadratic_model(x, dense_q), x  # x^T Q x, the Model read from the matrix


def dalo_tsp():
    n = N_CITIES
    x = dalo.var("t", shape=(n, n))  # x[c, t]: city c at step t
    nxt = x.slice((0, 1), (n, n)).concat(x.slice((0, 0), (n, 1)), 1)
    f = dalo.einsum("cd,ct,dt->", dalo.ints(dist), x, nxt)[()]
    # The one-hot rows as plain penalties 100 (sum - 1)^2, as the other tools build them.
    rows = [x.sum(axis=0) - 1, x.sum(axis=1) - 1]
    penalty = dalo.sum(r[k].sqr() for r in rows for k in range(n))
    penalty *= 100
    f += penalty
    return dalo.Model.simplified(f), x  # simplified on the way, no simplified copy of f


def dalo_cut():
    x = dalo.var("m", shape=(N_CUT,))
    linear = -(np.bincount(cut_i, cut_w, N_CUT) + np.bincount(cut_j, cut_w, N_CUT)).astype(np.int64)
    return dalo.quadratic_model(x, cut_i, cut_j, 2 * cut_w, linear=linear), x


def dalo_energy(built, a):
    model, x = built
    sol = dalo.Sol(model)
    for idx in np.ndindex(a.shape):
        if sol.has(x[idx]):
            sol[x[idx]] = int(a[idx])
    return sol.comp_energy()


# ---- PyQUBO: the QUBO dict and its offset, labelled name[i] or name[i][j] ----
def pyqubo_dense():
    x = pyqubo.Array.create("x", shape=N_DENSE, vartype="BINARY")
    rows, cols = np.nonzero(dense_q)
    h = sum(int(dense_q[a, b]) * x[int(a)] * x[int(b)] for a, b in zip(rows, cols))
    return h.compile().to_qubo()


def pyqubo_tsp():
    n, Constraint = N_CITIES, pyqubo.Constraint
    x = pyqubo.Array.create("t", shape=(n, n), vartype="BINARY")
    h = sum(int(dist[c, d]) * x[c, t] * x[d, (t + 1) % n]
            for c in range(n) for d in range(n) for t in range(n) if c != d)
    h += 100 * sum(Constraint((sum(x[c, t] for t in range(n)) - 1) ** 2, f"c{c}") for c in range(n))
    h += 100 * sum(Constraint((sum(x[c, t] for c in range(n)) - 1) ** 2, f"s{t}") for t in range(n))
    return h.compile().to_qubo()


def pyqubo_cut():
    x = pyqubo.Array.create("m", shape=N_CUT, vartype="BINARY")
    h = sum(int(w) * (2 * x[int(a)] * x[int(b)] - x[int(a)] - x[int(b)])
            for a, b, w in zip(cut_i, cut_j, cut_w))
    return h.compile().to_qubo()


def pyqubo_energy(built, a):
    qubo, offset = built  # keys without the one-letter array name
    value = {"".join(f"[{k}]" for k in idx): int(a[idx]) for idx in np.ndindex(a.shape)}
    # Integer coefficients: the float sum stays exact far beyond these sizes.
    return offset + sum(c * value[u[1:]] * value[v[1:]] for (u, v), c in qubo.items())


# ---- dimod: the BQM over the flat indexes 0..n-1 ----
def dimod_dense():
    return dimod.BQM(dense_q, "BINARY")


def dimod_tsp():
    n = N_CITIES
    c, d = np.nonzero(dist)  # every ordered pair of distinct cities
    t = np.arange(n)
    u, v = (c[:, None] * n + t).ravel(), (d[:, None] * n + (t + 1) % n).ravel()
    w = np.repeat(dist[c, d], n)
    bqm = dimod.BQM.from_numpy_vectors(np.zeros(n * n), (u, v, w), 0, "BINARY")
    # Faster here than expanding the penalties into the vectors above.
    idx = np.arange(n * n).reshape(n, n)
    for one_hot in (*idx, *idx.T):
        bqm.add_linear_equality_constraint([(k, 1) for k in one_hot.tolist()], 100, -1)
    return bqm


def dimod_cut():
    linear = -(np.bincount(cut_i, cut_w, N_CUT) + np.bincount(cut_j, cut_w, N_CUT))
    return dimod.BQM.from_numpy_vectors(linear, (cut_i, cut_j, 2 * cut_w), 0, "BINARY")


def dimod_energy(bqm, a):
    return bqm.energies((a.reshape(1, -1).astype(np.int8), range(a.size)))[0].item()


TOOLS = {"dalo": (dalo, dalo_energy), "pyqubo": (pyqubo, pyqubo_energy),
         "dimod": (dimod, dimod_energy)}
MODELS = [("dense quadratic, 2,000 variables", (N_DENSE,),
           {"dalo": dalo_dense, "pyqubo": pyqubo_dense, "dimod": dimod_dense}),
          ("one-hot TSP, 50 cities", (N_CITIES, N_CITIES),
           {"dalo": dalo_tsp, "pyqubo": pyqubo_tsp, "dimod": dimod_tsp}),
          ("sparse Max-Cut, 10,000 variables", (N_CUT,),
           {"dalo": dalo_cut, "pyqubo": pyqubo_cut, "dimod": dimod_cut})]


def measure(name, shape, builders, tools, runs, pyqubo_runs):
    """Median build time per tool, and the energies of each tool's first build."""
    samples = [RNG.random(shape) < p for p in (0.2, 0.5, 0.8)]
    times, energies = {t: [] for t in tools}, {}

    def build(tool, timed):
        gc.collect()  # the previous build's garbage never lands in this one's time
        start = time.perf_counter()
        built = builders[tool]()
        seconds = time.perf_counter() - start
        if timed:
            times[tool].append(seconds)
        if tool not in energies:
            energies[tool] = [TOOLS[tool][1](built, a) for a in samples]

    fast = [t for t in ("dalo", "dimod") if t in tools]
    for tool in fast:
        build(tool, False)
    for r in range(runs):
        for tool in fast if r % 2 == 0 else fast[::-1]:
            build(tool, True)
    # PyQUBO last: the huge heap it frees is never followed by another tool's timed build.
    for _ in range(pyqubo_runs if "pyqubo" in tools else 0):
        build("pyqubo", True)
    if len(set(tuple(e) for e in energies.values())) > 1:
        sys.exit(f"{name}: the tools build different models; energies {energies}")
    return {t: statistics.median(s) if s else None for t, s in times.items()}, len(energies) > 1


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("skip", nargs="*", metavar="TOOL_TO_SKIP", help="dalo, pyqubo or dimod")
    ap.add_argument("--runs", type=int, default=5, help="timed runs of dalo and dimod (default 5)")
    ap.add_argument("--pyqubo-runs", type=int, default=1, help="timed runs of PyQUBO (default 1)")
    args = ap.parse_args()
    if set(args.skip) - set(TOOLS):
        ap.error(f"unknown tools {sorted(set(args.skip) - set(TOOLS))}")
    tools = [t for t, (module, _) in TOOLS.items() if module is not None and t not in args.skip]
    print(f"median build milliseconds: dalo and dimod {args.runs} runs each, alternating, after one "
          f"untimed warm-up; PyQUBO {args.pyqubo_runs} run(s), no warm-up, last for each model; "
          f"tools: {', '.join(tools)}")
    print(f"{'model':34} {'dalo ms':>8} {'PyQUBO ms':>9} {'dimod ms':>8} {'dalo/dimod':>11} "
          f"{'PyQUBO/dalo':>12}  check")
    for name, shape, builders in MODELS:
        t, checked = measure(name, shape, builders, tools, args.runs, args.pyqubo_runs)
        d, p, m = t.get("dalo"), t.get("pyqubo"), t.get("dimod")
        cell = lambda s, w: f"{1e3 * s:{w}.2f}" if s is not None else f"{'-':>{w}}"
        ratio = lambda a, b: f"{a / b:.2f}x" if a is not None and b else "-"
        check = "same energies" if checked else "not cross-checked"
        print(f"{name:34} {cell(d, 8)} {cell(p, 9)} {cell(m, 8)} {ratio(d, m):>11} "
              f"{ratio(p, d):>12}  {check}", flush=True)


if __name__ == "__main__":
    main()
