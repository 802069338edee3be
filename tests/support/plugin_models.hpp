// Random Models for solver plug-in tests, and their optima by enumeration over Sol energies.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "dalo.h"
#include "support/brute.hpp"
#include "support/expr_util.hpp"

namespace dalo_test {

// Every binary assignment of a Model (as a number over the model bits) with its Sol energy,
// ascending.
inline std::vector<std::pair<int64_t, uint64_t>> all_energies(const dalo_model* m) {
    const uint32_t n = dalo_model_var_count(m);
    dalo_sol* s = dalo_sol_create(m);
    std::vector<std::pair<int64_t, uint64_t>> out;
    for (uint64_t mask = 0; mask < (uint64_t{1} << n); ++mask) {
        for (uint32_t i = 0; i < n; ++i)
            dalo_sol_set(s, dalo_model_var(m, i), static_cast<uint32_t>((mask >> i) & 1));
        out.emplace_back(dalo_sol_compute_energy(s, nullptr), mask);
    }
    dalo_sol_destroy(s);
    std::sort(out.begin(), out.end());
    return out;
}

// The library's own energy of a Sol (recomputed after two flips); the Sol is released.
inline int64_t recomputed(dalo_sol* s, const dalo_model* m) {
    if (dalo_model_var_count(m) > 0) {
        dalo_sol_flip(s, dalo_model_var(m, 0));
        dalo_sol_flip(s, dalo_model_var(m, 0));
    }
    const int64_t e = dalo_sol_compute_energy(s, nullptr);
    dalo_sol_destroy(s);
    return e;
}

// Smallest Sol energy over every binary assignment and every value of the integer variables.
inline int64_t mixed_optimum(const dalo_model* m, const std::vector<dalo_var>& ints) {
    const uint32_t n = dalo_model_var_count(m);
    dalo_sol* s = dalo_sol_create(m);
    int64_t best = INT64_MAX;
    std::vector<int64_t> lo(ints.size()), hi(ints.size());
    for (size_t k = 0; k < ints.size(); ++k) dalo_int_var_bounds(ints[k], &lo[k], &hi[k]);
    for (uint64_t mask = 0; mask < (uint64_t{1} << n); ++mask) {
        for (uint32_t i = 0; i < n; ++i)
            dalo_sol_set(s, dalo_model_var(m, i), static_cast<uint32_t>((mask >> i) & 1));
        std::vector<int64_t> v = lo;
        for (bool more = true; more;) {
            for (size_t k = 0; k < ints.size(); ++k) dalo_sol_set_int(s, ints[k], v[k]);
            best = std::min(best, dalo_sol_compute_energy(s, nullptr));
            more = false;
            for (size_t k = 0; k < v.size() && !more; ++k) {
                more = ++v[k] <= hi[k];
                if (!more) v[k] = lo[k];
            }
        }
    }
    dalo_sol_destroy(s);
    return best;
}

// sum of c_i * x_i over a few variables of [first, first + n), binary-simplified.
inline ExprPtr random_linear(std::mt19937_64& rng, dalo_var first, uint32_t n, uint32_t terms) {
    ExprPtr e(dalo_expr_create_int(static_cast<int64_t>(rng() % 5) - 2));
    for (uint32_t k = 0; k < terms; ++k) {
        const dalo_var v = first + static_cast<dalo_var>(rng() % n);
        const int64_t c = static_cast<int64_t>(rng() % 7) - 3;
        dalo_expr_iadd_raw_term(e.get(), c == 0 ? 2 : c, &v, 1);
    }
    return ExprPtr(dalo_expr_simplify_as_binary(e.get()));
}

// A random cubic objective (negated literals kept in cubic terms) with one constraint of
// every kind: linear and nonlinear ranges, an allowed set, abs and relu with k = 1 and 2,
// weights from integer multiples of declared sums, and a free-form penalty.
inline ModelPtr constrained_model(std::mt19937_64& rng, dalo_var first, uint32_t n) {
    ExprPtr raw = random_poly(rng, first, n, static_cast<int>(3 * n), 3);
    ExprPtr obj(dalo_expr_simplify_as_binary(raw.get()));
    auto attach = [&](dalo_expr* c, int64_t weight) {
        if (weight != 1) dalo_expr_imul_int(c, weight);
        dalo_expr_iadd_expr(obj.get(), c);
        dalo_expr_destroy(c);
    };
    auto lo = [&] { return static_cast<int64_t>(rng() % 5) - 2; };
    attach(dalo_cons_between(random_linear(rng, first, n, 4).get(), lo(), 2), 3);
    ExprPtr nl = random_linear(rng, first, n, 3);
    const dalo_var a = first + static_cast<dalo_var>(rng() % n);
    const dalo_var b = first + static_cast<dalo_var>((a - first + 1 + rng() % (n - 1)) % n);
    const dalo_var c3[3] = {a, b, first + static_cast<dalo_var>((b - first + 1) % n)};
    dalo_expr_iadd_raw_term(nl.get(), 3, c3, n >= 3 ? 3 : 2);
    ExprPtr nl_body(dalo_expr_simplify_as_binary(nl.get()));
    attach(dalo_cons_between(nl_body.get(), lo(), 1), 2);
    const int64_t set_lo[2] = {-1, 3}, set_hi[2] = {0, 4};
    attach(dalo_cons_equal(random_linear(rng, first, n, 4).get(), set_lo, set_hi, 2), 2);
    attach(dalo_abs_term(random_linear(rng, first, n, 3).get(), 1), 2);
    attach(dalo_abs_term(random_linear(rng, first, n, 3).get(), 2), 1);
    attach(dalo_relu_term(random_linear(rng, first, n, 3).get(), 1), 3);
    attach(dalo_relu_term(random_linear(rng, first, n, 3).get(), 2), 1);
    ExprPtr penalty = random_poly(rng, first, n, 3, 3);
    attach(dalo_cons_mark(penalty.get()), 1);
    return ModelPtr(dalo_model_create(obj.get()));
}

// A random quadratic objective over n variables (about `degree` neighbours each).
inline ModelPtr random_qubo(std::mt19937_64& rng, dalo_var first, uint32_t n, uint32_t degree) {
    ExprPtr e(dalo_expr_create());
    for (uint32_t i = 0; i < n; ++i) {
        const dalo_var v = first + i;
        dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 21) - 10, &v, 1);
        for (uint32_t k = 0; k < degree / 2; ++k) {
            const dalo_var pair[2] = {v, first + static_cast<dalo_var>(rng() % n)};
            if (pair[1] != v)
                dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 21) - 10, pair, 2);
        }
    }
    ExprPtr s(dalo_expr_simplify_as_binary(e.get()));
    return ModelPtr(dalo_model_create(s.get()));
}

