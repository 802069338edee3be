// A small travelling-salesman problem written with arrays and einsum: x[c][t] = 1 puts city c
// at step t, and the tour length is the sum of distance[c][e] over x[c][t] = x[e][t + 1] = 1,
// the step after the last being the first (a rotated copy of x). Each city at one step and
// each step at one city are declared one-hot constraints. The answer is checked against
// every tour.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <vector>

#include "dalo.hpp"

int main() {
    const uint64_t n = 7;
    const double xy[n][2] = {{0, 0}, {4, 1}, {7, 5}, {3, 8}, {-1, 6}, {5, 3}, {1, 3}};
    std::vector<int32_t> distance(n * n);
    for (uint64_t c = 0; c < n; ++c) {
        for (uint64_t e = 0; e < n; ++e) {
            const double dx = xy[c][0] - xy[e][0], dy = xy[c][1] - xy[e][1];
            distance[c * n + e] = static_cast<int32_t>(std::lround(10 * std::hypot(dx, dy)));
        }
    }
    const dalo::IntArray D = dalo::ints(distance, {n, n});
    const dalo::VarArray x = dalo::var("x", {n, n});  // x[c][t]: city c at step t
    const dalo::VarArray next = x.slice({0, 1}, {n, n}).concat(x.slice({0, 0}, {n, 1}), 1);

    dalo::Expr f = dalo::einsum<0>("ce,ct,et->", D, x, next).at(0);
    // Leaving a city out saves at most its two edges, so a weight above that keeps every
    // city in.
    const int64_t weight = 2 * *std::max_element(distance.begin(), distance.end()) + 1;
    const dalo::ExprArray rows = x.sum(1), cols = x.sum(0);
    for (uint64_t i = 0; i < n; ++i) {
        f += weight * dalo::cons(rows.at(i), 1, 1);
        f += weight * dalo::cons(cols.at(i), 1, 1);
    }

    // Every tour from city 0, for the optimum.
    auto length = [&](const std::vector<uint64_t>& tour) {
        int64_t l = 0;
        for (uint64_t t = 0; t < n; ++t) l += distance[tour[t] * n + tour[(t + 1) % n]];
        return l;
    };
    std::vector<uint64_t> tour(n);
    std::iota(tour.begin(), tour.end(), 0);
    int64_t best = -1;
    do {
        if (best < 0 || length(tour) < best) best = length(tour);
    } while (std::next_permutation(tour.begin() + 1, tour.end()));

    dalo::Model m(f.simplify_as_binary());
    dalo::Result r =
        dalo::BriskSolver(m).search({.time_limit = 5.0, .seed = 1, .target_energy = best});
    const dalo::Sol& s = r.sol();
    if (const uint64_t broken = f.violations(s); broken != 0) {
        std::printf("no tour: the best state (energy %lld) breaks %llu one-hot constraints\n",
                    static_cast<long long>(r.energy()), static_cast<unsigned long long>(broken));
        return 1;
    }
    const dalo::IntArray placed = s.values(x);
    std::printf("tour:");
    for (uint64_t t = 0; t < n; ++t) {
        for (uint64_t c = 0; c < n; ++c) {
            if (placed({c, t}) != 0) {
                tour[t] = c;
                std::printf(" %llu", static_cast<unsigned long long>(c));
            }
        }
    }
    const bool ok = length(tour) == best && r.energy() == best;
    std::printf(", length %lld (optimum %lld) %s\n", static_cast<long long>(length(tour)),
                static_cast<long long>(best), ok ? "optimal" : "NOT optimal");
    return ok ? 0 : 1;
}
