"""Every QAPLIB and TSPLIB file in ../shared/bench: dalo over several seeds at a short and a
long cap, beside the annealing sampler on the same model as a penalty QUBO and, for tours,
CBC on the arc formulation that `dalo export-lp` writes. One peer process at a time runs
beside another only when both are single-threaded; dalo runs alone.

    VENV/bin/python bench/python/permutation_table.py [--seeds 5] [--short 10] [--long 60]
        [--raw FILE] [NAME ...]

dalo stops at the best known value (--best-known). A seed that reaches it within the short cap
counts as reaching it within the long one too; the others run again with the long cap. The
annealer gets one run per cap (on the long cap only where dalo needed more than the short
one); CBC one run with the long cap, whose log gives its best tour at the short cap too.
Raw results go to FILE as JSON lines; the markdown tables go to standard output.
"""
import argparse
import concurrent.futures
import json
import os
import re
import statistics
import subprocess
import tempfile

import numpy as np

from permutations import BENCH, DALO, anneal
from permutations import read as read_euclidean


def names():
    out = []
    for kind, column in (("qap", 0), ("tsp", 0)):
        rows = open(os.path.join(BENCH, kind, "best_known.tsv")).read().splitlines()[1:]
        out += [r.split("\t")[column] for r in rows]
    return out


def read(name):
    """As permutations.read, for tours under every distance rule: the distances are the
    objective of the arc model that `dalo export-lp` writes."""
    path = os.path.join(BENCH, "tsp", name + ".tsp")
    if not os.path.exists(path):
        return read_euclidean(name)
    with tempfile.TemporaryDirectory() as d:
        lp = os.path.join(d, "tour.lp")
        subprocess.run([DALO, "export-lp", path, lp], check=True, capture_output=True)
        text = open(lp).read()
    objective = text[text.index("obj:"):text.index("Subject To")]
    arcs = [(int(i), int(j), int(c)) for c, i, j in re.findall(r"([+-]\d+) x_(\d+)__(\d+)_", objective)]
    n = int(re.search(r"DIMENSION\s*:\s*(\d+)", open(path).read()).group(1))
    dist = np.zeros((n, n), dtype=np.int64)
    for i, j, c in arcs:
        dist[i, j] = c
    known = {l.split("\t")[0]: int(l.split("\t")[1])
             for l in open(os.path.join(BENCH, "tsp", "best_known.tsv")).readlines()[1:]}
    return "tsp", None, dist, known[name], path


def dalo(kind, path, known, seconds, seed):
    args = [DALO, "solve", path, "--threads", "2", "--time-limit", str(seconds), "--seed",
            str(seed), "--best-known", str(known), "--quiet", "--json"]
    args += ["--format", "qap"] if kind == "qap" else []
    out = json.loads(subprocess.run(args, capture_output=True, text=True).stdout)
    return {"cost": out["cost"] if out["feasible"] else None,
            "tts": out["time_to_solution"], "weight": out["weight"]}


def cbc(path, short, long):
    """Best tour within short and within long seconds, and whether CBC proved it optimal."""
    with tempfile.TemporaryDirectory() as d:
        lp = os.path.join(d, "tour.lp")
        subprocess.run([DALO, "export-lp", path, lp], check=True, capture_output=True)
        log = subprocess.run(["cbc", lp, "sec", str(long), "threads", "1", "solve"],
                             capture_output=True, text=True).stdout
    found = [(float(t), round(float(c))) for c, t in
             re.findall(r"Integer solution of (-?[\d.e+]+) found.*?\(([\d.]+) seconds\)", log)]
    at = lambda cap: min((c for t, c in found if t <= cap), default=None)  # noqa: E731
    return {"short": at(short), "long": at(long), "optimal": "Optimal solution found" in log}


def gap(c, known):
    return "—" if c is None else f"{100 * (c - known) / known:+.2f}%"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("names", nargs="*")
    ap.add_argument("--seeds", type=int, default=5)
    ap.add_argument("--short", type=float, default=10.0)
    ap.add_argument("--long", type=float, default=60.0)
    ap.add_argument("--raw", default=os.devnull)
    a = ap.parse_args()
    raw = open(a.raw, "a")
    rows = {}
    for name in a.names or names():
        kind, flow, dist, known, path = read(name)
        runs = []
        for seed in range(1, a.seeds + 1):
            r = dalo(kind, path, known, a.short, seed)
            r["long"] = dict(r) if r["cost"] == known else dalo(kind, path, known, a.long, seed)
            runs.append(r)
            raw.write(json.dumps({"name": name, "seed": seed, **r}) + "\n")
            raw.flush()
        rows[name] = dict(kind=kind, flow=flow, dist=dist, known=known, path=path, runs=runs)
    # The peers, two single-threaded processes at a time.
    with concurrent.futures.ProcessPoolExecutor(2) as pool:
        jobs = {}
        for name, r in rows.items():
            w = r["runs"][0]["weight"]
            needs_long = any(x["cost"] != r["known"] for x in r["runs"])
            jobs[name, "sa_short"] = pool.submit(anneal, r["kind"], r["flow"], r["dist"], w, a.short, 1)
            jobs[name, "sa_long"] = (pool.submit(anneal, r["kind"], r["flow"], r["dist"], w, a.long, 1)
                                     if needs_long else jobs[name, "sa_short"])
            if r["kind"] == "tsp":
                jobs[name, "cbc"] = pool.submit(cbc, r["path"], a.short, a.long)
        for name, r in rows.items():
            r["sa"] = (jobs[name, "sa_short"].result(), jobs[name, "sa_long"].result())
            r["cbc"] = jobs[name, "cbc"].result() if (name, "cbc") in jobs else None
            raw.write(json.dumps({"name": name, "annealer": r["sa"], "cbc": r["cbc"]}) + "\n")
            raw.flush()
    for kind in ("qap", "tsp"):
        print(f"\n| {kind} | n | best known | dalo {a.short:g} s: median gap, worst | "
              f"at best known within {a.short:g} s | median time to it | dalo {a.long:g} s: "
              f"median gap, worst | at best known within {a.long:g} s | median time to it | annealer {a.short:g} s"
              f" / {a.long:g} s |" + (" CBC (arc model) short / long |" if kind == "tsp" else ""))
        print("|---" * (10 if kind == "qap" else 11) + "|")
        for name, r in rows.items():
            if r["kind"] != kind:
                continue
            k, runs = r["known"], r["runs"]
            cost = lambda x: x["cost"] if x["cost"] is not None else 10 ** 12  # noqa: E731
            short = sorted(cost(x) for x in runs)
            long = sorted(cost(x["long"]) for x in runs)
            hit_s = [x["tts"] for x in runs if x["cost"] == k]
            hit_l = [x["long"]["tts"] for x in runs if x["long"]["cost"] == k]
            median = lambda h: f"{statistics.median(h):.2f} s" if len(h) * 2 > len(runs) else "—"  # noqa: E731
            line = (f"| {name} | {len(r['dist'])} | {k} | {gap(statistics.median(short), k)}, "
                    f"{gap(short[-1], k)} | {len(hit_s)}/{len(runs)} | {median(hit_s)} | "
                    f"{gap(statistics.median(long), k)}, {gap(long[-1], k)} | "
                    f"{len(hit_l)}/{len(runs)} | {median(hit_l)} | {gap(r['sa'][0], k)} / {gap(r['sa'][1], k)} |")
            if kind == "tsp":
                c = r["cbc"]
                line += f" {gap(c['short'], k)} / {gap(c['long'], k)}{' (optimal)' if c['optimal'] else ''} |"
            print(line, flush=True)


if __name__ == "__main__":
    main()
