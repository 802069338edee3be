"""The Python package: operators against the front end's expression texts, numpy round
trips, errors raised before the library is called, solvers, and the C++ examples again."""
import itertools
import os

import numpy as np
import pytest

import dalo


def test_operators_give_the_front_end_texts():
    x, y, z = dalo.var("x"), dalo.var("y"), dalo.var("z")
    assert str(x + y) == "x +y"
    assert str(x + 3) == "3 +x"
    assert str(3 - x) == "3 -x"
    assert str(x * y) == "x*y"
    assert isinstance(x * y, dalo.Term)
    assert str(2 * x * y * z) == "2*x*y*z"
    assert str(-x) == "-x"
    assert str(~x) == "~x"
    assert str((x + 1) * (y + 2)) == "2 +y +2*x +x*y"
    assert str((x + y) ** 2) == str((x + y).sqr())
    assert str((x + 1) ** 0) == "1"
    assert str((4 * x + 8) // 4) == "2 +x"
    assert str(sum([x, y, z])) == "x +y +z"
    assert str(dalo.sum([x, 2 * y, z + 1])) == "1 +x +2*y +z"
    e = x + y
    e += z
    e *= 2
    assert str(e) == "2*x +2*y +2*z"
    assert str((x * y + y * x - 3 * x + 3 * x).simplify_as_binary()) == "2*x*y"
    assert (2 * x - 3 * y + 1).pos_sum() == 3
    assert (x * y + 1).eval({x: 1, y: 1}) == 2
    with pytest.raises(ValueError):
        x ** -1
    with pytest.raises(TypeError):
        x + "one"


def test_numpy_round_trips_and_arrays():
    values = np.arange(12, dtype=np.int64).reshape(3, 4) - 5
    a = dalo.ints(values)
    assert a.shape == (3, 4)
    np.testing.assert_array_equal(a.to_numpy(), values)
    np.testing.assert_array_equal(np.asarray(a), values)
    with pytest.raises(ValueError):
        dalo.ints(np.array([2**40]))
    x = dalo.var("q", shape=(3, 4))
    assert x.shape == (3, 4) and x[1, 2].name == "q[1][2]" and x[-1, -1].name == "q[2][3]"
    assert str(x[1]) == "{q[1][0],q[1][1],q[1][2],q[1][3]}"
    with pytest.raises(IndexError):
        x[3, 0]
    assert str((x + a)[0, 0]) == "-5 +q[0][0]"
    assert str((x * values)[2, 3]) == "6*q[2][3]"
    assert str(x.sum(axis=1)[0]) == "q[0][0] +q[0][1] +q[0][2] +q[0][3]"
    with pytest.raises(ValueError, match="shape mismatch"):
        x + dalo.var("r", shape=(4, 3))
    assert dalo.einsum("ij,ij->", a, a).to_numpy() == int((values * values).sum())
    assert dalo.einsum("ij,ij->i", a, x).shape == (3,)
    m = dalo.Model((2 * x.sum()).simplify_as_binary())
    s = dalo.Sol(m)
    s[x[1, 1]] = 1
    s[x[2, 3]] = 1
    np.testing.assert_array_equal(s.values(x), [[0, 0, 0, 0], [0, 1, 0, 0], [0, 0, 0, 1]])
    with pytest.raises(ValueError, match="comp_energy"):
        s.energy
    assert s.comp_energy() == 4


def test_constraints_and_checks_before_the_call():
    x, y = dalo.var("a"), dalo.var("b")
    f = x - y + dalo.cons(x + y, equal=1) + 2 * dalo.cons(x + y, 0, 1)
    assert f.is_declared()
    with pytest.raises(ValueError):
        dalo.cons(x + y, 0)
    with pytest.raises(ValueError):
        dalo.cons(x + y, equal=[])
    with pytest.raises(ValueError):
        dalo.abs(x + y, k=3)
    with pytest.raises(ValueError):
        dalo.int_var("k", 3, 3)
    m = dalo.Model(f.simplify_as_binary())
    solver = dalo.BriskSolver(m)
    with pytest.raises(TypeError):
        solver.search(time_limt=1.0)
    with pytest.raises(ValueError):
        solver.search(threads=0)
    r = solver.search(time_limit=0.5, seed=3, threads=1, topk=2)
    assert r.energy == -1 and r.sol[y] == 1 and f.violations(r.sol) == 0
    assert [e for e, _ in r.topk][0] == -1
    assert "threads" in r.info
    exact = dalo.SweepSolver(m).search(best_energy_sols=0)
    assert exact.energy == -1


def test_knapsack_with_integer_variables_reaches_the_exhaustive_optimum():
    weight, value, limit = [4, 3, 7, 5, 2], [9, 7, 15, 11, 3], 17
    n = [dalo.int_var(f"n{i}", 0, 3) for i in range(5)]
    total_weight = dalo.sum(w * k for w, k in zip(weight, n))
    total_value = dalo.sum(v * k for v, k in zip(value, n))
    f = -total_value + 100 * dalo.cons(total_weight, 0, limit)
    best = max(
        sum(v * c for v, c in zip(value, counts))
        for counts in itertools.product(range(4), repeat=5)
        if sum(w * c for w, c in zip(weight, counts)) <= limit)
    r = dalo.BriskSolver(dalo.Model(f.simplify_as_binary())).search(
        time_limit=5.0, seed=1, target=-best)
    assert -r.energy == best == 39
    assert sum(w * r.sol[k] for w, k in zip(weight, n)) <= limit


def test_quadratic_assignment_with_einsum_reaches_the_optimum():
    flow = np.array([[0, 5, 2, 4], [5, 0, 3, 0], [2, 3, 0, 0], [4, 0, 0, 0]])
    dist = np.array([[0, 1, 1, 2], [1, 0, 2, 1], [1, 2, 0, 1], [2, 1, 1, 0]])
    x = dalo.var("p", shape=(4, 4))
    cost = dalo.einsum("ij,kl,ik,jl->", dalo.ints(flow), dalo.ints(dist), x, x)[()]
    f = cost
    for i in range(4):
        f = f + 100 * dalo.cons(x.sum(axis=1)[i], equal=1) + 100 * dalo.cons(x.sum(axis=0)[i], equal=1)
    best = min(sum(flow[i, j] * dist[p[i], p[j]] for i in range(4) for j in range(4))
               for p in itertools.permutations(range(4)))
    r = dalo.BriskSolver(dalo.Model(f.simplify_as_binary())).search(time_limit=5.0, seed=2, target=best)
    assert r.energy == best
    placed = r.sol.values(x)
    assert (placed.sum(axis=0) == 1).all() and (placed.sum(axis=1) == 1).all()


def test_varint_encodes_and_decodes():
    n = dalo.VarInt("v", 3, 13)
    assert (n.min, n.max, n.coeffs) == (3, 13, [1, 2, 4, 3])
    r = dalo.SweepSolver(dalo.Model(((n - 8) ** 2).simplify_as_binary())).search()
    assert r.energy == 0 and n.value(r.sol) == 8


def _has_kelp():
    return os.path.exists(os.path.join(os.path.dirname(dalo.__file__), "kelp_c32e64.so"))


@pytest.mark.skipif(not _has_kelp(), reason="the KELPSolver plug-in is not built")
def test_a_raising_callback_is_reported_after_the_search():
    x = dalo.var("c", shape=(8,))
    m = dalo.Model((x.sum() - 3).sqr().simplify_as_binary())
    calls = []

    def callback(sol, event):
        calls.append(event)
        raise RuntimeError("stop here")

    with pytest.raises(RuntimeError, match="stop here"):
        dalo.KelpSolver(m).search(time_limit=0.3, callback=callback)
    assert calls
