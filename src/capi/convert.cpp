// Spin/binary conversion and reduction.
#include "transform/convert.hpp"
#include "capi/handles.hpp"
#include "transform/reduce.hpp"

using namespace dalo;

extern "C" {

dalo_expr* dalo_expr_binary_to_spin(const dalo_expr* e) {
    return wrap_new(expr_binary_to_spin(*unwrap(e)));
}
dalo_expr* dalo_expr_spin_to_binary(const dalo_expr* e) {
    return wrap_new(expr_spin_to_binary(*unwrap(e)));
}
dalo_expr* dalo_expr_reduce(const dalo_expr* e) { return wrap_new(expr_reduce(*unwrap(e))); }

}  // extern "C"
