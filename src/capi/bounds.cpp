// Reachable bounds.
#include "transform/bounds.hpp"
#include "capi/handles.hpp"

using namespace dalo;

extern "C" {

int64_t dalo_expr_pos_sum(const dalo_expr* e, int64_t* out) {
    return store_out(out, reachable_bounds(*unwrap(e)).second);
}
int64_t dalo_expr_neg_sum(const dalo_expr* e, int64_t* out) {
    return store_out(out, reachable_bounds(*unwrap(e)).first);
}

}  // extern "C"
