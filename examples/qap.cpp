// A small quadratic assignment problem written with arrays and einsum: place n facilities on
// n locations (a permutation matrix x) to minimise sum flow[i][j] * distance[k][l] over
// x[i][k] = x[j][l] = 1. Row and column one-hot constraints are declared; the answer is
// checked against all n! permutations.
#include <algorithm>
#include <cstdio>
#include <numeric>
#include <vector>

#include "dalo.hpp"

int main() {
    const int n = 5;
    const std::vector<int32_t> flow = {0, 5, 2, 4, 1, 5, 0, 3, 0, 2, 2, 3, 0,
                                       0, 0, 4, 0, 0, 0, 5, 1, 2, 0, 5, 0};
    const std::vector<int32_t> distance = {0, 1, 1, 2, 3, 1, 0, 2, 1, 2, 1, 2, 0,
                                           1, 2, 2, 1, 1, 0, 1, 3, 2, 2, 1, 0};
    const dalo::IntArray F = dalo::ints(flow, {n, n});
    const dalo::IntArray D = dalo::ints(distance, {n, n});
    const dalo::VarArray x = dalo::var("x", {n, n});  // x[i][k]: facility i at location k

    dalo::Expr cost = dalo::einsum<0>("ij,kl,ik,jl->", F, D, x, x).at(0);
    dalo::Expr f = cost;
    const dalo::ExprArray rows = x.sum(1), cols = x.sum(0);
    for (uint64_t i = 0; i < n; ++i) {
        f += 1000 * dalo::cons(rows.at(i), 1, 1);
        f += 1000 * dalo::cons(cols.at(i), 1, 1);
    }

    // Every permutation, for the optimum.
    std::vector<int> p(n);
    std::iota(p.begin(), p.end(), 0);
    int64_t best = -1;
    do {
        int64_t c = 0;
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) c += flow[i * n + j] * distance[p[i] * n + p[j]];
        }
        if (best < 0 || c < best) best = c;
    } while (std::next_permutation(p.begin(), p.end()));

    dalo::Model m(f.simplify_as_binary());
    dalo::Result r =
        dalo::BriskSolver(m).search({.time_limit = 5.0, .seed = 1, .target_energy = best});
    const dalo::Sol& s = r.sol();
    const dalo::IntArray placed = s.values(x);
    const uint64_t broken = f.violations(s);
    bool permutation = broken == 0;
    std::printf("facility -> location:");
    for (uint64_t i = 0; i < n; ++i) {
        int64_t ones = 0, where = -1;
        for (uint64_t k = 0; k < n; ++k) {
            if (placed({i, k}) != 0) {
                ++ones;
                where = static_cast<int64_t>(k);
            }
        }
        permutation &= ones == 1;
        std::printf(" %llu->%lld", static_cast<unsigned long long>(i),
                    static_cast<long long>(where));
    }
    const bool ok = permutation && r.energy() == best;
    if (!permutation) {
        // The energy of such a state is no assignment's cost.
        std::printf(", not a permutation: %llu one-hot constraints broken (energy %lld)\n",
                    static_cast<unsigned long long>(broken), static_cast<long long>(r.energy()));
        return 1;
    }
    std::printf(", cost %lld (optimum %lld) %s\n", static_cast<long long>(r.energy()),
                static_cast<long long>(best), ok ? "optimal" : "NOT optimal");
    return ok ? 0 : 1;
}
