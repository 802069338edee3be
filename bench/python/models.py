"""Model building plus compilation time of the same three models in dalo and in the Python
modelling tools users know (PyQUBO, dimod), side by side in one run.

    bench/python/run.sh        (makes its own virtual environment, never a dependency)
"""
import sys
import time

import numpy as np

RNG = np.random.default_rng(2026)
N_DENSE, N_CITIES, N_CUT, CUT_EDGES = 2000, 50, 10000, 30000

dense_q = RNG.integers(-9, 10, size=(N_DENSE, N_DENSE))
dense_q = np.triu(dense_q, 1)
dist = RNG.integers(1, 100, size=(N_CITIES, N_CITIES))
np.fill_diagonal(dist, 0)  # no city follows itself: every tool builds the same terms
cut_i = RNG.integers(0, N_CUT, size=CUT_EDGES)
cut_j = (cut_i + 1 + RNG.integers(0, N_CUT - 1, size=CUT_EDGES)) % N_CUT
cut_w = RNG.choice([-1, 1], size=CUT_EDGES)


def timed(fn):
    start = time.perf_counter()
    size = fn()
    return time.perf_counter() - start, size


# ---- dalo ----
def dalo_dense():
    import dalo
    x = dalo.var("x", shape=(N_DENSE,))
    f = dalo.quadratic(x, dense_q)  # x^T Q x, read from the numpy matrix in place
    return dalo.Model(f.simplify_as_binary()).var_count


def dalo_tsp():
    import dalo
    n = N_CITIES
    x = dalo.var("t", shape=(n, n))  # x[c, t]: city c at step t
    nxt = x.slice((0, 1), (n, n)).concat(x.slice((0, 0), (n, 1)), 1)
    f = dalo.einsum("cd,ct,dt->", dalo.ints(dist), x, nxt)[()]
    f = f + 100 * ((x.sum(axis=0) == 1).sum() + (x.sum(axis=1) == 1).sum())
    return dalo.Model(f.simplify_as_binary()).var_count


def dalo_cut():
    import dalo
    x = dalo.var("m", shape=(N_CUT,))
    i = np.concatenate([cut_i, cut_i, cut_j])
    j = np.concatenate([cut_j, cut_i, cut_j])
    w = np.concatenate([2 * cut_w, -cut_w, -cut_w])
    f = dalo.quadratic(x, i, j, w)
    return dalo.Model(f.simplify_as_binary()).var_count


# ---- PyQUBO ----
def pyqubo_dense():
    from pyqubo import Array
    x = Array.create("x", shape=N_DENSE, vartype="BINARY")
    rows, cols = np.nonzero(dense_q)
    h = sum(int(dense_q[a, b]) * x[int(a)] * x[int(b)] for a, b in zip(rows, cols))
    return len(h.compile().to_qubo()[0])


def pyqubo_tsp():
    from pyqubo import Array, Constraint
    n = N_CITIES
    x = Array.create("t", shape=(n, n), vartype="BINARY")
    h = sum(int(dist[c, d]) * x[c, t] * x[d, (t + 1) % n]
            for c in range(n) for d in range(n) for t in range(n) if c != d)
    h += 100 * sum(Constraint((sum(x[c, t] for t in range(n)) - 1) ** 2, f"c{c}") for c in range(n))
    h += 100 * sum(Constraint((sum(x[c, t] for c in range(n)) - 1) ** 2, f"s{t}") for t in range(n))
    return len(h.compile().to_qubo()[0])


def pyqubo_cut():
    from pyqubo import Array
    x = Array.create("m", shape=N_CUT, vartype="BINARY")
    h = sum(int(w) * (x[int(a)] + x[int(b)] - 2 * x[int(a)] * x[int(b)])
            for a, b, w in zip(cut_i, cut_j, cut_w))
    return len(h.compile().to_qubo()[0])


# ---- dimod ----
def dimod_dense():
    import dimod
    return dimod.BinaryQuadraticModel(dense_q, "BINARY").num_interactions


def dimod_tsp():
    import dimod
    n = N_CITIES
    bqm = dimod.BinaryQuadraticModel("BINARY")
    for c in range(n):
        for d in range(n):
            if c != d:
                for t in range(n):
                    bqm.add_quadratic((c, t), (d, (t + 1) % n), int(dist[c, d]))
    for c in range(n):
        bqm.add_linear_equality_constraint([((c, t), 1) for t in range(n)], 100, -1)
    for t in range(n):
        bqm.add_linear_equality_constraint([((c, t), 1) for c in range(n)], 100, -1)
    return bqm.num_interactions


def dimod_cut():
    import dimod
    bqm = dimod.BinaryQuadraticModel("BINARY")
    bqm.add_linear_from((int(v), 0) for v in range(N_CUT))
    for a, b, w in zip(cut_i, cut_j, cut_w):
        bqm.add_linear(int(a), -int(w))
        bqm.add_linear(int(b), -int(w))
        bqm.add_quadratic(int(a), int(b), 2 * int(w))
    return bqm.num_interactions


def main():
    models = [("dense quadratic, 2,000 variables", dalo_dense, pyqubo_dense, dimod_dense),
              ("one-hot TSP, 50 cities", dalo_tsp, pyqubo_tsp, dimod_tsp),
              ("sparse Max-Cut, 10,000 variables", dalo_cut, pyqubo_cut, dimod_cut)]
    skip = set(sys.argv[1:])
    print(f"{'model':36} {'dalo s':>9} {'PyQUBO s':>9} {'dimod s':>9}  ratios (tool/dalo)")
    for name, *fns in models:
        times = []
        for label, fn in zip(("dalo", "pyqubo", "dimod"), fns):
            if label in skip:
                times.append(None)
                continue
            try:
                times.append(timed(fn)[0])
            except ImportError:
                times.append(None)
        cells = [f"{t:9.3f}" if t is not None else f"{'-':>9}" for t in times]
        ratios = " ".join(f"{t / times[0]:.1f}x" if t is not None and times[0] else "-" for t in times[1:])
        print(f"{name:36} {' '.join(cells)}  {ratios}", flush=True)


if __name__ == "__main__":
    main()
