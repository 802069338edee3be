"""dalo's dimod samplers against dimod's reference sampler and the dwave-samplers peers, on
BQMs a dimod user would hold: G22 as an Ising max-cut and a bqp1000 instance as a QUBO. Each
run gets one thread and the same wall budget; the peers' sweep counts are tuned on a seed that
is not reported. Also times dalo.from_bqm against dimod's own BQM construction.

Run it in the benchmark environment (never a dependency of dalo):
    build-python/bench-venv/bin/pip install ./python dimod dwave-samplers
    build-python/bench-venv/bin/python bench/python/dimod_samplers.py [--help]"""
import argparse
import os
import time

import dimod
import numpy as np

import dalo
from dalo.dimod import BriskSampler

DATA = "/work/shared/bench"


def gset_bqm(path):
    # cut = (W - E) / 2 for E = sum w_ij s_i s_j, so the BQM stays integer.
    with open(path) as f:
        n, _ = map(int, f.readline().split())
        edges = np.loadtxt(f, dtype=np.int64).reshape(-1, 3)
    bqm = dimod.BinaryQuadraticModel.from_numpy_vectors(
        np.zeros(n), (edges[:, 0] - 1, edges[:, 1] - 1, edges[:, 2].astype(float)), 0.0,
        dimod.SPIN)
    total = int(edges[:, 2].sum())
    return bqm, lambda energy: (total - energy) / 2, lambda best: total - 2 * best


def bqp_bqm(path, k):
    # Minimise -(sum_i q_ii x_i + 2 sum_{i<j} q_ij x_i x_j).
    tokens = open(path).read().split()
    at = 1
    for _ in range(k):
        n, nnz = int(tokens[at]), int(tokens[at + 1])
        triples = np.array(tokens[at + 2:at + 2 + 3 * nnz], dtype=np.int64).reshape(-1, 3)
        at += 2 + 3 * nnz
    i, j, q = triples[:, 0] - 1, triples[:, 1] - 1, triples[:, 2]
    diag = i == j
    lin = np.zeros(n)
    np.add.at(lin, i[diag], -q[diag])
    bqm = dimod.BinaryQuadraticModel.from_numpy_vectors(
        lin, (i[~diag], j[~diag], -2.0 * q[~diag]), 0.0, dimod.BINARY)
    return bqm, lambda energy: -energy, lambda best: -best


def best_known(name):
    for line in open(os.path.join(DATA, "best_known.tsv")):
        fields = line.split("\t")
        if fields[0] == name:
            return int(fields[3])
    raise KeyError(name)


def timed(call):
    start = time.perf_counter()
    out = call()
    return time.perf_counter() - start, out


def brisk_runs(bqm, target, budget, seeds):
    rows = []
    for seed in seeds:
        wall, ss = timed(lambda: BriskSampler().sample(bqm, time_limit=budget, seed=seed,
                                                       threads=1, target=target))
        rows.append((seed, ss.first.energy, ss.info["tts"], wall))
    return rows


def seeded(sampler, seed):
    # dimod's reference annealer takes no seed.
    return {"seed": seed} if "seed" in sampler.parameters else {}


def tuned_sweeps(sampler, bqm, budget, start, tune_seed=99):
    # The largest sweep count of a x4 ladder whose single read fits in the budget.
    sweeps, best = start, start
    while True:
        wall, _ = timed(lambda: sampler.sample(bqm, num_reads=1, num_sweeps=sweeps,
                                               **seeded(sampler, tune_seed)))
        if wall > budget:
            return best
        best, sweeps = sweeps, sweeps * 4
        if wall * 4 > budget * 1.5:
            return best


def annealing_runs(sampler, bqm, budget, seeds, start):
    sweeps = tuned_sweeps(sampler, bqm, budget, start)
    rows = []
    for seed in seeds:
        wall, ss = timed(lambda: sampler.sample(bqm, num_reads=1, num_sweeps=sweeps,
                                                **seeded(sampler, seed)))
        rows.append((seed, ss.first.energy, None, wall))
    return sweeps, rows


