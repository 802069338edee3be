// Solver wrappers, results and system information.
#include "capi/handles.hpp"
#include "core/fatal.hpp"

extern "C" {

dalo_brisk_solver_wrapper* dalo_brisk_solver_wrapper_create(const dalo_model*) {
    dalo::fatal("dalo_brisk_solver_wrapper_create: not available yet");
}
void dalo_brisk_solver_wrapper_destroy(dalo_brisk_solver_wrapper*) {
    dalo::fatal("dalo_brisk_solver_wrapper_destroy: not available yet");
}
dalo_solver_result* dalo_brisk_solver_wrapper_search(dalo_brisk_solver_wrapper*, const dalo_param*,
                                                     const void*) {
    dalo::fatal("dalo_brisk_solver_wrapper_search: not available yet");
}
dalo_solver_result* dalo_brisk_solver_wrapper_search_int(dalo_brisk_solver_wrapper*,
                                                         const dalo_param*, const uint64_t*,
                                                         const int64_t*, uint64_t) {
    dalo::fatal("dalo_brisk_solver_wrapper_search_int: not available yet");
}
int64_t dalo_brisk_solver_result_energy(const dalo_solver_result*, int64_t*) {
    dalo::fatal("dalo_brisk_solver_result_energy: not available yet");
}
double dalo_brisk_solver_result_tts(const dalo_solver_result*) {
    dalo::fatal("dalo_brisk_solver_result_tts: not available yet");
}
const uint64_t* dalo_brisk_solver_result_bits(const dalo_solver_result*) {
    dalo::fatal("dalo_brisk_solver_result_bits: not available yet");
}
uint64_t dalo_brisk_solver_result_topk_count(const dalo_solver_result*) {
    dalo::fatal("dalo_brisk_solver_result_topk_count: not available yet");
}
int64_t dalo_brisk_solver_result_topk_energy(const dalo_solver_result*, uint64_t, int64_t*) {
    dalo::fatal("dalo_brisk_solver_result_topk_energy: not available yet");
}
double dalo_brisk_solver_result_topk_tts(const dalo_solver_result*, uint64_t) {
    dalo::fatal("dalo_brisk_solver_result_topk_tts: not available yet");
}
const uint64_t* dalo_brisk_solver_result_topk_bits(const dalo_solver_result*, uint64_t) {
    dalo::fatal("dalo_brisk_solver_result_topk_bits: not available yet");
}
void dalo_brisk_solver_result_steal_bits(dalo_solver_result*, dalo_u64_vector*) {
    dalo::fatal("dalo_brisk_solver_result_steal_bits: not available yet");
}
void dalo_brisk_solver_result_steal_topk_bits(dalo_solver_result*, uint64_t, dalo_u64_vector*) {
    dalo::fatal("dalo_brisk_solver_result_steal_topk_bits: not available yet");
}
uint64_t dalo_brisk_solver_result_info_count(const dalo_solver_result*) {
    dalo::fatal("dalo_brisk_solver_result_info_count: not available yet");
}
const char* dalo_brisk_solver_result_info_key(const dalo_solver_result*, uint64_t) {
    dalo::fatal("dalo_brisk_solver_result_info_key: not available yet");
}
const char* dalo_brisk_solver_result_info_value(const dalo_solver_result*, uint64_t) {
    dalo::fatal("dalo_brisk_solver_result_info_value: not available yet");
}
void dalo_brisk_solver_result_destroy(dalo_solver_result*) {
    dalo::fatal("dalo_brisk_solver_result_destroy: not available yet");
}
dalo_sol* dalo_brisk_solver_result_to_sol(dalo_solver_result*, const dalo_model*) {
    dalo::fatal("dalo_brisk_solver_result_to_sol: not available yet");
}
dalo_sol* dalo_brisk_solver_result_topk_to_sol(dalo_solver_result*, uint64_t, const dalo_model*) {
    dalo::fatal("dalo_brisk_solver_result_topk_to_sol: not available yet");
}
dalo_sweep_wrapper* dalo_sweep_wrapper_create(const dalo_model*) {
    dalo::fatal("dalo_sweep_wrapper_create: not available yet");
}
void dalo_sweep_wrapper_destroy(dalo_sweep_wrapper*) {
    dalo::fatal("dalo_sweep_wrapper_destroy: not available yet");
}
dalo_solver_result* dalo_sweep_wrapper_search(dalo_sweep_wrapper*, const dalo_param*) {
    dalo::fatal("dalo_sweep_wrapper_search: not available yet");
}
dalo_kelp_wrapper* dalo_kelp_wrapper_create(const dalo_model*, int32_t) {
    dalo::fatal("dalo_kelp_wrapper_create: not available yet");
}
void dalo_kelp_wrapper_destroy(dalo_kelp_wrapper*) {
    dalo::fatal("dalo_kelp_wrapper_destroy: not available yet");
}
dalo_solver_result* dalo_kelp_wrapper_search(dalo_kelp_wrapper*, const dalo_param*, const void*) {
    dalo::fatal("dalo_kelp_wrapper_search: not available yet");
}
dalo_solver_result* dalo_kelp_wrapper_search_int(dalo_kelp_wrapper*, const dalo_param*,
                                                 const uint64_t*, const int64_t*, uint64_t) {
    dalo::fatal("dalo_kelp_wrapper_search_int: not available yet");
}
void dalo_kelp_wrapper_hint(dalo_kelp_wrapper*, const dalo_sol*) {
    dalo::fatal("dalo_kelp_wrapper_hint: not available yet");
}
void dalo_kelp_wrapper_set_callback(dalo_kelp_wrapper*, dalo_solver_callback, void*) {
    dalo::fatal("dalo_kelp_wrapper_set_callback: not available yet");
}
void dalo_kelp_wrapper_terminate(dalo_kelp_wrapper*) {
    dalo::fatal("dalo_kelp_wrapper_terminate: not available yet");
}

}  // extern "C"
