"""Solving on a Dask cluster: a portfolio search of one hard Model over every worker, and
batches of Models, one task each.

    from dask.distributed import Client
    import dalo.distributed
    client = Client("tcp://scheduler:8786")
    r = dalo.distributed.portfolio(model, client, time_limit=60)
    results = dalo.distributed.solve_many(models, client, time_limit=10)

    python -m dalo.distributed solve G22 --scheduler tcp://scheduler:8786 --time-limit 60

Models travel as their bytes (``pickle`` uses ``Model.to_bytes``) and are registered afresh
on each worker; solutions travel as their values by model index, so every Sol handed back
belongs to the caller's own Model.
"""
from __future__ import annotations

import dataclasses
import time
from typing import Any, Dict, List, Optional, Sequence

from . import _core

try:
    import distributed as _dd
except ImportError as e:  # pragma: no cover - the extra is not installed
    raise ImportError("dalo.distributed needs dask.distributed: pip install 'dalo[distributed]'") from e

_SOLVERS = {"brisk": _core.BriskSolver, "kelp": _core.KelpSolver, "sweep": _core.SweepSolver}


def _state(sol) -> tuple:
    return sol.bits(), sol.int_values()


def _sol(model, state) -> "_core.Sol":
    bits, ints = state
    s = _core.Sol(model)
    s.set_bits(bits)
    s.set_int_values(ints)
    s.comp_energy()
    return s


def _search(model, solver: str, options: Dict[str, Any], hint: Optional[tuple]) -> Dict[str, Any]:
    """One search on a worker, with the options that are set; plain values come back, so
    the result pickles cheaply."""
    started = time.perf_counter()
    kwargs = {k: v for k, v in options.items() if v is not None}
    if hint is not None and solver != "sweep":  # the exhaustive search takes no hint
        kwargs["hint"] = _sol(model, hint)
    r = _SOLVERS[solver](model).search(**kwargs)
    return {"energy": r.energy, "tts": r.tts, "state": _state(r.sol), "info": dict(r.info),
            "seconds": time.perf_counter() - started}


@dataclasses.dataclass
class WorkerRound:
    """What one worker did in one round."""
    round: int
    worker: str
    seed: int
    status: str  # "done", "error" or "lost" (no answer within the round's bound)
    energy: Optional[int] = None
    tts: Optional[float] = None
    seconds: Optional[float] = None
    error: Optional[str] = None


@dataclasses.dataclass
class PortfolioResult:
    energy: int
    sol: Any  # a dalo.Sol of the caller's Model
    time_found: float  # seconds from the start of the portfolio to the round result that found it
    rounds: List[List[WorkerRound]]
    info: Dict[str, str]


def portfolio(model, client, time_limit: float, solver: str = "brisk",
              rounds: Optional[int] = None, threads_per_worker: int = 1, seed: int = 0,
              target: Optional[int] = None, elite: Optional[int] = None,
              grace: float = 5.0) -> PortfolioResult:
    """Searches model on every worker of client for time_limit seconds in rounds.

    Each round, every worker searches with its own seed, starting from one of the best
    states found so far (the elite, handed out in turn); the round's answers join the
    elite. A worker that dies or does not answer within the round time plus ``grace``
    seconds is dropped and the search goes on with the rest; what earlier rounds returned
    is kept. Stops early once an energy at or below ``target`` is found.
    """
    if solver not in _SOLVERS:
        raise ValueError(f"dalo.distributed.portfolio: unknown solver {solver!r} (brisk or kelp)")
    if solver == "sweep":
        raise ValueError("dalo.distributed.portfolio: the sweep solver is exhaustive; use solve_many")
    if time_limit <= 0:
        raise ValueError("dalo.distributed.portfolio: time_limit must be positive")
    # Rounds of about 10 s: each restart from the elite costs the search its momentum.
    rounds = rounds or max(1, min(10, round(time_limit / 10)))
    round_time = time_limit / rounds
    workers = sorted(client.scheduler_info()["workers"])
    if not workers:
        raise RuntimeError("dalo.distributed.portfolio: the cluster has no workers")
    elite = elite or max(2, len(workers))
    shared = client.scatter(model, broadcast=True, hash=False)
    start = time.perf_counter()
    pool: List[tuple] = []  # (energy, state, found at)
    history: List[List[WorkerRound]] = []
    for rnd in range(rounds):
        jobs = []
        for k, w in enumerate(workers):
            s = seed + rnd * 7919 + k
            hint = pool[k % len(pool)][1] if pool else None
            options = dict(time_limit=round_time, seed=s, threads=threads_per_worker, target=target)
            f = client.submit(_search, shared, solver, options, hint, workers=[w],
                              allow_other_workers=False, pure=False)
            jobs.append((w, s, f))
        try:
            _dd.wait([f for _, _, f in jobs], timeout=round_time + grace)
        except _dd.TimeoutError:
            pass
        record, alive = [], []
        for w, s, f in jobs:
            if f.status == "finished":
                out = f.result()
                found = time.perf_counter() - start
                pool.append((out["energy"], out["state"], found))
                record.append(WorkerRound(rnd, w, s, "done", out["energy"], out["tts"],
                                          out["seconds"]))
                alive.append(w)
            elif f.status == "error":
                record.append(WorkerRound(rnd, w, s, "error", error=repr(f.exception())))
            else:
                f.cancel()
                record.append(WorkerRound(rnd, w, s, "lost"))
        history.append(record)
        pool.sort(key=lambda p: (p[0], p[2]))
        del pool[elite:]
        live = set(client.scheduler_info()["workers"])
        workers = [w for w in alive if w in live]
        if not workers or (target is not None and pool and pool[0][0] <= target):
            break
    if not pool:
        raise RuntimeError("dalo.distributed.portfolio: no worker returned a result")
    energy, state, found = pool[0]
    best = next(r for rec in history for r in rec if r.status == "done" and r.energy == energy)
    info = {"rounds": str(len(history)), "round_seconds": f"{round_time:.3f}",
            "best_worker": best.worker, "best_round": str(best.round)}
    return PortfolioResult(energy, _sol(model, state), found, history, info)


