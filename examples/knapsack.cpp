// A bounded knapsack with native integer variables: how many of each item to pack (0 to 3)
// for the greatest value within a weight limit. The limit is a declared constraint; the
// answer is checked against every combination.
#include <cstdio>
#include <vector>

#include "dalo.hpp"

int main() {
    const std::vector<int64_t> weight = {4, 3, 7, 5, 2};
    const std::vector<int64_t> value = {9, 7, 15, 11, 3};
    const int64_t limit = 17;
    const int items = static_cast<int>(weight.size());

    std::vector<dalo::Var> count;
    dalo::Expr total_weight, total_value;
    for (int i = 0; i < items; ++i) {
        count.push_back(dalo::int_var("n" + std::to_string(i), 0, 3));
        total_weight += weight[i] * count[i];
        total_value += value[i] * count[i];
    }
    // Maximise the value: minimise its negation, with the weight limit declared.
    dalo::Expr f = -total_value + 100 * dalo::cons(total_weight, 0, limit);

    // Exhaustive answer over the 4^5 combinations.
    int64_t best = 0;
    for (int code = 0; code < 1024; ++code) {
        int64_t w = 0, v = 0;
        for (int i = 0, c = code; i < items; ++i, c /= 4) {
            w += weight[i] * (c % 4);
            v += value[i] * (c % 4);
        }
        if (w <= limit && v > best) best = v;
    }

    dalo::Model m(f.simplify_as_binary());
    dalo::Result r =
        dalo::BriskSolver(m).search({.time_limit = 5.0, .seed = 1, .target_energy = -best});
    const dalo::Sol& s = r.sol();
    int64_t w = 0, v = 0;
    std::printf("pack:");
    for (int i = 0; i < items; ++i) {
        const int64_t n = s[count[i]];
        std::printf(" %lld", static_cast<long long>(n));
        w += weight[i] * n;
        v += value[i] * n;
    }
    const bool ok = w <= limit && v == best && f.violations(s) == 0;
    std::printf(" -> weight %lld/%lld, value %lld (best possible %lld) %s\n",
                static_cast<long long>(w), static_cast<long long>(limit), static_cast<long long>(v),
                static_cast<long long>(best), ok ? "optimal" : "NOT optimal");
    return ok ? 0 : 1;
}
