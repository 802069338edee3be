#!/usr/bin/env python3
"""Two builds of the plug-ins side by side on the same graphs and seeds: time to a target cut
through `dalo solve`, each arm loading its plug-ins from its own folder (DALO_LIB_DIR).

    bench/ab.py --a build/lib --b ../old/build/lib G22 build/validation/random-2000-03:13282
        [--seeds 1-20] [--threads 1] [--cap 10]

A graph is a G-set file path, with its target after a colon, or a name in ../shared/bench/
best_known.tsv (looked up in ../shared/bench/gset). The arms alternate which runs first at each
seed, so that drift in the machine's load falls on both. Each row gives an arm's seeds at the
target, the median and mean time to it (a miss counts as the cap) and the median and worst
value. With one thread a seed repeats its search exactly, so the row also counts the seeds
each arm reached at least a tenth sooner: a paired comparison. With more threads every run is a fresh sample,
and medians of ten of them scatter by a factor of two on this kind of VM, so gains measured
on one thread need confirming on the thread count that matters before they are kept.
"""
import argparse
import json
import os
import statistics
import subprocess

from solver_table import BENCH, DALO, known


def target_of(graph):
    path, _, value = graph.rpartition(":")
    if path and value.lstrip("-").isdigit():
        return path, int(value)
    best = known()
    name = os.path.basename(graph)
    if name not in best:
        raise SystemExit(f"ab.py: no target for {graph}: write it as {graph}:VALUE")
    return graph if os.path.exists(graph) else os.path.join(BENCH, "gset", name), best[name]


def solve(lib, path, target, seed, cap, threads):
    env = dict(os.environ, DALO_LIB_DIR=os.path.abspath(lib))
    out = subprocess.run([DALO, "solve", path, "--threads", str(threads), "--time-limit",
                          str(cap), "--seed", str(seed), "--best-known", str(target), "--quiet",
                          "--json"], capture_output=True, text=True, check=True, env=env).stdout
    d = json.loads(out)
    hit = d["cut"] >= target
    return {"value": d["cut"], "time": d["time_to_solution"] if hit else cap, "hit": hit}


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("graphs", nargs="+")
    ap.add_argument("--a", required=True, help="plug-in folder of arm a")
    ap.add_argument("--b", required=True, help="plug-in folder of arm b")
    ap.add_argument("--seeds", default="1-10", help="first-last")
    ap.add_argument("--threads", type=int, default=1)
    ap.add_argument("--cap", type=float, default=10.0)
    a = ap.parse_args()
    first, _, last = a.seeds.partition("-")
    seeds = range(int(first), int(last or first) + 1)
    print("| graph | target | arm | at it | median time | mean time | median value | worst value "
          "| sooner |")
    print("|---" * 9 + "|")
    for graph in a.graphs:
        path, target = target_of(graph)
        runs = {"a": [], "b": []}
        for k, seed in enumerate(seeds):
            for arm in ("a", "b") if k % 2 == 0 else ("b", "a"):
                runs[arm].append(solve(getattr(a, arm), path, target, seed, a.cap, a.threads))
        pairs = list(zip(runs["a"], runs["b"]))
        for arm in ("a", "b"):
            r = runs[arm]
            times = [x["time"] for x in r]
            values = sorted(x["value"] for x in r)
            # Sooner by a tenth at least: the same search timed twice differs by a few percent.
            mine, theirs = (1, 0) if arm == "b" else (0, 1)
            sooner = sum(1 for p in pairs if p[mine]["time"] < 0.9 * p[theirs]["time"])
            print(f"| {os.path.basename(path)} | {target} | {arm} | {sum(x['hit'] for x in r)}/{len(r)} "
                  f"| {statistics.median(times):.3f} s | {statistics.mean(times):.3f} s "
                  f"| {statistics.median(values):g} | {values[0]} | "
                  f"{sooner if a.threads == 1 else '-'} |", flush=True)


if __name__ == "__main__":
    main()
