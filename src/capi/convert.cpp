// Spin/binary conversion and reduction.
#include "capi/handles.hpp"
#include "core/fatal.hpp"

using namespace dalo;

extern "C" {

dalo_expr* dalo_expr_binary_to_spin(const dalo_expr*) { fatal("binary_to_spin: not available yet"); }
dalo_expr* dalo_expr_spin_to_binary(const dalo_expr*) { fatal("spin_to_binary: not available yet"); }
dalo_expr* dalo_expr_reduce(const dalo_expr*) { fatal("reduce: not available yet"); }

}  // extern "C"
