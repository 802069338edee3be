// Brute-force evaluation of expressions read back through the public interface.
#pragma once

#include "support/suite.hpp"

namespace dalo_test {

enum class Meaning { Binary, Spin, Integer };

// Value of one term when variable index v (bit 31 cleared) has value[v]; a negated literal
// reads 1 - x in binary meaning and -s in spin meaning.
inline int64_t term_value(const Term& t, const std::vector<int64_t>& value, Meaning m) {
    int64_t p = t.coeff;
    for (dalo_var v : t.vars) {
        int64_t x = value.at(v & ~DALO_NEG_BIT);
        if (v & DALO_NEG_BIT) x = m == Meaning::Spin ? -x : 1 - x;
        p *= x;
    }
    return p;
}

// Value of e: its constant plus the value of every term.
inline int64_t evaluate(const dalo_expr* e, const std::vector<int64_t>& value, Meaning m) {
    int64_t total = dalo_expr_constant(e, nullptr);
    for (const Term& t : terms_of(e)) total += term_value(t, value, m);
    return total;
}

// Every assignment of n variables (indices first .. first + n - 1) in the given meaning.
template <class F>
void for_each_assignment(dalo_var first, uint32_t n, Meaning m, F f) {
    std::vector<int64_t> value(first + n, 0);
    for (uint64_t mask = 0; mask < (uint64_t{1} << n); ++mask) {
        for (uint32_t i = 0; i < n; ++i) {
            int64_t bit = (mask >> i) & 1;
            value[first + i] = m == Meaning::Spin ? 2 * bit - 1 : bit;
        }
        f(value);
    }
}

// A random polynomial over vars[first, first + n): up to `terms` terms of degree up to
// max_degree, some negated literals and repeated variables.
inline ExprPtr random_poly(std::mt19937_64& rng, dalo_var first, uint32_t n, int terms,
                           int max_degree) {
    ExprPtr e(dalo_expr_create_int(static_cast<int64_t>(rng() % 11) - 5));
    for (int k = 0; k < terms; ++k) {
        std::vector<dalo_var> vs;
        int d = static_cast<int>(rng() % (max_degree + 1));
        for (int i = 0; i < d; ++i) {
            dalo_var v = first + static_cast<dalo_var>(rng() % n);
            vs.push_back(rng() % 3 == 0 ? (v | DALO_NEG_BIT) : v);
        }
        dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 15) - 7, vs.data(),
                                vs.size());
    }
    return e;
}

}  // namespace dalo_test
