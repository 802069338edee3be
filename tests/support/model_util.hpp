// Builders and readers shared by the expression, transform, model and ILP suites.
#pragma once

#include "support/suite.hpp"

namespace dalo_test {

// constant plus the terms, appended one by one.
inline ExprPtr from_terms(int64_t constant, const std::vector<Term>& ts) {
    ExprPtr e(dalo_expr_create_int(constant));
    for (const Term& t : ts)
        dalo_expr_iadd_raw_term(e.get(), t.coeff, t.vars.data(), t.vars.size());
    return e;
}

// Everything a plain Model holds, comparable as a whole.
struct ModelArrays {
    int64_t constant;
    std::vector<dalo_var> vars;
    std::vector<std::vector<uint32_t>> words;  // [d - 1]
    std::vector<std::vector<int32_t>> coeffs;  // [d - 1]
    bool operator==(const ModelArrays&) const = default;
};
inline ModelArrays arrays_of(const dalo_model* m) {
    ModelArrays a{dalo_model_constant(m, nullptr), {}, {}, {}};
    for (uint32_t i = 0; i < dalo_model_var_count(m); ++i) a.vars.push_back(dalo_model_var(m, i));
    for (uint32_t d = 1; d <= dalo_model_max_degree(m); ++d) {
        const uint64_t n = dalo_model_term_count(m, d);
        const uint32_t* w = dalo_model_term_vars(m, d);
        const int32_t* c = dalo_model_coeff_array(m, d);
        a.words.emplace_back(w, w + d * n);
        a.coeffs.emplace_back(c, c + n);
    }
    return a;
}

// The Model's bytes: equal bytes are equal Models, native constraints and all.
inline std::vector<uint8_t> bytes_of(const dalo_model* m) {
    uint64_t size = 0;
    uint8_t* p = dalo_model_serialize(m, &size);
    std::vector<uint8_t> out(p, p + size);
    std::free(p);
    return out;
}

// n consecutive variables of a new array.
inline std::vector<dalo_var> new_vars(const char* name, uint64_t n) {
    const dalo_var first = dalo_new_var_array(name, &n, 1);
    std::vector<dalo_var> out;
    for (uint64_t i = 0; i < n; ++i) out.push_back(first + static_cast<dalo_var>(i));
    return out;
}

using Values = std::map<dalo_var, int64_t>;

// dalo_expr_eval_map over the pairs of a map.
inline int64_t eval_map(const dalo_expr* e, const Values& values) {
    std::vector<dalo_var> vars;
    std::vector<int64_t> vals;
    for (const auto& [v, x] : values) {
        vars.push_back(v);
        vals.push_back(x);
    }
    return dalo_expr_eval_map(e, vars.data(), vals.data(), vars.size(), nullptr);
}

namespace build {
inline ExprPtr between(const ExprPtr& body, int64_t lo, int64_t hi) {
    return ExprPtr(dalo_cons_between(body.get(), lo, hi));
}
inline ExprPtr marked(const ExprPtr& e) { return ExprPtr(dalo_cons_mark(e.get())); }
inline ModelPtr compile(const ExprPtr& e) { return model_of(binary(e)); }
// The classic record: penalty (body - 1)^2 over body, bounds [1, 1] unless told otherwise.
inline ExprPtr classic_of(const ExprPtr& body, bool bounds = true) {
    ExprPtr pen(dalo_expr_sqr(ExprPtr(dalo_expr_clone_sub_int(body.get(), 1)).get()));
    ExprPtr ee(dalo_exprexprelem_create(pen.get(), body.get()));
    if (bounds) dalo_exprexpr_set_bounds(ee.get(), 1, 1);
    return ee;
}
}  // namespace build

}  // namespace dalo_test
