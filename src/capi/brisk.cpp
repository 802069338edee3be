// BriskSolver wrapper and the solver results shared by the three families.
#include "capi/solver_handles.hpp"
#include "model/sol.hpp"

using namespace dalo;

namespace {

const ModelHandle& handle(const dalo_model* m) { return *unwrap(m); }

}  // namespace

extern "C" {

dalo_brisk_solver_wrapper* dalo_brisk_solver_wrapper_create(const dalo_model* m) {
    return wrap(new BriskWrapper(handle(m)));
}
void dalo_brisk_solver_wrapper_destroy(dalo_brisk_solver_wrapper* w) { delete unwrap(w); }
dalo_solver_result* dalo_brisk_solver_wrapper_search(dalo_brisk_solver_wrapper* w,
                                                     const dalo_param* params, const void* hint) {
    return new_result(unwrap(w)->search(plugin_params(params), hint));
}
dalo_solver_result* dalo_brisk_solver_wrapper_search_int(dalo_brisk_solver_wrapper* w,
                                                         const dalo_param* params,
                                                         const uint64_t* hint_bits,
                                                         const int64_t* hint_ints,
                                                         uint64_t hint_count) {
    return new_result(
        unwrap(w)->search_int(plugin_params(params), hint_bits, hint_ints, hint_count));
}

int64_t dalo_brisk_solver_result_energy(const dalo_solver_result* r, int64_t* out) {
    return store_out(out, unwrap(r)->energy);
}
double dalo_brisk_solver_result_tts(const dalo_solver_result* r) { return unwrap(r)->tts; }
const uint64_t* dalo_brisk_solver_result_bits(const dalo_solver_result* r) {
    return unwrap(r)->bits.data();
}
uint64_t dalo_brisk_solver_result_topk_count(const dalo_solver_result* r) {
    return unwrap(r)->topk.size();
}
int64_t dalo_brisk_solver_result_topk_energy(const dalo_solver_result* r, uint64_t i,
                                             int64_t* out) {
    return store_out(out, topk_entry(*unwrap(r), i).energy);
}
double dalo_brisk_solver_result_topk_tts(const dalo_solver_result* r, uint64_t i) {
    return topk_entry(*unwrap(r), i).tts;
}
const uint64_t* dalo_brisk_solver_result_topk_bits(const dalo_solver_result* r, uint64_t i) {
    return topk_entry(*unwrap(r), i).bits.data();
}
void dalo_brisk_solver_result_steal_bits(dalo_solver_result* r, dalo_u64_vector* v) {
    exchange_bits(unwrap(r)->bits, v);
}
void dalo_brisk_solver_result_steal_topk_bits(dalo_solver_result* r, uint64_t i,
                                              dalo_u64_vector* v) {
    exchange_bits(topk_entry(*unwrap(r), i).bits, v);
}
uint64_t dalo_brisk_solver_result_info_count(const dalo_solver_result* r) {
    return unwrap(r)->info.size();
}
const char* dalo_brisk_solver_result_info_key(const dalo_solver_result* r, uint64_t i) {
    return info_entry(*unwrap(r), i).first.c_str();
}
const char* dalo_brisk_solver_result_info_value(const dalo_solver_result* r, uint64_t i) {
    return info_entry(*unwrap(r), i).second.c_str();
}
void dalo_brisk_solver_result_destroy(dalo_solver_result* r) { delete unwrap(r); }
dalo_sol* dalo_brisk_solver_result_to_sol(dalo_solver_result* r, const dalo_model* m) {
    return wrap(result_to_sol(*unwrap(r), handle(m)));
}
dalo_sol* dalo_brisk_solver_result_topk_to_sol(dalo_solver_result* r, uint64_t i,
                                               const dalo_model* m) {
    return wrap(topk_to_sol(*unwrap(r), i, handle(m)));
}

}  // extern "C"