def tabu_runs(sampler, bqm, target, budget, seeds):
    # energy_threshold is read against the binary form's energy without its offset.
    threshold = target - bqm.change_vartype(dimod.BINARY, inplace=False).offset
    rows = []
    for seed in seeds:
        wall, ss = timed(lambda: sampler.sample(bqm, num_reads=1, seed=seed,
                                                timeout=int(budget * 1000),
                                                energy_threshold=threshold))
        rows.append((seed, ss.first.energy, None, wall))
    return rows


def report(name, label, rows, value, best):
    for seed, energy, tts, wall in rows:
        reached = "reached" if value(energy) >= best else "short"
        tts_text = f" tts {tts:.3f} s" if tts is not None else ""
        print(f"{name}\t{label}\tseed {seed}\tvalue {value(energy):.0f}\t{reached}"
              f"\twall {wall:.3f} s{tts_text}")


def conversion(n=2000, repeats=7):
    rng = np.random.default_rng(0)
    q = np.triu(rng.integers(-100, 101, size=(n, n))).astype(float)
    construct = min(timed(lambda: dimod.BinaryQuadraticModel(q, "BINARY"))[0]
                    for _ in range(repeats))
    bqm = dimod.BinaryQuadraticModel(q, "BINARY")
    lin, (i, j, w), off = bqm.to_numpy_vectors()
    vectors = min(timed(lambda: dimod.BinaryQuadraticModel.from_numpy_vectors(
        lin, (i, j, w), off, "BINARY"))[0] for _ in range(3))
    export = min(timed(lambda: bqm.to_numpy_vectors())[0] for _ in range(repeats))
    convert = min(timed(lambda: dalo.from_bqm(bqm))[0] for _ in range(repeats))
    print(f"from_bqm, dense {n} variables, {bqm.num_interactions} pairs (best of {repeats}):")
    print(f"  dimod BinaryQuadraticModel(dense matrix)  {construct * 1e3:8.1f} ms")
    print(f"  dimod from_numpy_vectors                  {vectors * 1e3:8.1f} ms")
    print(f"  dimod to_numpy_vectors (inside from_bqm)  {export * 1e3:8.1f} ms")
    print(f"  dalo.from_bqm                             {convert * 1e3:8.1f} ms "
          f"({100 * convert / construct:.0f}% of the dense construction, "
          f"{100 * convert / vectors:.1f}% of from_numpy_vectors)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--budget-g22", type=float, default=10.0)
    parser.add_argument("--budget-bqp", type=float, default=2.0)
    parser.add_argument("--seeds", type=int, nargs="+", default=[0, 1, 2])
    parser.add_argument("--skip", nargs="*", default=[], help="conversion, reference")
    args = parser.parse_args()
    if "conversion" not in args.skip:
        conversion()
    from dwave.samplers import SimulatedAnnealingSampler, TabuSampler
    reference = dimod.reference.samplers.SimulatedAnnealingSampler()
    cases = [("G22", *gset_bqm(os.path.join(DATA, "gset", "G22")), args.budget_g22),
             ("bqp1000.1", *bqp_bqm(os.path.join(DATA, "bqp", "bqp1000.txt"), 1),
              args.budget_bqp)]
    # value(energy) is the benchmark's value, energy_of(value) the BQM energy that gives it.
    for name, bqm, value, energy_of, budget in cases:
        best = best_known(name)
        target = energy_of(best)
        print(f"{name}: {len(bqm)} variables, best known {best}, budget {budget} s, one thread")
        report(name, "dalo BriskSampler", brisk_runs(bqm, target, budget, args.seeds), value,
               best)
        sweeps, rows = annealing_runs(SimulatedAnnealingSampler(), bqm, budget, args.seeds, 250)
        report(name, f"dwave-samplers SA ({sweeps} sweeps)", rows, value, best)
        rows = tabu_runs(TabuSampler(), bqm, target, budget, args.seeds)
        report(name, "dwave-samplers Tabu", rows, value, best)
        if "reference" not in args.skip:
            sweeps, rows = annealing_runs(reference, bqm, budget, args.seeds, 4)
            report(name, f"dimod reference SA ({sweeps} sweeps)", rows, value, best)


if __name__ == "__main__":
    main()
