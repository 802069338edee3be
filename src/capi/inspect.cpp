// Constraint inspection and evaluation.
#include "capi/handles.hpp"
#include "core/fatal.hpp"

extern "C" {

int dalo_expr_is_declared(const dalo_expr*) {
    dalo::fatal("dalo_expr_is_declared: not available yet");
}
int dalo_expr_has_body(const dalo_expr*) { dalo::fatal("dalo_expr_has_body: not available yet"); }
uint64_t dalo_cons_item_count(const dalo_expr*) {
    dalo::fatal("dalo_cons_item_count: not available yet");
}
int dalo_cons_item_info(const dalo_expr*, uint64_t, dalo_expr**, int64_t*, int64_t*, int64_t*) {
    dalo::fatal("dalo_cons_item_info: not available yet");
}
int dalo_cons_item_shape(const dalo_expr*, uint64_t, uint32_t*, uint32_t*) {
    dalo::fatal("dalo_cons_item_shape: not available yet");
}
uint64_t dalo_cons_item_allowed(const dalo_expr*, uint64_t, int64_t*, int64_t*, uint64_t) {
    dalo::fatal("dalo_cons_item_allowed: not available yet");
}
int dalo_cons_item_eval(const dalo_expr*, uint64_t, const dalo_sol*, int64_t*, int64_t*, int64_t*,
                        int64_t*, int64_t*) {
    dalo::fatal("dalo_cons_item_eval: not available yet");
}
uint64_t dalo_cons_violation_count(const dalo_expr*, const dalo_sol*) {
    dalo::fatal("dalo_cons_violation_count: not available yet");
}

}  // extern "C"
