// Reachable bounds.
#include "transform/bounds.hpp"
#include "capi/handles.hpp"

using namespace dalo;

extern "C" {

int64_t dalo_expr_pos_sum(const dalo_expr* e, int64_t* out) try {
    return store_out(out, reachable_bounds(*unwrap(e)).second);
}
DALO_RECOVER
int64_t dalo_expr_neg_sum(const dalo_expr* e, int64_t* out) try {
    return store_out(out, reachable_bounds(*unwrap(e)).first);
}
DALO_RECOVER

}  // extern "C"
