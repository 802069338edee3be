"""The Python package: operators against the front end's expression texts, numpy round
trips, quadratic forms from matrices, errors raised before the library is called, and the
solvers."""
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
    f = x * y + y * x
    assert f.simplify_as_binary(inplace=True) is f and str(f) == "2*x*y"
    assert (2 * x - 3 * y + 1).pos_sum() == 3
    assert (x * y + 1).eval({x: 1, y: 1}) == 2
    with pytest.raises(ValueError):
        x ** -1
    with pytest.raises(TypeError):
        x + "one"


# A scalar Var, Term or Expr compared with an int builds the penalty an array element gets.
@pytest.mark.parametrize("make", [lambda x: x[0], lambda x: 2 * x[0] * x[1],
                                  lambda x: x.sum() - 2 * x[3] + 1], ids=["var", "term", "expr"])
@pytest.mark.parametrize("k", [0, 1, 3])
def test_scalar_equality_is_the_squared_violation(make, k):
    x = dalo.var("p", shape=(4,))
    e = make(x)
    assert {e: 1}[e] == 1
    penalties = [100 * (e == k), 100 * (k == e)]
    for bits in itertools.product((0, 1), repeat=4):
        values = {x[i]: bits[i] for i in range(4)}
        violation = dalo.Expr(e).eval(values) - k
        assert [p.eval(values) for p in penalties] == [100 * violation**2] * 2
    assert str((e == k).body()) == str(dalo.Expr(e))
    assert (e == "k") is False and (x[0] == x[0]) is True


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


def test_quadratic_forms_from_numpy_matrices():
    w = dalo.var("w", shape=(3,))
    q = np.array([[2, 1, 0], [3, 0, -4], [0, 1, 5]])
    text = "2*w[0] +5*w[2] +4*w[0]*w[1] -3*w[1]*w[2]"
    assert str(dalo.quadratic(w, q)) == text
    # Any integer dtype and any strides read the same matrix.
    assert str(dalo.quadratic(w, q.astype(np.int32))) == text
    assert str(dalo.quadratic(w, q.astype(np.int8))) == text
    assert str(dalo.quadratic(w, np.asfortranarray(q))) == text
    assert str(dalo.quadratic(w, np.ascontiguousarray(q.T))) == text
    big = np.zeros((5, 5), dtype=np.int64)
    big[1:4, 1:4] = q
    assert str(dalo.quadratic(w, big[1:4, 1:4])) == text
    wide = np.zeros((3, 6), dtype=np.int64)
    wide[:, ::2] = q
    assert str(dalo.quadratic(w, wide[:, ::2])) == text
    assert str(dalo.quadratic(w, q.tolist())) == text
    assert str(dalo.quadratic(w, np.eye(3, dtype=bool))) == "w[0] +w[1] +w[2]"

    rng = np.random.default_rng(5)
    x = dalo.var("u", shape=(5,))
    m = rng.integers(-9, 10, size=(5, 5))
    f = dalo.quadratic(x, m)
    for bits in itertools.product((0, 1), repeat=5):
        v = np.array(bits)
        assert f.eval({x[i]: bits[i] for i in range(5)}) == v @ m @ v
    assert str(f.simplify_as_binary()) == str(
        dalo.einsum("i,ij,j->", x, dalo.ints(m), x)[()].simplify_as_binary())
    # The Models written from the matrix, from its entries and from f simplified on the way
    # hold the same variables and energies.
    i, j = np.nonzero(m)
    off = i != j  # the diagonal once more, as a linear vector
    models = [dalo.quadratic_model(x, m), dalo.quadratic_model(x, i, j, m[i, j]),
              dalo.quadratic_model(x, i[off], j[off], m[i, j][off], linear=np.diag(m)),
              dalo.Model(f.simplify_as_binary()), dalo.Model.simplified(f)]
    assert {(g.var_count, g.max_degree) for g in models} == {(5, 2)}
    for bits in itertools.product((0, 1), repeat=5):
        sols = [dalo.Sol(g) for g in models]
        for s in sols:
            for k in range(5):
                s[x[k]] = bits[k]
        assert {s.comp_energy() for s in sols} == {np.array(bits) @ m @ np.array(bits)}
    with pytest.raises(IndexError, match="dalo.quadratic_model: index out of range"):
        dalo.quadratic_model(x, [0], [5], [1])
    with pytest.raises(ValueError, match="dalo.quadratic_model: coefficients must fit in 32 bits"):
        dalo.quadratic_model(x, [0], [1], [2**31])
    with pytest.raises(ValueError, match="dalo.quadratic_model: coefficients must fit in 32 bits"):
        dalo.quadratic_model(x, [], [], [], linear=[0, 0, 2**31, 0, 0])
    with pytest.raises(ValueError, match="linear must have one entry per variable"):
        dalo.quadratic_model(x, [0], [1], [1], linear=[1, 2])
    with pytest.raises(ValueError, match="dalo.quadratic_model: a 2x3 matrix for 3 variables"):
        dalo.quadratic_model(w, np.zeros((2, 3), dtype=np.int64))

    with pytest.raises(ValueError, match="a 2x3 matrix for 3 variables"):
        dalo.quadratic(w, np.zeros((2, 3), dtype=np.int64))
    with pytest.raises(ValueError, match="two axes"):
        dalo.quadratic(w, np.zeros(9, dtype=np.int64))
    with pytest.raises(TypeError, match="integer matrix"):
        dalo.quadratic(w, q * 0.5)
    with pytest.raises(ValueError, match="2 coefficients do not fit in 32 bits"):
        dalo.quadratic(w, q + np.diag([2**31, 0, -2**31 - 10]))
    with pytest.raises(ValueError, match="do not fit in 32 bits"):
        dalo.quadratic(w, np.full((3, 3), 2**63, dtype=np.uint64))


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
