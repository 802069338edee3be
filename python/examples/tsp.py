"""A small travelling-salesman problem written with arrays and einsum: x[c, t] = 1 puts city c
at step t, and the tour length is the sum of distance[c, e] over x[c, t] = x[e, t + 1] = 1,
the step after the last being the first (a rotated copy of x). Each city at one step and
each step at one city are declared one-hot constraints. The answer is checked against every
tour."""
import itertools
import sys

import numpy as np

import dalo

XY = np.array([[0, 0], [4, 1], [7, 5], [3, 8], [-1, 6], [5, 3], [1, 3]])
DISTANCE = np.rint(10 * np.hypot(*(XY[:, None, :] - XY[None, :, :]).transpose(2, 0, 1)))
DISTANCE = DISTANCE.astype(np.int64)


def length(tour, distance=DISTANCE):
    return int(sum(distance[tour[t], tour[(t + 1) % len(tour)]] for t in range(len(tour))))


def exhaustive_best(distance=DISTANCE):
    n = len(distance)
    return min(length((0,) + p, distance) for p in itertools.permutations(range(1, n)))


def solve(distance=DISTANCE):
    """Returns (city at each step (-1 where not exactly one), length, optimum, optimal);
    the tour is None where the best state breaks a one-hot constraint."""
    n = len(distance)
    x = dalo.var("x", shape=(n, n))  # x[c, t]: city c at step t
    following = x.slice((0, 1), (n, n)).concat(x.slice((0, 0), (n, 1)), axis=1)
    f = dalo.einsum("ce,ct,et->", dalo.ints(distance), x, following)[()]
    # Leaving a city out saves at most its two edges, so a weight above that keeps every
    # city in.
    weight = 2 * int(distance.max()) + 1
    rows, cols = x.sum(axis=1), x.sum(axis=0)
    for i in range(n):
        f += weight * dalo.cons(rows[i], 1, 1)
        f += weight * dalo.cons(cols[i], 1, 1)
    best = exhaustive_best(distance)
    r = dalo.BriskSolver(dalo.Model(f.simplify_as_binary())).search(time_limit=5.0, seed=1,
                                                                     target=best)
    if f.violations(r.sol) != 0:
        return None, r.energy, best, False
    placed = r.sol.values(x)
    tour = [int(placed[:, t].argmax()) for t in range(n)]
    return tour, length(tour, distance), best, length(tour, distance) == best == r.energy


def main():
    tour, cost, best, ok = solve()
    if tour is None:
        print(f"no tour: the best state (energy {cost}) breaks a one-hot constraint")
        return 1
    print(f"tour: {' '.join(map(str, tour))}, length {cost} (optimum {best}) "
          f"{'optimal' if ok else 'NOT optimal'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
