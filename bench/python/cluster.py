"""The portfolio on a LocalCluster against one process with as many threads, same total time.

    VENV/bin/python bench/python/cluster.py [--workers 2] [--seconds 30] [--rounds 10] G22 G55

For each G-set file (from ../shared/bench/gset, best known values from its best_known.tsv):
the best cut and the time it was found by `dalo.distributed.portfolio` on a cluster of
`--workers` single-thread processes, and by one BriskSolver search with that many threads;
and the round overhead: the part of each round's wall time that is not the workers' search
(serialisation, gather and hint hand-out), as a share of the round and per round; and the
size of the Model's bytes and the time to write them.
"""
import argparse
import os
import time

import numpy as np

import dalo
import dalo.distributed as dd
import distributed

SHARED = os.path.join(os.path.dirname(__file__), "..", "..", "..", "shared", "bench", "gset")


def gset(name):
    with open(os.path.join(SHARED, name)) as f:
        n, _ = map(int, f.readline().split())
        e = np.loadtxt(f, dtype=np.int64, ndmin=2)
    i, j, w = e[:, 0] - 1, e[:, 1] - 1, e[:, 2]
    x = dalo.var(name, shape=(n,))
    # minus the cut: sum_e w (2 x_i x_j - x_i - x_j)
    lin = -(np.bincount(i, w, n) + np.bincount(j, w, n)).astype(np.int64)
    v = np.arange(n)
    return dalo.quadratic_model(x, np.concatenate([v, i]), np.concatenate([v, j]),
                                np.concatenate([lin, 2 * w]))


def best_known(name):
    with open(os.path.join(SHARED, "..", "best_known.tsv")) as f:
        for line in f:
            cols = line.split("\t")
            if cols[0] == name:
                return int(cols[3])
    return None


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("files", nargs="+")
    ap.add_argument("--workers", type=int, default=2)
    ap.add_argument("--seconds", type=float, default=30.0)
    ap.add_argument("--rounds", type=int, default=10)
    ap.add_argument("--seed", type=int, default=1)
    a = ap.parse_args()
    with distributed.LocalCluster(n_workers=a.workers, threads_per_worker=1, processes=True,
                                  dashboard_address=None, host="127.0.0.1") as cluster, \
            distributed.Client(cluster) as client:
        print(f"{'file':6} {'best known':>10} {'cluster cut':>11} {'found s':>8} {'single cut':>10} "
              f"{'found s':>8} {'overhead':>9} {'per round':>9} {'bytes':>8} {'to_bytes':>8}")
        for name in a.files:
            model, known = gset(name), best_known(name)
            target = -known if known is not None else None
            started = time.perf_counter()
            r = dd.portfolio(model, client, time_limit=a.seconds, rounds=a.rounds, seed=a.seed,
                             target=target)
            wall = time.perf_counter() - started
            searched = [max((w.seconds or 0) for w in rnd) for rnd in r.rounds]
            overhead = 1 - sum(searched) / wall
            t = time.perf_counter()
            size = len(model.to_bytes())
            to_bytes = time.perf_counter() - t
            single = dalo.BriskSolver(model).search(time_limit=a.seconds, seed=a.seed,
                                                    threads=a.workers, target=target)
            print(f"{name:6} {known or '-':>10} {-r.energy:>11} {r.time_found:>8.2f} "
                  f"{-single.energy:>10} {single.tts:>8.2f} {overhead:>8.1%} "
                  f"{(wall - sum(searched)) / len(r.rounds) * 1e3:>7.0f}ms {size:>8} "
                  f"{to_bytes * 1e3:>6.1f}ms", flush=True)


if __name__ == "__main__":
    main()
