// BriskSolver wrapper and the solver results shared by the three families.
#include "capi/solver_handles.hpp"
#include "model/sol.hpp"

using namespace dalo;

namespace {

const ModelHandle& handle(const dalo_model* m) { return *unwrap(m); }

}  // namespace

extern "C" {

dalo_brisk_solver_wrapper* dalo_brisk_solver_wrapper_create(const dalo_model* m) try {
    return wrap(new BriskWrapper(handle(m)));
}
DALO_RECOVER
void dalo_brisk_solver_wrapper_destroy(dalo_brisk_solver_wrapper* w) { delete unwrap(w); }
dalo_solver_result* dalo_brisk_solver_wrapper_search(dalo_brisk_solver_wrapper* w,
                                                     const dalo_param* params,
                                                     const void* hint) try {
    return new_result(unwrap(w)->search(plugin_params(params), hint));
}
DALO_RECOVER
dalo_solver_result* dalo_brisk_solver_wrapper_search_int(dalo_brisk_solver_wrapper* w,
                                                         const dalo_param* params,
                                                         const uint64_t* hint_bits,
                                                         const int64_t* hint_ints,
                                                         uint64_t hint_count) try {
    return new_result(
        unwrap(w)->search_int(plugin_params(params), hint_bits, hint_ints, hint_count));
}
DALO_RECOVER

int64_t dalo_brisk_solver_result_energy(const dalo_solver_result* r, int64_t* out) try {
    return store_out(out, unwrap(r)->energy);
}
DALO_RECOVER
double dalo_brisk_solver_result_tts(const dalo_solver_result* r) try { return unwrap(r)->tts; }
DALO_RECOVER
const uint64_t* dalo_brisk_solver_result_bits(const dalo_solver_result* r) try {
    return unwrap(r)->bits.data();
}
DALO_RECOVER
uint64_t dalo_brisk_solver_result_topk_count(const dalo_solver_result* r) try {
    return unwrap(r)->topk.size();
}
DALO_RECOVER
int64_t dalo_brisk_solver_result_topk_energy(const dalo_solver_result* r, uint64_t i,
                                             int64_t* out) try {
    return store_out(out, topk_entry(*unwrap(r), i).energy);
}
DALO_RECOVER
double dalo_brisk_solver_result_topk_tts(const dalo_solver_result* r, uint64_t i) try {
    return topk_entry(*unwrap(r), i).tts;
}
DALO_RECOVER
const uint64_t* dalo_brisk_solver_result_topk_bits(const dalo_solver_result* r, uint64_t i) try {
    return topk_entry(*unwrap(r), i).bits.data();
}
DALO_RECOVER
void dalo_brisk_solver_result_steal_bits(dalo_solver_result* r, dalo_u64_vector* v) try {
    exchange_bits(unwrap(r)->bits, v);
}
DALO_RECOVER_VOID
void dalo_brisk_solver_result_steal_topk_bits(dalo_solver_result* r, uint64_t i,
                                              dalo_u64_vector* v) try {
    exchange_bits(topk_entry(*unwrap(r), i).bits, v);
}
DALO_RECOVER_VOID
uint64_t dalo_brisk_solver_result_info_count(const dalo_solver_result* r) try {
    return unwrap(r)->info.size();
}
DALO_RECOVER
const char* dalo_brisk_solver_result_info_key(const dalo_solver_result* r, uint64_t i) try {
    return info_entry(*unwrap(r), i).first.c_str();
}
DALO_RECOVER
const char* dalo_brisk_solver_result_info_value(const dalo_solver_result* r, uint64_t i) try {
    return info_entry(*unwrap(r), i).second.c_str();
}
DALO_RECOVER
void dalo_brisk_solver_result_destroy(dalo_solver_result* r) { delete unwrap(r); }
dalo_sol* dalo_brisk_solver_result_to_sol(dalo_solver_result* r, const dalo_model* m) try {
    return wrap(result_to_sol(*unwrap(r), handle(m)));
}
DALO_RECOVER
dalo_sol* dalo_brisk_solver_result_topk_to_sol(dalo_solver_result* r, uint64_t i,
                                               const dalo_model* m) try {
    return wrap(topk_to_sol(*unwrap(r), i, handle(m)));
}
DALO_RECOVER

}  // extern "C"
