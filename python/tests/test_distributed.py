"""dalo.distributed on a two-process LocalCluster (loopback only): Models as bytes, the
portfolio against brute force and against a local search, a worker killed mid-search, and
batches with a failing Model."""
import itertools
import os
import pickle
import signal
import threading

import numpy as np
import pytest

distributed = pytest.importorskip("distributed")
import dalo  # noqa: E402
import dalo.distributed as dd  # noqa: E402


def small_model(seed, n=10):
    rng = np.random.default_rng(seed)
    x = dalo.var(f"p{seed}", shape=(n,))
    k = dalo.int_var(f"k{seed}", 0, 3)
    f = dalo.quadratic(x, rng.integers(-6, 7, size=(n, n))) + 2 * (k - 1) * x[0] + k
    f += dalo.cons(x.sum(), 2, 5)
    return dalo.Model(f.simplify_as_binary()), x, k


def energies(model, x, k):
    s, out = dalo.Sol(model), []
    for bits in itertools.product((0, 1), repeat=x.shape[0]):
        s.set_bits(bytes(bits))
        for v in range(4):
            s.set_int_values([v])
            out.append(s.comp_energy())
    return out


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None, host="127.0.0.1") as cluster:
        with distributed.Client(cluster) as c:
            yield c


def test_models_travel_as_bytes_exactly():
    model, x, k = small_model(1)
    back = pickle.loads(pickle.dumps(model))
    assert back.to_bytes() == model.to_bytes()
    assert energies(back, x, k) == energies(model, x, k)
    data = bytearray(model.to_bytes())
    data[-1] ^= 1
    with pytest.raises(dalo.Error, match="Model.from_bytes: checksum mismatch"):
        dalo.Model.from_bytes(bytes(data))
    with pytest.raises(dalo.Error, match="too short for a Model header"):
        dalo.Model.from_bytes(b"DALO")


def test_portfolio_reaches_the_optimum_and_equals_a_local_search(client):
    model, x, k = small_model(2)
    optimum = min(energies(model, x, k))
    r = dd.portfolio(model, client, time_limit=1.0, rounds=2, seed=5)
    assert r.energy == optimum == r.sol.comp_energy()
    assert [len(rnd) for rnd in r.rounds] == [2, 2]
    assert {w.status for rnd in r.rounds for w in rnd} == {"done"}
    # One round's answers are those of local searches with the same seeds.
    first = r.rounds[0][0]
    local = dalo.BriskSolver(model).search(time_limit=0.5, seed=first.seed, threads=1)
    assert first.energy == local.energy == optimum


def test_a_killed_worker_is_dropped_and_the_search_goes_on(client):
    model, x, k = small_model(3)
    victim = sorted(client.scheduler_info()["workers"])[0]
    pid = client.run(os.getpid, workers=[victim])[victim]
    threading.Timer(0.5, os.kill, (pid, signal.SIGKILL)).start()
    r = dd.portfolio(model, client, time_limit=3.0, rounds=2, grace=2.0)
    assert r.energy == min(energies(model, x, k))
    assert "done" in {w.status for w in r.rounds[0]}
    assert {w.status for w in r.rounds[0] if w.worker == victim} <= {"error", "lost"}
    client.wait_for_workers(2, timeout=30)


def test_batches_keep_their_order_and_their_failures(client):
    built = [small_model(s) for s in (4, 5, 6)]
    too_big = dalo.Model((dalo.var("w", shape=(60,)).sum() - 3).sqr().simplify_as_binary())
    models = [built[0][0], too_big, built[1][0], built[2][0]]
    out = dd.solve_many(models, client, solver="sweep", progress=False)
    assert [o.ok for o in out] == [True, False, True, True]
    assert "exceed the enumeration limit of 48" in out[1].error
    for o, (m, x, k) in zip([out[0], out[2], out[3]], built):
        assert o.energy == o.sol.comp_energy() == min(energies(m, x, k))


def test_the_command_line_prints_what_dalo_solve_prints(client, tmp_path, capsys):
    edges = [(1, 2, 1), (2, 3, 1), (3, 4, -1), (4, 5, 1), (5, 1, 1), (1, 3, 1)]
    path = tmp_path / "tiny.gset"
    path.write_text("5 6\n" + "".join(f"{i} {j} {w}\n" for i, j, w in edges))

    def cut(bits):
        return sum(w for i, j, w in edges if bits[i - 1] != bits[j - 1])

    best = max(cut(b) for b in itertools.product((0, 1), repeat=5))
    argv = ["solve", str(path), "--scheduler", client.scheduler.address, "--time-limit", "1"]
    assert dd.main(argv + ["--best-known", str(best)]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[0].startswith(f"solving {path} (gset, 5 variables, ")
    assert lines[1:3] == [f"energy {-best}", f"cut {best} (best known {best})"]
    assert lines[3].startswith("time_to_solution ") and lines[4].startswith("assignment ")
    assert cut([int(c) for c in lines[4].split()[1]]) == best
    path.write_text("5 6\n1 2 1\n")
    assert dd.main(argv) == 2
    assert capsys.readouterr().err == (f"dalo: {path}: expected 6 edges, found 1 (truncated file?) "
                                       "(guessed format gset; use --format gset|bqp|qubo|qbsolv|bqm)\n")


def test_the_command_line_solves_a_qaplib_file(client, capsys):
    nug12 = os.path.join(os.path.dirname(__file__), "..", "..", "tests", "tools", "data", "nug12.dat")
    argv = ["solve", nug12, "--scheduler", client.scheduler.address, "--time-limit", "4",
            "--best-known", "578"]
    assert dd.main(argv) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[0].startswith(f"solving {nug12} (qap, 12 facilities, 144 variables, ")
    assert lines[1:3] == ["energy 578", "cost 578 (best known 578)"]
    assert lines[4].startswith("permutation ") and lines[5] == "feasible yes"
    assert sorted(int(v) for v in lines[4].split()[1:]) == list(range(1, 13))
