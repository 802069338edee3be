// Bit-encoded integers: construction, accessors, one-hot decoding.
#include "constraints/varint.hpp"
#include "capi/array_handles.hpp"

using namespace dalo;

extern "C" {

dalo_expr* dalo_varintelem_create(const char* name, int64_t lo, int64_t hi) try {
    return wrap_new(varint_create(name, lo, hi));
}
DALO_RECOVER
dalo_expr* dalo_varintelem_create_with_vars(const char* name, int64_t lo, int64_t hi,
                                            const int32_t* coeffs, const dalo_var* vars,
                                            uint64_t n) try {
    return wrap_new(varint_create_with_vars(name, lo, hi, coeffs, vars, n));
}
DALO_RECOVER
dalo_array_expr* dalo_array_varint_create_uniform(const char* name, const uint64_t* shape,
                                                  uint64_t ndim, int64_t lo, int64_t hi) try {
    return wrap(new ExprArray(varint_array_uniform(name, shape, ndim, lo, hi)));
}
DALO_RECOVER
dalo_expr* dalo_array_varint_get_expr(const dalo_array_expr* a, uint64_t i) try {
    const ExprArray& arr = *unwrap(a);
    check_flat("dalo_array_varint_get_expr", i, arr.size());
    return wrap_new(ExprImpl(arr.data[i], kAttrPlain));
}
DALO_RECOVER

int64_t dalo_varintelem_min(const dalo_expr* e, int64_t* out) try {
    return store_out(out, varint_set().get(unwrap(e)->attr).lo);
}
DALO_RECOVER
int64_t dalo_varintelem_max(const dalo_expr* e, int64_t* out) try {
    return store_out(out, varint_set().get(unwrap(e)->attr).hi);
}
DALO_RECOVER
uint64_t dalo_varintelem_var_count(const dalo_expr* e) try {
    return varint_set().get(unwrap(e)->attr).coeffs.size();
}
DALO_RECOVER
dalo_var dalo_varintelem_var(const dalo_expr* e, uint64_t i) try {
    return varint_var(*unwrap(e), i);
}
DALO_RECOVER
int64_t dalo_varintelem_coeff(const dalo_expr* e, uint64_t i, int32_t* out) try {
    const coeff_t c = varint_coeff(*unwrap(e), i);
    if (out != nullptr) *out = c;
    return c;
}
DALO_RECOVER
uint64_t dalo_varintelem_decompose(const dalo_expr* e, int64_t value, dalo_var* out_vars,
                                   uint64_t* out_bits) try {
    return varint_decompose(*unwrap(e), value, out_vars, out_bits);
}
DALO_RECOVER
void dalo_varintelem_replace_expr(dalo_expr* target, const dalo_expr* source) try {
    ExprImpl& t = *unwrap(target);
    const uint32_t word = t.attr;
    t = *unwrap(source);
    t.attr = word;
}
DALO_RECOVER_VOID
dalo_expr* dalo_varintelem_clone(const dalo_expr* e) try { return dalo_expr_clone(e); }
DALO_RECOVER
void dalo_varintelem_destroy(dalo_expr* e) { dalo_expr_destroy(e); }

void dalo_onehot_to_int(const int32_t* values, const uint64_t* shape, uint64_t ndim,
                        int32_t* out) try {
    onehot_to_int(values, shape, ndim, out);
}
DALO_RECOVER_VOID

}  // extern "C"
