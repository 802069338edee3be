// Sol.
#include "capi/handles.hpp"
#include "core/fatal.hpp"

extern "C" {

dalo_sol* dalo_sol_create(const dalo_model*) { dalo::fatal("dalo_sol_create: not available yet"); }
dalo_sol* dalo_sol_create_from_expr(const dalo_expr*) {
    dalo::fatal("dalo_sol_create_from_expr: not available yet");
}
dalo_sol* dalo_sol_clone(const dalo_sol*) { dalo::fatal("dalo_sol_clone: not available yet"); }
void dalo_sol_destroy(dalo_sol*) { dalo::fatal("dalo_sol_destroy: not available yet"); }
const dalo_model* dalo_sol_model(const dalo_sol*) {
    dalo::fatal("dalo_sol_model: not available yet");
}
uint32_t dalo_sol_var_count(const dalo_sol*) {
    dalo::fatal("dalo_sol_var_count: not available yet");
}
int dalo_sol_has(const dalo_sol*, dalo_var) { dalo::fatal("dalo_sol_has: not available yet"); }
dalo_var dalo_sol_model_var(const dalo_sol*, uint32_t) {
    dalo::fatal("dalo_sol_model_var: not available yet");
}
uint32_t dalo_sol_get(const dalo_sol*, dalo_var) { dalo::fatal("dalo_sol_get: not available yet"); }
void dalo_sol_set(dalo_sol*, dalo_var, uint32_t) { dalo::fatal("dalo_sol_set: not available yet"); }
void dalo_sol_flip(dalo_sol*, dalo_var) { dalo::fatal("dalo_sol_flip: not available yet"); }
const uint64_t* dalo_sol_bits(const dalo_sol*) { dalo::fatal("dalo_sol_bits: not available yet"); }
void dalo_sol_steal_bits(dalo_sol*, dalo_u64_vector*) {
    dalo::fatal("dalo_sol_steal_bits: not available yet");
}
int64_t dalo_sol_get_int(const dalo_sol*, dalo_var, int64_t*) {
    dalo::fatal("dalo_sol_get_int: not available yet");
}
void dalo_sol_set_int(dalo_sol*, dalo_var, int64_t) {
    dalo::fatal("dalo_sol_set_int: not available yet");
}
const int64_t* dalo_sol_int_vals(const dalo_sol*) {
    dalo::fatal("dalo_sol_int_vals: not available yet");
}
uint64_t dalo_sol_int_count(const dalo_sol*) {
    dalo::fatal("dalo_sol_int_count: not available yet");
}
void dalo_sol_set_from_sol(dalo_sol*, const dalo_sol*) {
    dalo::fatal("dalo_sol_set_from_sol: not available yet");
}
int64_t dalo_sol_compute_energy(dalo_sol*, int64_t*) {
    dalo::fatal("dalo_sol_compute_energy: not available yet");
}
int64_t dalo_sol_energy(const dalo_sol*, int64_t*) {
    dalo::fatal("dalo_sol_energy: not available yet");
}
int64_t dalo_sol_energy_int(const dalo_sol*, int64_t*) {
    dalo::fatal("dalo_sol_energy_int: not available yet");
}
int dalo_sol_energy_valid(const dalo_sol*) {
    dalo::fatal("dalo_sol_energy_valid: not available yet");
}
void dalo_sol_set_energy(dalo_sol*, int64_t) {
    dalo::fatal("dalo_sol_set_energy: not available yet");
}
double dalo_sol_tts(const dalo_sol*) { dalo::fatal("dalo_sol_tts: not available yet"); }
void dalo_sol_set_tts(dalo_sol*, double) { dalo::fatal("dalo_sol_set_tts: not available yet"); }
double dalo_sol_scale(const dalo_sol*) { dalo::fatal("dalo_sol_scale: not available yet"); }
int64_t dalo_sol_eval_expr(const dalo_sol*, const dalo_expr*, int64_t*) {
    dalo::fatal("dalo_sol_eval_expr: not available yet");
}
const char* dalo_sol_str(const dalo_sol*) { dalo::fatal("dalo_sol_str: not available yet"); }

}  // extern "C"
