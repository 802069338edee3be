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

dalo_expr* dalo_exprexprelem_create(const dalo_expr* penalty, const dalo_expr* body) try {
    return wrap_new(exprexpr_create(*unwrap(penalty), *unwrap(body)));
}
DALO_RECOVER
void dalo_exprexpr_set_bounds(const dalo_expr* e, int64_t lo, int64_t hi) try {
    exprexpr_set_bounds(*unwrap(e), lo, hi);
}
DALO_RECOVER_VOID
int dalo_exprexpr_get_bounds(const dalo_expr* e, int64_t* lo, int64_t* hi) try {
    return exprexpr_get_bounds(*unwrap(e), lo, hi) ? 1 : 0;
}
DALO_RECOVER
void dalo_exprexpr_set_allowed(const dalo_expr* e, const int64_t* lo, const int64_t* hi,
                               uint64_t n) try {
    exprexpr_set_allowed(*unwrap(e), intervals(lo, hi, n));
}
DALO_RECOVER_VOID
const dalo_expr* dalo_exprexprelem_get_body(const dalo_expr* e) try {
    return wrap(&exprexpr_body(*unwrap(e)));
}
DALO_RECOVER
dalo_expr* dalo_exprexprelem_clone(const dalo_expr* e) try { return dalo_expr_clone(e); }
DALO_RECOVER
void dalo_exprexprelem_destroy(dalo_expr* e) { dalo_expr_destroy(e); }
dalo_expr* dalo_between(const dalo_expr* f, int64_t lo, int64_t hi) try {
    return wrap_new(between(*unwrap(f), lo, hi));
}
DALO_RECOVER

dalo_expr* dalo_cons_between(const dalo_expr* body, int64_t lo, int64_t hi) try {
    return wrap_new(cons_between(*unwrap(body), lo, hi));
}
DALO_RECOVER
dalo_expr* dalo_cons_equal(const dalo_expr* body, const int64_t* lo, const int64_t* hi,
                           uint64_t n) try {
    return wrap_new(cons_equal(*unwrap(body), intervals(lo, hi, n)));
}
DALO_RECOVER
dalo_expr* dalo_cons_mark(const dalo_expr* e) try { return wrap_new(cons_mark(*unwrap(e))); }
DALO_RECOVER
dalo_expr* dalo_abs_term(const dalo_expr* body, int32_t k) try {
    return wrap_new(abs_term(*unwrap(body), k));
}
DALO_RECOVER
dalo_expr* dalo_relu_term(const dalo_expr* body, int32_t k) try {
    return wrap_new(relu_term(*unwrap(body), k));
}
DALO_RECOVER
int dalo_expr_all_objective_only(const dalo_expr* e) try {
    return all_objective_only(unwrap(e)->attr) ? 1 : 0;
}
DALO_RECOVER

}  // extern "C"
