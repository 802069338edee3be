// Model compilation and queries.
#include "capi/handles.hpp"
#include "core/fatal.hpp"

extern "C" {

dalo_model* dalo_model_create(const dalo_expr*) {
    dalo::fatal("dalo_model_create: not available yet");
}
dalo_model* dalo_model_create_scaled(const dalo_expr*, double) {
    dalo::fatal("dalo_model_create_scaled: not available yet");
}
dalo_model* dalo_model_clone(const dalo_model*) {
    dalo::fatal("dalo_model_clone: not available yet");
}
void dalo_model_destroy(dalo_model*) { dalo::fatal("dalo_model_destroy: not available yet"); }
double dalo_model_scale(const dalo_model*) { dalo::fatal("dalo_model_scale: not available yet"); }
uint32_t dalo_model_var_count(const dalo_model*) {
    dalo::fatal("dalo_model_var_count: not available yet");
}
dalo_var dalo_model_var(const dalo_model*, uint32_t) {
    dalo::fatal("dalo_model_var: not available yet");
}
int dalo_model_has(const dalo_model*, dalo_var) {
    dalo::fatal("dalo_model_has: not available yet");
}
uint32_t dalo_model_var_index(const dalo_model*, dalo_var) {
    dalo::fatal("dalo_model_var_index: not available yet");
}
int64_t dalo_model_constant(const dalo_model*, int64_t*) {
    dalo::fatal("dalo_model_constant: not available yet");
}
uint32_t dalo_model_max_degree(const dalo_model*) {
    dalo::fatal("dalo_model_max_degree: not available yet");
}
uint64_t dalo_model_term_count(const dalo_model*, uint32_t) {
    dalo::fatal("dalo_model_term_count: not available yet");
}
const uint32_t* dalo_model_term_vars(const dalo_model*, uint32_t) {
    dalo::fatal("dalo_model_term_vars: not available yet");
}
const int32_t* dalo_model_coeff_array(const dalo_model*, uint32_t) {
    dalo::fatal("dalo_model_coeff_array: not available yet");
}
int64_t dalo_model_coeff_at(const dalo_model*, uint32_t, uint64_t, int32_t*) {
    dalo::fatal("dalo_model_coeff_at: not available yet");
}
int dalo_model_has_negated_literals(const dalo_model*) {
    dalo::fatal("dalo_model_has_negated_literals: not available yet");
}
uint64_t dalo_model_int_var_count(const dalo_model*) {
    dalo::fatal("dalo_model_int_var_count: not available yet");
}
void dalo_model_int_var_bounds(const dalo_model*, uint64_t, int64_t*, int64_t*) {
    dalo::fatal("dalo_model_int_var_bounds: not available yet");
}
dalo_var dalo_model_int_var_orig(const dalo_model*, uint64_t) {
    dalo::fatal("dalo_model_int_var_orig: not available yet");
}
uint64_t dalo_model_native_cons_count(const dalo_model*) {
    dalo::fatal("dalo_model_native_cons_count: not available yet");
}
uint64_t dalo_model_native_cons_nterms(const dalo_model*, uint64_t) {
    dalo::fatal("dalo_model_native_cons_nterms: not available yet");
}
const uint32_t* dalo_model_native_cons_vars(const dalo_model*, uint64_t) {
    dalo::fatal("dalo_model_native_cons_vars: not available yet");
}
const int32_t* dalo_model_native_cons_coeffs(const dalo_model*, uint64_t) {
    dalo::fatal("dalo_model_native_cons_coeffs: not available yet");
}
void dalo_model_native_cons_bounds(const dalo_model*, uint64_t, int64_t*, int64_t*, int64_t*,
                                   int64_t*) {
    dalo::fatal("dalo_model_native_cons_bounds: not available yet");
}
void dalo_model_native_cons_shape(const dalo_model*, uint64_t, uint32_t*, uint32_t*) {
    dalo::fatal("dalo_model_native_cons_shape: not available yet");
}
int dalo_model_has_penalty_shapes(const dalo_model*) {
    dalo::fatal("dalo_model_has_penalty_shapes: not available yet");
}
int dalo_model_has_remainder(const dalo_model*) {
    dalo::fatal("dalo_model_has_remainder: not available yet");
}
uint64_t dalo_model_remainder_info(const dalo_model*, int64_t*, uint64_t*) {
    dalo::fatal("dalo_model_remainder_info: not available yet");
}
const uint64_t* dalo_model_remainder_head(const dalo_model*) {
    dalo::fatal("dalo_model_remainder_head: not available yet");
}
const uint32_t* dalo_model_remainder_vars(const dalo_model*) {
    dalo::fatal("dalo_model_remainder_vars: not available yet");
}
const int32_t* dalo_model_remainder_coeffs(const dalo_model*) {
    dalo::fatal("dalo_model_remainder_coeffs: not available yet");
}
int64_t dalo_model_eval(const dalo_model*, const uint64_t*, int64_t*) {
    dalo::fatal("dalo_model_eval: not available yet");
}
int64_t dalo_expr_eval_with_model(const dalo_expr*, const dalo_model*, const uint64_t*, int64_t*) {
    dalo::fatal("dalo_expr_eval_with_model: not available yet");
}

}  // extern "C"
