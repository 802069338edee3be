#!/usr/bin/env python3
"""Time to the best known value over several seeds: every G-set file and every OR-Library
BQP instance in ../shared/bench, through `dalo solve` (BriskSolver, 2 threads unless --threads
says otherwise, stopping at the best known value).

    bench/solver_table.py [--seeds 10] [--cap 10] [--long-cap 60] [--long G55,G60]
        [--only G22,bqp250] [--threads 2] [--raw FILE]

Files named in --long get the long cap. Each row gives the seeds that reached the best known
value, the median and worst time to it (a seed that missed counts as the cap), the median and
worst value found, and the median flips per second. Raw results go to FILE as JSON lines. With
--threads 1 a seed repeats its search exactly, so two plug-ins compare without the scatter of
thread timing.
"""
import argparse
import json
import os
import statistics
import subprocess

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
BENCH = os.path.join(ROOT, "..", "shared", "bench")
DALO = os.path.join(ROOT, "build", "tools", "dalo")


def known():
    rows = open(os.path.join(BENCH, "best_known.tsv")).read().splitlines()[1:]
    return {r.split("\t")[0]: int(r.split("\t")[3]) for r in rows}


def cases(best, only):
    for name in ("G1", "G2", "G3", "G11", "G14", "G22", "G32", "G35", "G43", "G48", "G55", "G60"):
        path = os.path.join(BENCH, "gset", name)
        if os.path.exists(path) and name in best:
            yield name, [path], best[name]
    for size in (50, 100, 250, 500, 1000):
        path = os.path.join(BENCH, "bqp", f"bqp{size}.txt")
        for k in range(1, 11):
            name = f"bqp{size}.{k}"
            if os.path.exists(path) and name in best:
                yield name, [path, "--format", "bqp", "--instance", str(k)], best[name]


def run(args, bk, cap, seed, threads):
    out = subprocess.run([DALO, "solve", *args, "--threads", str(threads), "--time-limit", str(cap),
                          "--seed", str(seed), "--best-known", str(bk), "--quiet", "--json"],
                         capture_output=True, text=True, check=True).stdout
    d = json.loads(out)
    value = d.get("cut", d.get("value"))
    seconds = float(d["info"].get("run_time", d["run_time"]))
    flips = int(d["info"].get("flips", 0))
    return {"value": value, "tts": d["time_to_solution"], "hit": value == bk,
            "flips_per_s": flips / seconds if seconds > 0 else 0.0}


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("--seeds", type=int, default=10)
    ap.add_argument("--cap", type=float, default=10.0)
    ap.add_argument("--long-cap", type=float, default=60.0)
    ap.add_argument("--long", default="G55,G60")
    ap.add_argument("--only", default="")
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--raw", default=os.devnull)
    a = ap.parse_args()
    only = [o for o in a.only.split(",") if o]
    longs = set(a.long.split(","))
    raw = open(a.raw, "a")
    print("| instance | best known | cap | at best known | median time to it | worst | "
          "median value | worst value | flips/s (median) |")
    print("|---" * 9 + "|")
    for name, args, bk in cases(known(), only):
        if only and not any(name == o or name.startswith(o + ".") for o in only):
            continue
        cap = a.long_cap if name in longs else a.cap
        runs = [run(args, bk, cap, seed, a.threads) for seed in range(1, a.seeds + 1)]
        for seed, r in enumerate(runs, 1):
            raw.write(json.dumps({"name": name, "seed": seed, "cap": cap, "threads": a.threads, **r}) + "\n")
        raw.flush()
        times = sorted(r["tts"] if r["hit"] else cap for r in runs)
        values = sorted((r["value"] for r in runs), reverse=True)
        hits = sum(r["hit"] for r in runs)
        print(f"| {name} | {bk} | {cap:g} s | {hits}/{len(runs)} | {statistics.median(times):.3f} s | "
              f"{times[-1]:.3f} s | {statistics.median(values):g} | {values[-1]} | "
              f"{statistics.median(r['flips_per_s'] for r in runs) / 1e6:.1f} M |", flush=True)


if __name__ == "__main__":
    main()
