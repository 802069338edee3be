// Spin/binary conversion and reduction.
#include "transform/convert.hpp"
#include "capi/handles.hpp"
#include "transform/reduce.hpp"

using namespace dalo;

extern "C" {

dalo_expr* dalo_expr_binary_to_spin(const dalo_expr* e) try {
    return wrap_new(expr_binary_to_spin(*unwrap(e)));
}
DALO_RECOVER
dalo_expr* dalo_expr_spin_to_binary(const dalo_expr* e) try {
    return wrap_new(expr_spin_to_binary(*unwrap(e)));
}
DALO_RECOVER
dalo_expr* dalo_expr_reduce(const dalo_expr* e) try { return wrap_new(expr_reduce(*unwrap(e))); }
DALO_RECOVER

}  // extern "C"
