// Model compilation and queries.
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

dalo_model* dalo_model_create(const dalo_expr* e) { return new_handle(model_create(*unwrap(e))); }
dalo_model* dalo_model_create_scaled(const dalo_expr* e, double scale) {
    return new_handle(model_create(*unwrap(e), scale));
}
dalo_model* dalo_model_clone(const dalo_model* m) { return new_handle(*unwrap(m)); }
void dalo_model_destroy(dalo_model* m) { delete unwrap(m); }

double dalo_model_scale(const dalo_model* m) { return model(m).scale; }
uint32_t dalo_model_var_count(const dalo_model* m) { return model(m).var_count(); }
dalo_var dalo_model_var(const dalo_model* m, uint32_t index) {
    check_index(index, model(m).vars.size(), "dalo_model_var");
    return model(m).vars[index];
}
int dalo_model_has(const dalo_model* m, dalo_var id) {
    return model(m).index_of(id) != kNotInModel ? 1 : 0;
}
uint32_t dalo_model_var_index(const dalo_model* m, dalo_var id) { return model(m).index_of(id); }
int64_t dalo_model_constant(const dalo_model* m, int64_t* out) {
    return store_out(out, model(m).constant);
}
uint32_t dalo_model_max_degree(const dalo_model* m) { return model(m).max_degree; }
uint64_t dalo_model_term_count(const dalo_model* m, uint32_t d) {
    check_degree(model(m), d, "dalo_model_term_count");
    return d == 0 ? 0 : model(m).term_count[d - 1];
}
const uint32_t* dalo_model_term_vars(const dalo_model* m, uint32_t d) {
    return data_of(model(m), d, model(m).term_vars, "dalo_model_term_vars");
}
const int32_t* dalo_model_coeff_array(const dalo_model* m, uint32_t d) {
    return data_of(model(m), d, model(m).coeff_array, "dalo_model_coeff_array");
}
int64_t dalo_model_coeff_at(const dalo_model* m, uint32_t d, uint64_t i, int32_t* out) {
    const coeff_t c = model_coeff_at(model(m), d, i);
    if (out != nullptr) *out = c;
    return c;
}
int dalo_model_has_negated_literals(const dalo_model* m) {
    return has_negated_literals(model(m)) ? 1 : 0;
}

uint64_t dalo_model_int_var_count(const dalo_model* m) { return model(m).int_count(); }
void dalo_model_int_var_bounds(const dalo_model* m, uint64_t atom, int64_t* lower, int64_t* upper) {
    check_index(atom, model(m).int_count(), "dalo_model_int_var_bounds");
    *lower = model(m).int_lower[atom];
    *upper = model(m).int_upper[atom];
}
dalo_var dalo_model_int_var_orig(const dalo_model* m, uint64_t atom) {
    check_index(atom, model(m).int_count(), "dalo_model_int_var_orig");
    return model(m).int_var_orig[atom] | kAtomBit;
}

uint64_t dalo_model_native_cons_count(const dalo_model* m) { return model(m).native_cons.size(); }
uint64_t dalo_model_native_cons_nterms(const dalo_model* m, uint64_t i) {
    return native_linear_terms(model(m), i);
}
const uint32_t* dalo_model_native_cons_vars(const dalo_model* m, uint64_t i) {
    return native_record(model(m), i, "dalo_model_native_cons_vars").vars.data();
}
const int32_t* dalo_model_native_cons_coeffs(const dalo_model* m, uint64_t i) {
    return native_record(model(m), i, "dalo_model_native_cons_coeffs").coeffs.data();
}
void dalo_model_native_cons_bounds(const dalo_model* m, uint64_t i, int64_t* lower, int64_t* upper,
                                   int64_t* constant, int64_t* weight) {
    const NativeCons& c = native_record(model(m), i, "dalo_model_native_cons_bounds");
    *lower = c.lower;
    *upper = c.upper;
    *constant = c.constant;
    *weight = c.weight;
}
void dalo_model_native_cons_shape(const dalo_model* m, uint64_t i, uint32_t* exponent,
                                  uint32_t* objective_only) {
    const NativeCons& c = native_record(model(m), i, "dalo_model_native_cons_shape");
    *exponent = c.exponent;
    *objective_only = c.objective_only;
}
int dalo_model_has_penalty_shapes(const dalo_model* m) {
    return has_penalty_shapes(model(m)) ? 1 : 0;
}
int dalo_model_has_remainder(const dalo_model* m) { return model(m).has_remainder; }
uint64_t dalo_model_remainder_info(const dalo_model* m, int64_t* constant, uint64_t* count) {
    const uint64_t n = model(m).remainder_coeffs.size();
    store_out(constant, model(m).remainder_constant);
    if (count != nullptr) *count = n;
    return n;
}
const uint64_t* dalo_model_remainder_head(const dalo_model* m) {
    return model(m).remainder_head.data();
}
const uint32_t* dalo_model_remainder_vars(const dalo_model* m) {
    return model(m).remainder_vars.data();
}
const int32_t* dalo_model_remainder_coeffs(const dalo_model* m) {
    return model(m).remainder_coeffs.data();
}

int64_t dalo_model_eval(const dalo_model* m, const uint64_t* bits, int64_t* out) {
    return store_out(out, model_eval(model(m), bits));
}
int64_t dalo_expr_eval_with_model(const dalo_expr* e, const dalo_model* m, const uint64_t* bits,
                                  int64_t* out) {
    return store_out(out, expr_eval_with_model(*unwrap(e), model(m), bits));
}

}  // extern "C"