// Three integer variables (ranges of 3 to 2 + spread values) and the four binaries from x: a
// quadratic over all of them, a weighted capacity range and an allowed-set constraint.
inline ModelPtr mixed_model(std::mt19937_64& rng, dalo_var x, uint64_t spread,
                            std::vector<dalo_var>& ints) {
    ints.clear();
    for (int k = 0; k < 3; ++k) {
        const int64_t lo = static_cast<int64_t>(rng() % 5) - 3;
        ints.push_back(dalo_new_int_var("k", lo, lo + 2 + static_cast<int64_t>(rng() % spread)));
    }
    ExprPtr e(dalo_expr_create());
    std::vector<dalo_var> all(ints);
    for (uint32_t i = 0; i < 4; ++i) all.push_back(x + i);
    for (int t = 0; t < 10; ++t) {
        const dalo_var pair[2] = {all[rng() % all.size()], all[rng() % all.size()]};
        dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 11) - 5, pair, 1 + rng() % 2);
    }
    ExprPtr cap(dalo_expr_create());
    ExprPtr eq(dalo_expr_create());
    for (const dalo_var v : all) {
        dalo_expr_iadd_raw_term(cap.get(), 1 + static_cast<int64_t>(rng() % 3), &v, 1);
        if (rng() % 2) dalo_expr_iadd_raw_term(eq.get(), 1, &v, 1);
    }
    ExprPtr c1(dalo_cons_between(cap.get(), -5, 6));
    dalo_expr_imul_int(c1.get(), 2);
    const int64_t set_lo[2] = {0, 3}, set_hi[2] = {1, 3};
    ExprPtr c2(dalo_cons_equal(eq.get(), set_lo, set_hi, 2));
    dalo_expr_iadd_expr(e.get(), c1.get());
    dalo_expr_iadd_expr(e.get(), c2.get());
    ExprPtr s(dalo_expr_simplify_as_binary(e.get()));
    return ModelPtr(dalo_model_create(s.get()));
}

}  // namespace dalo_test
