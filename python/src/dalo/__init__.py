"""dalo: modelling and solving polynomial optimisation problems over binary variables.

    import dalo
    x = dalo.var("x", shape=(3,))
    f = 2 * x[0] * x[1] - x[2] + dalo.cons(x.sum(), equal=1)
    result = dalo.BriskSolver(dalo.Model(f.simplify_as_binary())).search(time_limit=1.0)

Errors
------
Misuse raises dalo.Error, a ValueError whose text is the library's one-line message
("dalo: ..."), the same line a C program would see on standard error:

    try:
        dalo.SweepSolver(model).search()
    except dalo.Error as e:
        print(e)   # dalo: SweepSolver: 60 variables exceed the enumeration limit of 48 ...

A failing call changes nothing: the objects involved keep their values and stay usable.
Indices and axes out of range raise IndexError, operands of the wrong kind and unknown
keywords TypeError, and a Sol read or written at a variable outside its Model KeyError.
"""
from . import _core
from ._core import (  # noqa: F401
    BriskSolver,
    Error,
    Expr,
    ExprArray,
    IntArray,
    KelpSolver,
    Model,
    Result,
    Sol,
    SweepSolver,
    Term,
    TermArray,
    Var,
    VarArray,
    VarInt,
    abs,
    between,
    const_str,
    int_var,
    ints,
    quadratic,
    quadratic_model,
    relu,
    sum,
    var,
    varint_array,
)

__all__ = [
    "BriskSolver", "Error", "Expr", "ExprArray", "IntArray", "KelpSolver", "Model", "Result", "Sol",
    "SweepSolver", "Term", "TermArray", "Var", "VarArray", "VarInt", "abs", "between", "cons",
    "const_str", "einsum", "int_var", "ints", "quadratic", "quadratic_model", "relu", "sum", "var", "varint_array",
]


def cons(body, lo=None, hi=None, *, equal=None):
    """A declared constraint, kept outside the polynomial and solved natively.

    cons(body, lo, hi)         lo <= body <= hi
    cons(body, equal=3)        body == 3
    cons(body, equal=[1, 3])   body in {1, 3}; pairs (a, b) stand for the range a..b
    cons(penalty)              the free-form requirement penalty == 0
    Multiply the result by an integer to weight it; add it to an objective.
    """
    if equal is not None:
        if lo is not None or hi is not None:
            raise Error("dalo.cons: give either lo/hi or equal=, not both")
        if isinstance(equal, int):
            intervals = [(equal, equal)]
        else:
            intervals = []
            for item in equal:
                if isinstance(item, tuple):
                    a, b = item
                    intervals.append((int(a), int(b)))
                else:
                    intervals.append((int(item), int(item)))
        return _core._cons_equal(body, intervals)
    if lo is None and hi is None:
        return _core._cons_mark(body)
    if lo is None or hi is None:
        raise Error("dalo.cons: give both lo and hi (or equal=)")
    return _core._cons_range(body, int(lo), int(hi))


def _output_axes(subscript):
    text = "".join(subscript.split())
    if "->" in text:
        return len(text.split("->", 1)[1])
    labels = text.replace(",", "")
    return len([c for c in set(labels) if labels.count(c) == 1])


def einsum(subscript, *arrays):
    """Einstein summation over dalo arrays, e.g. einsum("ij,jk->ik", a, b).

    Integer arrays alone give an IntArray, anything else an ExprArray."""
    return _core._einsum(subscript, *arrays, out_dim=_output_axes(subscript))


# dalo.dimod and its conversions load dimod (the extra dalo[dimod]) only when first used.
def __getattr__(name):
    if name in ("dimod", "from_bqm", "to_bqm", "from_cqm"):
        import importlib
        module = importlib.import_module(".dimod", __name__)
        return module if name == "dimod" else getattr(module, name)
    raise AttributeError(f"module 'dalo' has no attribute {name!r}")