@dataclasses.dataclass
class Outcome:
    """The result of one Model of a batch, or why there is none."""
    energy: Optional[int] = None
    sol: Any = None
    tts: Optional[float] = None
    info: Optional[Dict[str, str]] = None
    error: Optional[str] = None

    @property
    def ok(self) -> bool:
        return self.error is None


def solve_many(models: Sequence, client, solver: str = "brisk", progress: bool = True,
               **search_options) -> List[Outcome]:
    """One task per Model, searched with the solver's own defaults for the options not
    given (seed, time_limit, threads, target, topk); the outcomes come back in input order,
    a failed Model as an Outcome with its error, without losing the others."""
    if solver not in _SOLVERS:
        raise ValueError(f"dalo.distributed.solve_many: unknown solver {solver!r} "
                         "(brisk, kelp or sweep)")
    known = {"seed", "time_limit", "threads", "target", "topk"}
    unknown = set(search_options) - known
    if unknown:
        raise TypeError(f"dalo.distributed.solve_many: unknown options {sorted(unknown)}")
    futures = [client.submit(_search, m, solver, search_options, None, pure=False) for m in models]
    if progress:
        _dd.progress(futures)
    out = []
    for m, f in zip(models, futures):
        try:
            r = f.result()
        except Exception as e:  # one Model's failure stays its own
            out.append(Outcome(error=f"{type(e).__name__}: {e}"))
            continue
        out.append(Outcome(r["energy"], _sol(m, r["state"]), r["tts"], r["info"]))
    return out


def _file_model(path: str, fmt: str, instance: int):
    """The Model of a problem file as `dalo solve` builds it, with the problem's facts."""
    p = _core._read_problem(path, fmt, instance)
    x = _core.var("x", shape=(max(p["n"], 1),)) if p["n"] else None
    expr = _core.quadratic(x, p["i"], p["j"], p["w"]) if x is not None else _core.Expr(0)
    expr = (expr + p["offset"]).simplify_as_binary()
    return _core.Model(expr), x, expr.term_count, p


