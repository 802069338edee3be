"""Misuse raises dalo.Error (a ValueError) with the library's line, on any thread, and leaves
every object involved as it was."""
import operator
import os
import types
from concurrent.futures import ThreadPoolExecutor

import pytest

import dalo


def _objects():
    x, y, k = dalo.var("x"), dalo.var("y"), dalo.int_var("k", 0, 3)
    m = dalo.Model((x + 2 * k).simplify_as_binary())
    wide = dalo.Model(dalo.var("v", shape=(60,)).sum().simplify_as_binary())
    return types.SimpleNamespace(x=x, y=y, k=k, z=dalo.var("z", shape=(2,)), e=3 * x + 2,
                                 c=dalo.cons(x + y, 0, 1), m=m, s=dalo.Sol(m), wide=wide)


# Texts, a Sol value and two solved Models built from the objects.
def _state(o):
    f = (o.e + o.c + o.x * o.y).simplify_as_binary()
    return (str(o.e), str(o.z), str(o.c.expand_cons()), str(o.s), o.s[o.k],
            dalo.SweepSolver(dalo.Model(f)).search().energy, dalo.SweepSolver(o.m).search().energy)


CASES = {
    "int_var": (lambda o: dalo.int_var("k", 3, 3), dalo.Error,
                "dalo: int_var: bounds must satisfy lo < hi (got lo = 3, hi = 3)"),
    "div-zero": (lambda o: o.e // 0, dalo.Error, "dalo: Division by zero"),
    "indivisible": (lambda o: o.e // 2, dalo.Error, "dalo: Indivisible division in Expr term"),
    "declared": (lambda o: operator.imul(o.c, o.x), dalo.Error,
                 "dalo: dalo::cons: '*= expr' is not allowed on an expression with declared "
                 "constraints"),
    "einsum": (lambda o: dalo.einsum("ij->", o.z), dalo.Error,
               'dalo: einsum: input 0 has 1 dims but subscript has 2 labels (subscript="ij->")'),
    "model": (lambda o: dalo.Model((o.z[0] + o.z[1]) ** 2), dalo.Error,
              "dalo: Model: expression not simplified as binary (unsorted/duplicate vars). "
              "Call simplify_as_binary() first."),
    "sol-bounds": (lambda o: operator.setitem(o.s, o.k, 9), dalo.Error,
                   "dalo: Sol::set: value 9 outside the integer variable's bounds [0,3]"),
    "sol-missing": (lambda o: operator.setitem(o.s, o.y, 1), KeyError,
                    "'dalo.Sol: y is not in the model'"),
    "sweep-60": (lambda o: dalo.SweepSolver(o.wide).search(), dalo.Error,
                 "dalo: SweepSolver: 60 variables exceed the enumeration limit of 48 "
                 "(2^48 states)"),
    "threads": (lambda o: dalo.BriskSolver(o.m).search(threads=0), dalo.Error,
                "dalo: threads must be >= 1"),
    "operand": (lambda o: o.e + "one", TypeError,
                "dalo: cannot use a str in an expression (int, Var, Term or Expr expected)"),
    "index": (lambda o: o.z[2], IndexError, "dalo: index 2 out of range for axis 0 of extent 2"),
}


# A thread that never called dalo before raises the same way.
@pytest.mark.parametrize("fresh_thread", [False, True])
@pytest.mark.parametrize("name", CASES)
def test_misuse_raises_and_changes_nothing(name, fresh_thread):
    call, kind, message = CASES[name]
    o = _objects()
    before = _state(o)
    with pytest.raises(kind) as raised, ThreadPoolExecutor(1) as pool:
        pool.submit(call, o).result() if fresh_thread else call(o)
    assert str(raised.value) == message
    assert isinstance(raised.value, ValueError) == (kind is dalo.Error)
    assert _state(o) == before


@pytest.mark.skipif(not os.path.exists(os.path.join(os.path.dirname(dalo.__file__),
                                                    "kelp_c32e64.so")), reason="no KELPSolver")
@pytest.mark.parametrize("answer,kind,message", [
    (lambda x: "soon", TypeError,
     "dalo.KelpSolver: the callback returns a number of seconds or None, not a str"),
    (lambda x: x // 0, dalo.Error, "dalo: Division by zero"),
])
def test_a_failing_callback_is_raised_after_the_search(answer, kind, message):
    x = dalo.var("c", shape=(8,))
    m = dalo.Model((x.sum() - 3).sqr().simplify_as_binary())
    with pytest.raises(kind) as raised:
        dalo.KelpSolver(m).search(time_limit=0.3, callback=lambda s, e: answer(x.sum()))
    assert str(raised.value) == message
