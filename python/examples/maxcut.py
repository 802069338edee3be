"""Max-Cut on a graph file ("n m", then m lines "i j w", 1-based vertices, as in the G-set
collection) with BriskSolver:

    python maxcut.py FILE [BEST_KNOWN [SECONDS]]

The cut of a side assignment x is the sum of w over edges whose ends differ,
w (x_i + x_j - 2 x_i x_j); the solver minimises the negated cut, and stops early once it
reaches BEST_KNOWN. The program recomputes the cut from the assignment, and on graphs small
enough checks the optimum by exhaustive search.
"""
import sys

import numpy as np

import dalo


def read_graph(path):
    with open(path) as f:
        n, m = (int(v) for v in f.readline().split())
        edges = np.loadtxt(f, dtype=np.int64, ndmin=2, max_rows=m)
    if n == 0 or edges.shape != (m, 3) or edges[:, :2].min() < 1 or edges[:, :2].max() > n:
        raise ValueError(f"{path}: expected \"n m\" and m edges \"i j w\" over vertices 1..n")
    return n, edges[:, 0] - 1, edges[:, 1] - 1, edges[:, 2]


def solve(path, best_known=0, seconds=2.0):
    """Returns (vertices, edges, cut counted from the sides, exhaustive optimum or None,
    seconds to the best, whether the solver's energy agrees with the counted cut)."""
    n, i, j, w = read_graph(path)
    x = dalo.var("x", shape=(n,))
    # -cut = sum 2w x_i x_j - w x_i - w x_j, all pairs in one call.
    neg_cut = dalo.quadratic(x, np.concatenate([i, i, j]), np.concatenate([j, i, j]),
                             np.concatenate([2 * w, -w, -w]))
    model = dalo.Model(neg_cut.simplify_as_binary())
    r = dalo.BriskSolver(model).search(time_limit=seconds,
                                       target=-best_known if best_known > 0 else None)
    side = r.sol.values(x)
    counted = int(w[side[i] != side[j]].sum())
    optimum = -dalo.SweepSolver(model).search().energy if n <= 24 else None
    return n, len(w), counted, optimum, r.tts, counted == -r.energy


def main(argv):
    if len(argv) < 2:
        print(f"usage: {argv[0]} FILE [BEST_KNOWN [SECONDS]]", file=sys.stderr)
        return 2
    best_known = int(argv[2]) if len(argv) > 2 else 0
    seconds = float(argv[3]) if len(argv) > 3 else 2.0
    n, m, counted, optimum, tts, ok = solve(argv[1], best_known, seconds)
    line = f"{argv[1]}: {n} vertices, {m} edges: cut {counted}"
    if best_known > 0:
        line += f" (best known {best_known})"
    print(f"{line} after {tts:.3f} s with BriskSolver")
    if optimum is not None:
        print(f"exhaustive optimum {optimum}")
        ok = ok and optimum == counted
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
