#include "model/queries.hpp"

#include <string>

#include "constraints/attr_rules.hpp"
#include "core/expr_ops.hpp"
#include "core/fatal.hpp"

namespace dalo {

void check_index(uint64_t i, uint64_t n, const char* who) {
    if (i >= n) fatal(std::string(who) + ": index out of range");
}

void check_degree(const ModelImpl& m, uint32_t d, const char* who) {
    if (d > m.max_degree) fatal(std::string(who) + ": degree out of range");
}

coeff_t model_coeff_at(const ModelImpl& m, uint32_t d, uint64_t i) {
    if (d == 0 || d > m.max_degree) fatal("dalo_model_coeff_at: degree out of range");
    check_index(i, m.term_count[d - 1], "dalo_model_coeff_at");
    return m.coeff_array[d - 1][i];
}

const NativeCons& native_record(const ModelImpl& m, uint64_t i, const char* who) {
    check_index(i, m.native_cons.size(), who);
    return m.native_cons[i];
}

uint64_t native_linear_terms(const ModelImpl& m, uint64_t i) {
    const NativeCons& c = native_record(m, i, "dalo_model_native_cons_nterms");
    if (c.nl_head.size() >= 2) {
        fatal(
            "MIP/ILP solvers do not support nonlinear (degree>=2) constraint bodies inside cons(). "
            "Call "
            "expand_cons() on the expression to get the classic penalty form, or use a bundled "
            "heuristic solver "
            "(BriskSolver/SweepSolver/KELPSolver).");
    }
    if (!c.allowed.empty()) {
        fatal(
            "MIP/ILP solvers do not support allowed-value set constraints (equal{...}) inside "
            "cons(). Use a "
            "bundled heuristic solver (BriskSolver/SweepSolver/KELPSolver).");
    }
    return c.vars.size();
}

bool has_negated_literals(const ModelImpl& m) {
    for (const PodArray<uint32_t>& words : m.term_vars) {
        for (uint32_t w : words) {
            if (w & kNegBit) return true;
        }
    }
    return false;
}

bool has_penalty_shapes(const ModelImpl& m) {
    for (const NativeCons& c : m.native_cons) {
        if (c.exponent != 2 || c.objective_only != 0) return true;
    }
    return false;
}

namespace {

inline bool bit_of(const uint64_t* bits, uint32_t i) { return (bits[i >> 6] >> (i & 63)) & 1; }

}  // namespace

int64_t model_eval(const ModelImpl& m, const uint64_t* bits) {
    if (m.int_count() > 0)
        fatal("Model eval: native integer variables (int_var) are not supported yet.");
    int64_t e = m.constant;
    for (uint32_t d = 1; d <= m.max_degree; ++d) {
        const uint32_t* w = m.term_vars[d - 1].data();
        const coeff_t* c = m.coeff_array[d - 1].data();
        for (uint64_t t = 0; t < m.term_count[d - 1]; ++t, w += d) {
            bool all = true;
            for (uint32_t k = 0; k < d && all; ++k)
                all = bit_of(bits, w[k] & 0x7FFFFFFFu) != ((w[k] & kNegBit) != 0);
            if (all) e = wrap_add(e, c[t]);
        }
    }
    return e;
}

int64_t expr_eval_with_model(const ExprImpl& e, const ModelImpl& m, const uint64_t* bits) {
    refuse_if_declared(e, "eval_with_model (evaluate against a Sol instead)");
    if (expr_has_int_atom(e)) {
        fatal(
            "eval_with_model: native integer variables (int_var) are not supported yet (bit "
            "assignments cannot "
            "value integer atoms).");
    }
    int64_t v = e.constant;
    e.for_each_term([&](const TermImpl& t) {
        if (t.coeff == 0) return;
        const uint32_t d = degree(t);
        for (uint32_t k = 0; k < d; ++k) {
            const Var id = var_at(t.vars, k);
            const uint32_t i = m.index_of(id);
            if (i == kNotInModel || bit_of(bits, i) == ((id & kNegBit) != 0)) return;
        }
        v = wrap_add(v, t.coeff);
    });
    return v;
}

}  // namespace dalo
