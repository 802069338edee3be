"""A small quadratic assignment problem written with arrays and einsum: place n facilities on
n locations (a permutation matrix x) to minimise sum flow[i][j] * distance[k][l] over
x[i][k] = x[j][l] = 1. Row and column one-hot constraints are declared; the answer is
checked against all n! permutations."""
import itertools
import sys

import numpy as np

import dalo

FLOW = np.array([[0, 5, 2, 4, 1], [5, 0, 3, 0, 2], [2, 3, 0, 0, 0], [4, 0, 0, 0, 5],
                 [1, 2, 0, 5, 0]])
DISTANCE = np.array([[0, 1, 1, 2, 3], [1, 0, 2, 1, 2], [1, 2, 0, 1, 2], [2, 1, 1, 0, 1],
                     [3, 2, 2, 1, 0]])


def exhaustive_best(flow=FLOW, distance=DISTANCE):
    return min(int(flow.ravel() @ distance[np.ix_(p, p)].ravel())
               for p in itertools.permutations(range(len(flow))))


def solve(flow=FLOW, distance=DISTANCE):
    """Returns (location of each facility (-1 where not exactly one), cost, optimum,
    optimal)."""
    n = len(flow)
    x = dalo.var("x", shape=(n, n))  # x[i, k]: facility i at location k
    cost = dalo.einsum("ij,kl,ik,jl->", dalo.ints(flow), dalo.ints(distance), x, x)[()]
    f = cost
    rows, cols = x.sum(axis=1), x.sum(axis=0)
    for i in range(n):
        f += 1000 * dalo.cons(rows[i], 1, 1)
        f += 1000 * dalo.cons(cols[i], 1, 1)
    best = exhaustive_best(flow, distance)
    r = dalo.BriskSolver(dalo.Model(f.simplify_as_binary())).search(time_limit=5.0, seed=1,
                                                                     target=best)
    placed = r.sol.values(x)
    where = [int(row.argmax()) if row.sum() == 1 else -1 for row in placed]
    permutation = f.violations(r.sol) == 0 and (placed.sum(axis=0) == 1).all() and -1 not in where
    return where, r.energy, best, bool(permutation) and r.energy == best


def main():
    where, cost, best, ok = solve()
    pairs = " ".join(f"{i}->{k}" for i, k in enumerate(where))
    print(f"facility -> location: {pairs}, cost {cost} (optimum {best}) "
          f"{'optimal' if ok else 'NOT optimal'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
