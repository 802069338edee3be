"""Graph colouring with one-hot constraints solved natively: each vertex takes exactly one of
k colours (declared constraints, kept out of the polynomial), and the objective counts the
edges whose ends share a colour. The Petersen graph needs 3 colours."""
import sys

import dalo

# Outer cycle, inner star, spokes.
PETERSEN = ([(i, (i + 1) % 5) for i in range(5)] + [(5 + i, 5 + (i + 2) % 5) for i in range(5)]
            + [(i, 5 + i) for i in range(5)])


def solve(edges=PETERSEN, n=10, k=3, seconds=5.0):
    """Returns (energy, colour of each vertex (-1 where not exactly one), proper)."""
    x = dalo.var("c", shape=(n, k))  # x[v, c] = 1: vertex v has colour c
    f = dalo.sum(x[u, c] * x[v, c] for u, v in edges for c in range(k))
    per_vertex = x.sum(axis=1)
    for v in range(n):
        f += dalo.cons(per_vertex[v], 1, 1)
    r = dalo.BriskSolver(dalo.Model(f.simplify_as_binary())).search(time_limit=seconds, seed=1,
                                                                     target=0)
    chosen = r.sol.values(x)
    colour = [int(row.argmax()) if row.sum() == 1 else -1 for row in chosen]
    proper = (f.violations(r.sol) == 0 and -1 not in colour
              and all(colour[u] != colour[v] for u, v in edges))
    return r.energy, colour, proper and r.energy == 0


def main():
    energy, colour, ok = solve()
    print(f"Petersen graph, 3 colours: energy {energy}, colours "
          f"{' '.join(map(str, colour))} -> {'proper colouring' if ok else 'NOT proper'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
