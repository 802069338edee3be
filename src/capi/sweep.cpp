// SweepSolver wrapper.
#include "capi/solver_handles.hpp"

using namespace dalo;

extern "C" {

dalo_sweep_wrapper* dalo_sweep_wrapper_create(const dalo_model* m) try {
    return wrap(new SweepWrapper(*unwrap(m)));
}
DALO_RECOVER
void dalo_sweep_wrapper_destroy(dalo_sweep_wrapper* w) { delete unwrap(w); }
dalo_solver_result* dalo_sweep_wrapper_search(dalo_sweep_wrapper* w, const dalo_param* params) try {
    return new_result(unwrap(w)->search(plugin_params(params)));
}
DALO_RECOVER

}  // extern "C"
