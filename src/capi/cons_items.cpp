// Constraint inspection and evaluation.
#include <algorithm>

#include "capi/sol_handle.hpp"
#include "constraints/items.hpp"
#include "model/sol.hpp"

using namespace dalo;

extern "C" {

int dalo_expr_is_declared(const dalo_expr* e) try { return expr_is_declared(*unwrap(e)) ? 1 : 0; }
DALO_RECOVER
int dalo_expr_has_body(const dalo_expr* e) try { return expr_has_body(*unwrap(e)) ? 1 : 0; }
DALO_RECOVER
uint64_t dalo_cons_item_count(const dalo_expr* e) try { return cons_item_count(*unwrap(e)); }
DALO_RECOVER

int dalo_cons_item_info(const dalo_expr* e, uint64_t i, dalo_expr** body, int64_t* weight,
                        int64_t* lo, int64_t* hi) try {
    ItemInfo info = cons_item_info(*unwrap(e), i);
    if (body != nullptr) *body = wrap_new(std::move(info.body));
    store_out(weight, info.weight);
    store_out(lo, info.lo);
    store_out(hi, info.hi);
    return info.bounded ? 1 : 0;
}
DALO_RECOVER

int dalo_cons_item_shape(const dalo_expr* e, uint64_t i, uint32_t* k,
                         uint32_t* objective_only) try {
    uint32_t kk = 2, oo = 0;
    const bool bounded = cons_item_shape(*unwrap(e), i, kk, oo);
    if (k != nullptr) *k = kk;
    if (objective_only != nullptr) *objective_only = oo;
    return bounded ? 1 : 0;
}
DALO_RECOVER

uint64_t dalo_cons_item_allowed(const dalo_expr* e, uint64_t i, int64_t* lo, int64_t* hi,
                                uint64_t capacity) try {
    const std::vector<Interval>* allowed = cons_item_allowed(*unwrap(e), i);
    if (allowed == nullptr) return 0;
    const uint64_t n = std::min<uint64_t>(capacity, allowed->size());
    for (uint64_t k = 0; k < n; ++k) {
        if (lo != nullptr) lo[k] = (*allowed)[k].first;
        if (hi != nullptr) hi[k] = (*allowed)[k].second;
    }
    return allowed->size();
}
DALO_RECOVER

int dalo_cons_item_eval(const dalo_expr* e, uint64_t i, const dalo_sol* sol, int64_t* value,
                        int64_t* lo, int64_t* hi, int64_t* violation, int64_t* weight) try {
    const ItemEval r = cons_item_eval(*unwrap(e), i, *unwrap(sol));
    store_out(value, r.value);
    store_out(lo, r.lo);
    store_out(hi, r.hi);
    store_out(violation, r.violation);
    store_out(weight, r.weight);
    return 1;
}
DALO_RECOVER

uint64_t dalo_cons_violation_count(const dalo_expr* e, const dalo_sol* sol) try {
    return cons_violation_count(*unwrap(e), *unwrap(sol));
}
DALO_RECOVER

}  // extern "C"
