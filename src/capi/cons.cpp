// Constraint-carrying values: classic ExprExpr penalties, range penalties, declared constraints.
#include <vector>

#include "capi/handles.hpp"
#include "constraints/attr_rules.hpp"
#include "constraints/constructors.hpp"
#include "transform/bounds.hpp"

using namespace dalo;

namespace {

std::vector<Interval> intervals(const int64_t* lo, const int64_t* hi, uint64_t n) {
    std::vector<Interval> out;
    out.reserve(n);
    for (uint64_t i = 0; i < n; ++i) out.emplace_back(lo[i], hi[i]);
    return out;
}

}  // namespace

extern "C" {

dalo_expr* dalo_exprexprelem_create(const dalo_expr* penalty, const dalo_expr* body) {
    return wrap_new(exprexpr_create(*unwrap(penalty), *unwrap(body)));
}
void dalo_exprexpr_set_bounds(const dalo_expr* e, int64_t lo, int64_t hi) {
    exprexpr_set_bounds(*unwrap(e), lo, hi);
}
int dalo_exprexpr_get_bounds(const dalo_expr* e, int64_t* lo, int64_t* hi) {
    return exprexpr_get_bounds(*unwrap(e), lo, hi) ? 1 : 0;
}
void dalo_exprexpr_set_allowed(const dalo_expr* e, const int64_t* lo, const int64_t* hi,
                               uint64_t n) {
    exprexpr_set_allowed(*unwrap(e), intervals(lo, hi, n));
}
const dalo_expr* dalo_exprexprelem_get_body(const dalo_expr* e) {
    return wrap(&exprexpr_body(*unwrap(e)));
}
dalo_expr* dalo_exprexprelem_clone(const dalo_expr* e) { return dalo_expr_clone(e); }
void dalo_exprexprelem_destroy(dalo_expr* e) { dalo_expr_destroy(e); }
dalo_expr* dalo_between(const dalo_expr* f, int64_t lo, int64_t hi) {
    return wrap_new(between(*unwrap(f), lo, hi));
}

dalo_expr* dalo_cons_between(const dalo_expr* body, int64_t lo, int64_t hi) {
    return wrap_new(cons_between(*unwrap(body), lo, hi));
}
dalo_expr* dalo_cons_equal(const dalo_expr* body, const int64_t* lo, const int64_t* hi,
                           uint64_t n) {
    return wrap_new(cons_equal(*unwrap(body), intervals(lo, hi, n)));
}
dalo_expr* dalo_cons_mark(const dalo_expr* e) { return wrap_new(cons_mark(*unwrap(e))); }
dalo_expr* dalo_abs_term(const dalo_expr* body, int32_t k) {
    return wrap_new(abs_term(*unwrap(body), k));
}
dalo_expr* dalo_relu_term(const dalo_expr* body, int32_t k) {
    return wrap_new(relu_term(*unwrap(body), k));
}
int dalo_expr_all_objective_only(const dalo_expr* e) {
    return all_objective_only(unwrap(e)->attr) ? 1 : 0;
}

}  // extern "C"
