"""A bounded knapsack with native integer variables: how many of each item to pack (0 to 3)
for the greatest value within a weight limit. The limit is a declared constraint; the answer
is checked against every combination."""
import itertools
import sys

import dalo

WEIGHT = [4, 3, 7, 5, 2]
VALUE = [9, 7, 15, 11, 3]
LIMIT = 17


def exhaustive_best():
    return max(sum(v * c for v, c in zip(VALUE, counts))
               for counts in itertools.product(range(4), repeat=len(WEIGHT))
               if sum(w * c for w, c in zip(WEIGHT, counts)) <= LIMIT)


def solve():
    """Returns (counts packed, weight, value, best possible value, optimal)."""
    count = [dalo.int_var(f"n{i}", 0, 3) for i in range(len(WEIGHT))]
    total_weight = dalo.sum(w * n for w, n in zip(WEIGHT, count))
    total_value = dalo.sum(v * n for v, n in zip(VALUE, count))
    # Maximise the value: minimise its negation, with the weight limit declared.
    f = -total_value + 100 * dalo.cons(total_weight, 0, LIMIT)
    best = exhaustive_best()
    r = dalo.BriskSolver(dalo.Model(f.simplify_as_binary())).search(time_limit=5.0, seed=1,
                                                                     target=-best)
    packed = [r.sol[n] for n in count]
    weight = sum(w * n for w, n in zip(WEIGHT, packed))
    value = sum(v * n for v, n in zip(VALUE, packed))
    ok = weight <= LIMIT and value == best and f.violations(r.sol) == 0
    return packed, weight, value, best, ok


def main():
    packed, weight, value, best, ok = solve()
    print(f"pack: {' '.join(map(str, packed))} -> weight {weight}/{LIMIT}, value {value} "
          f"(best possible {best}) {'optimal' if ok else 'NOT optimal'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