def main(argv: Optional[Sequence[str]] = None) -> int:
    """python -m dalo.distributed solve FILE --scheduler ADDRESS: the portfolio on a running
    cluster, printing what `dalo solve` prints."""
    import argparse
    import json
    import sys

    ap = argparse.ArgumentParser(prog="python -m dalo.distributed",
                                 description="solve a problem file on a Dask cluster")
    sub = ap.add_subparsers(dest="command", required=True)
    s = sub.add_parser("solve", help="minimise the QUBO in FILE with the portfolio")
    s.add_argument("file", metavar="FILE")
    s.add_argument("--scheduler", required=True, metavar="ADDRESS",
                   help="the scheduler, e.g. tcp://10.0.0.1:8786")
    s.add_argument("--format", default="", help="the file's format (default: sniffed)")
    s.add_argument("--instance", type=int, default=1, help="instance number in a bqp file")
    s.add_argument("--solver", default="brisk", choices=["brisk", "kelp"])
    s.add_argument("--time-limit", type=float, default=10.0, metavar="S")
    s.add_argument("--rounds", type=int, default=None, help="rounds of the portfolio")
    s.add_argument("--seed", type=int, default=0)
    s.add_argument("--threads", type=int, default=1, help="threads per worker")
    s.add_argument("--best-known", type=int, default=None, metavar="V",
                   help="best known cut or value: reported, and the search stops there")
    s.add_argument("--json", action="store_true", help="one JSON object instead of lines")
    a = ap.parse_args(argv)
    try:
        perm = _core._read_permutation(a.file, a.format)
        if perm is not None:
            return _solve_permutation(a, perm)
        model, x, terms, p = _file_model(a.file, a.format, a.instance)
    except _core.Error as e:
        print(str(e) if str(e).startswith("dalo: ") else f"dalo: {e}", file=sys.stderr)
        return 2
    if not a.json:
        print(f"solving {a.file} ({p['format']}, {p['n']} variables, {terms} terms) with "
              f"{a.solver}", flush=True)
    target = p["sign"] * a.best_known if a.best_known is not None else None
    started = time.perf_counter()
    with _dd.Client(a.scheduler) as client:
        r = portfolio(model, client, a.time_limit, solver=a.solver, rounds=a.rounds,
                      threads_per_worker=a.threads, seed=a.seed, target=target)
    run_time = time.perf_counter() - started
    bits = "".join("1" if x is not None and r.sol.has(x[k]) and r.sol[x[k]] else "0"
                   for k in range(p["n"]))
    if a.json:
        out = {"instance": a.file, "format": p["format"]}
        if p["format"] == "bqp":
            out["instance_number"] = a.instance
        out.update(variables=p["n"], terms=terms, solver=a.solver, seed=a.seed,
                   threads=a.threads, energy=r.energy)
        if p["sign"] != 1:
            out[p["value_name"]] = p["sign"] * r.energy
        if a.best_known is not None:
            out["best_known"] = a.best_known
        out.update(time_to_solution=r.time_found, run_time=run_time,
                   assignment=[int(b) for b in bits],
                   labels=[json.loads(n) for n in p["names"]] if p["names"] else p["labels"],
                   info=r.info)
        print(json.dumps(out, separators=(",", ":")))
        return 0
    print(f"energy {r.energy}")
    if p["sign"] != 1:
        known = f" (best known {a.best_known})" if a.best_known is not None else ""
        print(f"{p['value_name']} {p['sign'] * r.energy}{known}")
    print(f"time_to_solution {r.time_found:.3f} s")
    print(f"assignment {bits}")
    return 0


def _solve_permutation(a, perm) -> int:
    """A QAPLIB or TSPLIB file: the one-hot model on the cluster, the best state read back as
    `dalo solve` reads it; status 3 when it breaks a constraint."""
    import json

    model, tour = perm.model(), perm.format == "tsp"
    if not a.json:
        print(f"solving {a.file} ({perm.format}, {perm.n} {'cities' if tour else 'facilities'}, "
              f"{model.var_count} variables, {perm.terms} terms, {2 * perm.n} one-hot constraints "
              f"of weight {perm.weight}) with {a.solver}", flush=True)
    started = time.perf_counter()
    with _dd.Client(a.scheduler) as client:
        r = portfolio(model, client, a.time_limit, solver=a.solver, rounds=a.rounds,
                      threads_per_worker=a.threads, seed=a.seed, target=a.best_known)
    run_time = time.perf_counter() - started
    feasible, violations, cost, order = perm.decode(r.sol)
    name = "tour" if tour else "permutation"
    if a.json:
        out = {"instance": a.file, "format": perm.format, "n": perm.n,
               "variables": model.var_count, "terms": perm.terms, "weight": perm.weight,
               "solver": a.solver, "energy": r.energy, "cost": cost}
        if a.best_known is not None:
            out["best_known"] = a.best_known
        out.update({name: [v or None for v in order], "feasible": feasible,
                    "violations": violations, "time_to_solution": r.time_found,
                    "run_time": run_time, "assignment": [int(b) for b in perm.bits(r.sol)],
                    "info": r.info})
        print(json.dumps(out, separators=(",", ":")))
        return 0 if feasible else 3
    known = f" (best known {a.best_known})" if a.best_known is not None else ""
    print(f"energy {r.energy}\ncost {cost}{known}\ntime_to_solution {r.time_found:.3f} s")
    print(name + "".join(f" {v}" if v else " -" for v in order))
    if not feasible:
        print(f"violations {violations}")
    print(f"feasible {'yes' if feasible else 'no'}")
    return 0 if feasible else 3


if __name__ == "__main__":
    raise SystemExit(main())
