// The Model as the library hands it to a plug-in: the objective given to create, the native
// constraints given one by one (each perhaps followed by its shape), and the size of the
// penalty remainder. Every family reads these records here and builds from them only the
// structures its search needs.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "dalo_plugin.h"

namespace plugin_common {

// Variable words: bit 31 marks a negated binary literal (1 - x); in the integer entry points
// a word with bits 31..30 = 01 names integer variable (word & kIndexMask).
constexpr uint32_t kNegBit = 0x80000000u;
constexpr uint32_t kAtomBit = 0x40000000u;
constexpr uint32_t kIndexMask = 0x3FFFFFFFu;

// The position of a word in one index space over binary and integer variables (binaries
// 0 .. nbin - 1, integer k at nbin + k); a binary word keeps its negation bit.
inline uint32_t position(uint32_t word, uint32_t nbin) {
    if ((word & 0xC0000000u) == kAtomBit) return nbin + (word & kIndexMask);
    return word;
}

// The objective handed to create: a constant and, for degree d = 1 .. max_degree,
// counts[d - 1] terms with the words vars[d - 1] (d per term, term after term) and the
// coefficients coeffs[d - 1]. The arrays stay the library's until destroy, so the view holds
// pointers only.
struct Objective {
    uint32_t max_degree = 0;
    int64_t constant = 0;
    std::vector<uint64_t> counts;
    std::vector<const uint32_t*> vars;
    std::vector<const dalo_plugin_coeff*> coeffs;

    Objective() = default;
    Objective(uint32_t degree, const dalo_plugin_energy* c, const uint64_t* term_counts,
              const uint32_t* const* term_vars, const dalo_plugin_coeff* const* term_coeffs)
        : max_degree(degree),
          constant(*c),
          counts(term_counts, term_counts + degree),
          vars(term_vars, term_vars + degree),
          coeffs(term_coeffs, term_coeffs + degree) {}
};

// One native constraint as handed over, pointing into the library's arrays: body = constant
// + sum coeffs[k] * word vars[k] + sum over products t of nl_coeffs[t] times the words
// nl_vars[nl_head[t] .. nl_head[t + 1]); its penalty is weight times the body's distance to
// [lower, upper], or with allowed intervals to the nearest [set_lo[i], set_hi[i]].
struct ConstraintArgs {
    int64_t weight, lower, upper, constant;
    uint64_t nterms;
    const uint32_t* vars;
    const dalo_plugin_coeff* coeffs;
    uint64_t nl_terms = 0;
    const uint64_t* nl_head = nullptr;
    const uint32_t* nl_vars = nullptr;
    const dalo_plugin_coeff* nl_coeffs = nullptr;
    uint64_t nsets = 0;
    const int64_t* set_lo = nullptr;
    const int64_t* set_hi = nullptr;

    // The arguments every add_constraint entry point starts with.
    ConstraintArgs(const int64_t* w, const int64_t* lo, const int64_t* hi, const int64_t* c,
                   uint64_t n, const uint32_t* v, const dalo_plugin_coeff* cf)
        : weight(*w), lower(*lo), upper(*hi), constant(*c), nterms(n), vars(v), coeffs(cf) {}
    ConstraintArgs& products(uint64_t n, const uint64_t* head, const uint32_t* v,
                             const dalo_plugin_coeff* cf) {
        nl_terms = n;
        nl_head = head;
        nl_vars = v;
        nl_coeffs = cf;
        return *this;
    }
    ConstraintArgs& sets(uint64_t n, const int64_t* lo, const int64_t* hi) {
        nsets = n;
        set_lo = lo;
        set_hi = hi;
        return *this;
    }
};

// The same constraint kept by the plug-in, with its shape: exponent 1 or 2 (set_cons_shape
// gives 1 for a linear penalty, anything else counts as 2) and the shape's parameter, which
// only reports whether the penalty concerns the objective alone. nl_head is empty without
// products. The penalty's fields come first: the searches read them together.
struct Constraint {
    int64_t weight = 0, lower = 0, upper = 0;
    uint32_t exponent = 2;
    std::vector<int64_t> set_lo, set_hi;
    int64_t constant = 0;
    std::vector<uint32_t> vars;
    std::vector<dalo_plugin_coeff> coeffs;
    std::vector<uint64_t> nl_head;
    std::vector<uint32_t> nl_vars;
    std::vector<dalo_plugin_coeff> nl_coeffs;
    uint32_t objective_only = 0;

    Constraint() = default;
    explicit Constraint(const ConstraintArgs& a)
        : weight(a.weight),
          lower(a.lower),
          upper(a.upper),
          constant(a.constant),
          vars(a.vars, a.vars + a.nterms),
          coeffs(a.coeffs, a.coeffs + a.nterms) {
        if (a.nl_terms > 0) {
            nl_head.assign(a.nl_head, a.nl_head + a.nl_terms + 1);
            nl_vars.assign(a.nl_vars, a.nl_vars + a.nl_head[a.nl_terms]);
            nl_coeffs.assign(a.nl_coeffs, a.nl_coeffs + a.nl_terms);
        }
        if (a.nsets > 0) {
            set_lo.assign(a.set_lo, a.set_lo + a.nsets);
            set_hi.assign(a.set_hi, a.set_hi + a.nsets);
        }
    }
};

// What set_cons_shape does to the constraint before it (none: nothing).
template <class C>
void set_shape(C* c, uint32_t exponent, uint32_t param) {
    if (c == nullptr) return;
    c->exponent = exponent == 1 ? 1 : 2;
    c->objective_only = param;
}

}  // namespace plugin_common
