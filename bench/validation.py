#!/usr/bin/env python3
"""Time to reference on the validation graphs of bench/instances/gen_graphs.py. A graph's
reference is the best cut of ten 60-second runs; ten seeds with a 10 s cap then report the
time to reach it, through `dalo solve` (BriskSolver, 2 threads).

    bench/validation.py refs  [--dir build/validation] [--runs 10] [--cap 60]
    bench/validation.py table [--dir build/validation] [--seeds 10] [--cap 10]
        common: [--only random-800,planar-2000-01] [--jobs 1] [--threads 2]

Every run is appended to DIR/runs.jsonl as it ends, and the runs found there are not repeated,
so either command may stop and go on later, or be split across machines by --only and the
files joined. A time run belongs to the reference it aimed at: when more reference runs raise
a reference, the table runs again for that graph. --jobs J runs J solves side by side, each
with --threads cores: give it J times that many.

`table` prints a row per graph (reference and the runs behind it, seeds at the reference, the
median and worst time to it with a miss counted as the cap, the median and worst value) and a
row per family and size (graphs at the reference in at least 90% of the seeds).
"""
import argparse
import collections
import concurrent.futures
import json
import os
import statistics
import subprocess
import sys
import threading

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
DALO = os.path.join(ROOT, "build", "tools", "dalo")
REF_SEEDS = 1001  # reference runs use seeds from here, apart from the timed seeds 1, 2, ...


def graphs(folder, only):
    names = sorted(f for f in os.listdir(folder) if f.count("-") == 2 and not f.endswith(".jsonl"))
    return [g for g in names if not only or any(g == o or g.startswith(o + "-") for o in only)]


def solve(path, seed, cap, threads, target):
    cmd = [DALO, "solve", path, "--format", "gset", "--threads", str(threads), "--time-limit",
           str(cap), "--seed", str(seed), "--quiet", "--json"]
    if target is not None:
        cmd += ["--best-known", str(target)]
    d = json.loads(subprocess.run(cmd, capture_output=True, text=True, check=True).stdout)
    return d["cut"], d["time_to_solution"]


class Runs:
    """The runs file: what is done, and appends from several workers."""

    def __init__(self, path):
        self.path, self.lock, self.rows = path, threading.Lock(), []
        if os.path.exists(path):
            self.rows = [json.loads(line) for line in open(path) if line.strip()]

    def done(self, **key):
        return any(all(r.get(k) == v for k, v in key.items()) for r in self.rows)

    def add(self, row):
        with self.lock:
            self.rows.append(row)
            with open(self.path, "a") as f:
                f.write(json.dumps(row) + "\n")

    def of(self, graph, kind):
        return [r for r in self.rows if r["graph"] == graph and r["kind"] == kind]

    def reference(self, graph):
        refs = self.of(graph, "ref")
        return (max(r["value"] for r in refs), len(refs)) if refs else (None, 0)


def run_all(jobs, tasks):
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        for f in concurrent.futures.as_completed([pool.submit(t) for t in tasks]):
            f.result()


def refs(a, runs):
    tasks = []
    for g in graphs(a.dir, a.only):
        for seed in range(REF_SEEDS, REF_SEEDS + a.runs):
            if runs.done(graph=g, kind="ref", seed=seed, cap=a.cap, threads=a.threads):
                continue
            def task(g=g, seed=seed):
                value, tts = solve(os.path.join(a.dir, g), seed, a.cap, a.threads, None)
                runs.add({"graph": g, "kind": "ref", "seed": seed, "cap": a.cap,
                          "threads": a.threads, "value": value, "tts": tts})
                print(f"{g} seed {seed}: {value} at {tts:.2f} s", flush=True)
            tasks.append(task)
    run_all(a.jobs, tasks)


def table(a, runs):
    tasks, chosen = [], graphs(a.dir, a.only)
    for g in chosen:
        ref, _ = runs.reference(g)
        if ref is None:
            continue
        for seed in range(1, a.seeds + 1):
            key = dict(graph=g, kind="tts", seed=seed, cap=a.cap, threads=a.threads, target=ref)
            if runs.done(**key):
                continue
            def task(g=g, key=key):
                value, tts = solve(os.path.join(a.dir, g), key["seed"], a.cap, a.threads,
                                   key["target"])
                runs.add({**key, "value": value, "tts": tts})
            tasks.append(task)
    run_all(a.jobs, tasks)
    print("| graph | reference (runs) | at reference | median time to it | worst | median value "
          "| worst value |")
    print("|---" * 7 + "|")
    met = collections.defaultdict(lambda: [0, 0])
    for g in chosen:
        ref, count = runs.reference(g)
        rows = [r for r in runs.of(g, "tts") if r["cap"] == a.cap and r["threads"] == a.threads
                and r["target"] == ref and r["seed"] <= a.seeds]
        if ref is None or not rows:
            print(f"| {g} | none | | | | | |")
            continue
        hits = sum(r["value"] == ref for r in rows)
        times = sorted(r["tts"] if r["value"] == ref else a.cap for r in rows)
        values = sorted(r["value"] for r in rows)
        print(f"| {g} | {ref} ({count}) | {hits}/{len(rows)} | {statistics.median(times):.3f} s | "
              f"{times[-1]:.3f} s | {statistics.median(values):g} | {values[0]} |")
        family = g.rsplit("-", 1)[0]
        met[family][0] += hits * 10 >= 9 * len(rows)
        met[family][1] += 1
    print("\n| family | graphs at the reference in at least 90% of the seeds |\n|---|---|")
    for family, (good, total) in met.items():
        print(f"| {family} | {good}/{total} |")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("command", choices=("refs", "table"))
    ap.add_argument("--dir", default=os.path.join(ROOT, "build", "validation"))
    ap.add_argument("--only", default="")
    ap.add_argument("--jobs", type=int, default=1)
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--runs", type=int, default=10)
    ap.add_argument("--seeds", type=int, default=10)
    ap.add_argument("--cap", type=float)
    a = ap.parse_args()
    a.only = [o for o in a.only.split(",") if o]
    if a.cap is None:
        a.cap = 60.0 if a.command == "refs" else 10.0
    if not os.path.isdir(a.dir):
        sys.exit(f"validation.py: no {a.dir}; make it with bench/instances/gen_graphs.py")
    runs = Runs(os.path.join(a.dir, "runs.jsonl"))
    (refs if a.command == "refs" else table)(a, runs)


if __name__ == "__main__":
    main()
