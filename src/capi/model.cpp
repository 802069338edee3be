// Model compilation and queries.
#include <memory>

#include "capi/handles.hpp"
#include "model/queries.hpp"

using namespace dalo;

namespace {

const ModelImpl& model(const dalo_model* m) { return **unwrap(m); }
dalo_model* new_handle(ModelHandle h) { return wrap(new ModelHandle(std::move(h))); }

template <class T>
const T* data_of(const ModelImpl& m, uint32_t d, const std::vector<PodArray<T>>& arrays,
                 const char* who) {
    check_degree(m, d, who);
    return d == 0 ? nullptr : arrays[d - 1].data();
}

}  // namespace

extern "C" {

dalo_model* dalo_model_create(const dalo_expr* e) try {
    return new_handle(model_create(*unwrap(e)));
}
DALO_RECOVER
dalo_model* dalo_model_create_take(dalo_expr* e) try {
    const std::unique_ptr<ExprImpl> owned(unwrap(e));
    return new_handle(model_create(*owned, 1.0, true));
}
DALO_RECOVER
dalo_model* dalo_model_create_simplified(const dalo_expr* e) try {
    return new_handle(model_of_simplified(*unwrap(e)));
}
DALO_RECOVER
dalo_model* dalo_model_create_scaled(const dalo_expr* e, double scale) try {
    return new_handle(model_create(*unwrap(e), scale));
}
DALO_RECOVER
dalo_model* dalo_model_clone(const dalo_model* m) try { return new_handle(*unwrap(m)); }
DALO_RECOVER
void dalo_model_destroy(dalo_model* m) { delete unwrap(m); }

double dalo_model_scale(const dalo_model* m) try { return model(m).scale; }
DALO_RECOVER
uint32_t dalo_model_var_count(const dalo_model* m) try { return model(m).var_count(); }
DALO_RECOVER
dalo_var dalo_model_var(const dalo_model* m, uint32_t index) try {
    check_index(index, model(m).vars.size(), "dalo_model_var");
    return model(m).vars[index];
}
DALO_RECOVER
int dalo_model_has(const dalo_model* m, dalo_var id) try {
    return model(m).index_of(id) != kNotInModel ? 1 : 0;
}
DALO_RECOVER
uint32_t dalo_model_var_index(const dalo_model* m, dalo_var id) try {
    return model(m).index_of(id);
}
DALO_RECOVER
int64_t dalo_model_constant(const dalo_model* m, int64_t* out) try {
    return store_out(out, model(m).constant);
}
DALO_RECOVER
uint32_t dalo_model_max_degree(const dalo_model* m) try { return model(m).max_degree; }
DALO_RECOVER
uint64_t dalo_model_term_count(const dalo_model* m, uint32_t d) try {
    check_degree(model(m), d, "dalo_model_term_count");
    return d == 0 ? 0 : model(m).term_count[d - 1];
}
DALO_RECOVER
const uint32_t* dalo_model_term_vars(const dalo_model* m, uint32_t d) try {
    return data_of(model(m), d, model(m).term_vars, "dalo_model_term_vars");
}
DALO_RECOVER
const int32_t* dalo_model_coeff_array(const dalo_model* m, uint32_t d) try {
    return data_of(model(m), d, model(m).coeff_array, "dalo_model_coeff_array");
}
DALO_RECOVER
int64_t dalo_model_coeff_at(const dalo_model* m, uint32_t d, uint64_t i, int32_t* out) try {
    const coeff_t c = model_coeff_at(model(m), d, i);
    if (out != nullptr) *out = c;
    return c;
}
DALO_RECOVER
int dalo_model_has_negated_literals(const dalo_model* m) try {
    return has_negated_literals(model(m)) ? 1 : 0;
}
DALO_RECOVER

uint64_t dalo_model_int_var_count(const dalo_model* m) try { return model(m).int_count(); }
DALO_RECOVER
void dalo_model_int_var_bounds(const dalo_model* m, uint64_t atom, int64_t* lower,
                               int64_t* upper) try {
    check_index(atom, model(m).int_count(), "dalo_model_int_var_bounds");
    *lower = model(m).int_lower[atom];
    *upper = model(m).int_upper[atom];
}
DALO_RECOVER_VOID
dalo_var dalo_model_int_var_orig(const dalo_model* m, uint64_t atom) try {
    check_index(atom, model(m).int_count(), "dalo_model_int_var_orig");
    return model(m).int_var_orig[atom] | kAtomBit;
}
DALO_RECOVER

uint64_t dalo_model_native_cons_count(const dalo_model* m) try {
    return model(m).native_cons.size();
}
DALO_RECOVER
uint64_t dalo_model_native_cons_nterms(const dalo_model* m, uint64_t i) try {
    return native_linear_terms(model(m), i);
}
DALO_RECOVER
const uint32_t* dalo_model_native_cons_vars(const dalo_model* m, uint64_t i) try {
    return native_record(model(m), i, "dalo_model_native_cons_vars").vars.data();
}
DALO_RECOVER
const int32_t* dalo_model_native_cons_coeffs(const dalo_model* m, uint64_t i) try {
    return native_record(model(m), i, "dalo_model_native_cons_coeffs").coeffs.data();
}
DALO_RECOVER
void dalo_model_native_cons_bounds(const dalo_model* m, uint64_t i, int64_t* lower, int64_t* upper,
                                   int64_t* constant, int64_t* weight) try {
    const NativeCons& c = native_record(model(m), i, "dalo_model_native_cons_bounds");
    *lower = c.lower;
    *upper = c.upper;
    *constant = c.constant;
    *weight = c.weight;
}
DALO_RECOVER_VOID
void dalo_model_native_cons_shape(const dalo_model* m, uint64_t i, uint32_t* exponent,
                                  uint32_t* objective_only) try {
    const NativeCons& c = native_record(model(m), i, "dalo_model_native_cons_shape");
    *exponent = c.exponent;
    *objective_only = c.objective_only;
}
DALO_RECOVER_VOID
int dalo_model_has_penalty_shapes(const dalo_model* m) try {
    return has_penalty_shapes(model(m)) ? 1 : 0;
}
DALO_RECOVER
int dalo_model_has_remainder(const dalo_model* m) try { return model(m).has_remainder; }
DALO_RECOVER
uint64_t dalo_model_remainder_info(const dalo_model* m, int64_t* constant, uint64_t* count) try {
    const uint64_t n = model(m).remainder_coeffs.size();
    store_out(constant, model(m).remainder_constant);
    if (count != nullptr) *count = n;
    return n;
}
DALO_RECOVER
const uint64_t* dalo_model_remainder_head(const dalo_model* m) try {
    return model(m).remainder_head.data();
}
DALO_RECOVER
const uint32_t* dalo_model_remainder_vars(const dalo_model* m) try {
    return model(m).remainder_vars.data();
}
DALO_RECOVER
const int32_t* dalo_model_remainder_coeffs(const dalo_model* m) try {
    return model(m).remainder_coeffs.data();
}
DALO_RECOVER

int64_t dalo_model_eval(const dalo_model* m, const uint64_t* bits, int64_t* out) try {
    return store_out(out, model_eval(model(m), bits));
}
DALO_RECOVER
int64_t dalo_expr_eval_with_model(const dalo_expr* e, const dalo_model* m, const uint64_t* bits,
                                  int64_t* out) try {
    return store_out(out, expr_eval_with_model(*unwrap(e), model(m), bits));
}
DALO_RECOVER

}  // extern "C"
