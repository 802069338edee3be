// Solver type and system information strings.
#include "capi/handles.hpp"
#include "core/fatal.hpp"

extern "C" {

const char* dalo_expr_solver_type(void) { dalo::fatal("dalo_expr_solver_type: not available yet"); }
const char* dalo_const_str(const char*) { dalo::fatal("dalo_const_str: not available yet"); }

}  // extern "C"
