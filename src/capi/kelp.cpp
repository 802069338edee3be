// KELPSolver wrapper.
#include "capi/solver_handles.hpp"

using namespace dalo;

namespace {

// Hands a new Sol to the host as its handle.
double to_host(void* context, SolImpl* sol, uint32_t event) {
    const auto* h = static_cast<const KelpHandle*>(context);
    return h->host(h->host_context, wrap(sol), event);
}

}  // namespace

extern "C" {

dalo_kelp_wrapper* dalo_kelp_wrapper_create(const dalo_model* m, int32_t gpu_mode) try {
    return wrap(new KelpHandle(*unwrap(m), gpu_mode));
}
DALO_RECOVER
void dalo_kelp_wrapper_destroy(dalo_kelp_wrapper* w) { delete unwrap(w); }
dalo_solver_result* dalo_kelp_wrapper_search(dalo_kelp_wrapper* w, const dalo_param* params,
                                             const void* hint) try {
    return new_result(unwrap(w)->search(plugin_params(params), hint));
}
DALO_RECOVER
dalo_solver_result* dalo_kelp_wrapper_search_int(dalo_kelp_wrapper* w, const dalo_param* params,
                                                 const uint64_t* hint_bits,
                                                 const int64_t* hint_ints,
                                                 uint64_t hint_count) try {
    return new_result(
        unwrap(w)->search_int(plugin_params(params), hint_bits, hint_ints, hint_count));
}
DALO_RECOVER
void dalo_kelp_wrapper_hint(dalo_kelp_wrapper* w, const dalo_sol* sol) try {
    unwrap(w)->hint(unwrap(sol));
}
DALO_RECOVER_VOID
void dalo_kelp_wrapper_set_callback(dalo_kelp_wrapper* w, dalo_solver_callback callback,
                                    void* context) try {
    KelpHandle* h = unwrap(w);
    h->host = callback;
    h->host_context = context;
    h->callback = callback != nullptr ? to_host : nullptr;
    h->callback_context = h;
}
DALO_RECOVER_VOID
void dalo_kelp_wrapper_terminate(dalo_kelp_wrapper* w) try { unwrap(w)->terminate(); }
DALO_RECOVER_VOID

}  // extern "C"
