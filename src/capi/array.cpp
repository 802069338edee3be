// Array containers: construction, access, selections, texts.
#include <string>

#include "capi/array_handles.hpp"
#include "capi/sol_handle.hpp"
#include "core/expr_ops.hpp"
#include "core/text.hpp"
#include "core/var_registry.hpp"

using namespace dalo;

namespace {

template <class A>
auto* new_array(A&& a) {
    return wrap(new std::decay_t<A>(std::forward<A>(a)));
}

template <class T, class In>
ArrayImpl<T> from_data(In data, const uint64_t* shape, uint64_t ndim) {
    ArrayImpl<T> a(shape_from(shape, ndim));
    for_elements(a.size(), [&](uint64_t i) { a.data[i] = element_from(data[i]); });
    return a;
}

template <class T>
const T& at(const ArrayImpl<T>& a, uint64_t i, const char* who) {
    check_flat(who, i, a.size());
    return a.data[i];
}

template <class T>
T& at(ArrayImpl<T>& a, uint64_t i, const char* who) {
    check_flat(who, i, a.size());
    return a.data[i];
}

const char* into(std::string& buffer, std::string text) {
    buffer = std::move(text);
    return buffer.c_str();
}

}  // namespace

// Members that read and write every kind alike.
#define DALO_ARRAY_MEMBERS(K, T, IN, BUFFER)                                                  \
    dalo_array_##K* dalo_array_##K##_create(const uint64_t* shape, uint64_t ndim) try {       \
        return new_array(ArrayImpl<T>(shape_from(shape, ndim)));                              \
    }                                                                                         \
    DALO_RECOVER                                                                              \
    dalo_array_##K* dalo_array_##K##_create_data(IN data, const uint64_t* shape,              \
                                                 uint64_t ndim) try {                         \
        return new_array(from_data<T>(data, shape, ndim));                                    \
    }                                                                                         \
    DALO_RECOVER                                                                              \
    void dalo_array_##K##_destroy(dalo_array_##K* a) { delete unwrap(a); }                    \
    uint64_t dalo_array_##K##_size(const dalo_array_##K* a) try { return unwrap(a)->size(); } \
    DALO_RECOVER                                                                              \
    uint64_t dalo_array_##K##_ndim(const dalo_array_##K* a) try { return unwrap(a)->ndim(); } \
    DALO_RECOVER                                                                              \
    const uint64_t* dalo_array_##K##_shape(const dalo_array_##K* a) try {                     \
        return unwrap(a)->shape.data();                                                       \
    }                                                                                         \
    DALO_RECOVER                                                                              \
    uint64_t dalo_array_##K##_shape_at(const dalo_array_##K* a, uint64_t axis) try {          \
        check_axis("dalo_array_" #K "_shape_at", axis, unwrap(a)->ndim());                    \
        return unwrap(a)->shape[axis];                                                        \
    }                                                                                         \
    DALO_RECOVER                                                                              \
    dalo_array_##K* dalo_array_##K##_clone(const dalo_array_##K* a) try {                     \
        return new_array(clone_array(*unwrap(a)));                                            \
    }                                                                                         \
    DALO_RECOVER                                                                              \
    dalo_array_##K* dalo_array_##K##_subarray(const dalo_array_##K* a, uint64_t i) try {      \
        return wrap(subarray(*unwrap(a), i));                                                 \
    }                                                                                         \
    DALO_RECOVER                                                                              \
    dalo_array_##K* dalo_array_##K##_view(const dalo_array_##K* a, const uint64_t* start,     \
                                          const uint64_t* stop, const uint8_t* drop,          \
                                          uint64_t naxes) try {                               \
        return new_array(view(*unwrap(a), start, stop, drop, naxes));                         \
    }                                                                                         \
    DALO_RECOVER                                                                              \
    dalo_array_##K* dalo_array_##K##_concat(const dalo_array_##K* a, const dalo_array_##K* b, \
                                            uint64_t axis) try {                              \
        return new_array(concat(*unwrap(a), *unwrap(b), axis));                               \
    }                                                                                         \
    DALO_RECOVER                                                                              \
    const char* dalo_array_##K##_str(const dalo_array_##K* a) try {                           \
        return into(text_buffers().BUFFER, array_text(*unwrap(a)));                           \
    }                                                                                         \
    DALO_RECOVER

extern "C" {

DALO_ARRAY_MEMBERS(var, Var, const dalo_var*, array_var)
DALO_ARRAY_MEMBERS(int, coeff_t, const int32_t*, array_int)
DALO_ARRAY_MEMBERS(term, TermElem, const dalo_term* const*, array_term)
DALO_ARRAY_MEMBERS(expr, ExprImpl, const dalo_expr* const*, expr)

dalo_var dalo_array_var_get(const dalo_array_var* a, uint64_t i) try {
    return at(*unwrap(a), i, "dalo_array_var_get");
}
DALO_RECOVER
int64_t dalo_array_int_get(const dalo_array_int* a, uint64_t i, int64_t* out) try {
    return store_out(out, at(*unwrap(a), i, "dalo_array_int_get"));
}
DALO_RECOVER
dalo_term* dalo_array_term_get(const dalo_array_term* a, uint64_t i) try {
    return wrap(new TermImpl(copy_term(at(*unwrap(a), i, "dalo_array_term_get"))));
}
DALO_RECOVER
dalo_expr* dalo_array_expr_get(const dalo_array_expr* a, uint64_t i) try {
    return wrap(new ExprImpl(at(*unwrap(a), i, "dalo_array_expr_get")));
}
DALO_RECOVER
void dalo_array_var_set(dalo_array_var* a, uint64_t i, dalo_var v) try {
    at(*unwrap(a), i, "dalo_array_var_set") = v;
}
DALO_RECOVER_VOID
void dalo_array_int_set(dalo_array_int* a, uint64_t i, int64_t v) try {
    at(*unwrap(a), i, "dalo_array_int_set") = wrap_coeff(v);
}
DALO_RECOVER_VOID
void dalo_array_term_set(dalo_array_term* a, uint64_t i, const dalo_term* t) try {
    at(*unwrap(a), i, "dalo_array_term_set") = TermElem(*unwrap(t));
}
DALO_RECOVER_VOID
void dalo_array_expr_set(dalo_array_expr* a, uint64_t i, const dalo_expr* e) try {
    at(*unwrap(a), i, "dalo_array_expr_set") = ExprImpl(*unwrap(e));
}
DALO_RECOVER_VOID
const dalo_expr* dalo_array_expr_ref(const dalo_array_expr* a, uint64_t i) try {
    return wrap(&at(*unwrap(a), i, "dalo_array_expr_ref"));
}
DALO_RECOVER
const dalo_var* dalo_array_var_data(const dalo_array_var* a) try { return unwrap(a)->data.data(); }
DALO_RECOVER

dalo_array_int* dalo_array_int_create_zero(const uint64_t* shape, uint64_t ndim) try {
    return dalo_array_int_create(shape, ndim);
}
DALO_RECOVER
dalo_array_expr* dalo_array_expr_create_zero(const uint64_t* shape, uint64_t ndim) try {
    return dalo_array_expr_create(shape, ndim);
}
DALO_RECOVER
dalo_array_expr* dalo_array_expr_create_constant_int(const uint64_t* shape, uint64_t ndim,
                                                     int64_t value) try {
    return new_array(constant_array(shape_from(shape, ndim), ExprImpl(value)));
}
DALO_RECOVER
dalo_array_expr* dalo_array_expr_create_constant_var(const uint64_t* shape, uint64_t ndim,
                                                     dalo_var v) try {
    return new_array(constant_array(shape_from(shape, ndim), expr_of(0, {var_term(1, v)})));
}
DALO_RECOVER
dalo_array_var* dalo_array_var_create_named(const char* name, const uint64_t* shape,
                                            uint64_t ndim) try {
    return new_array(new_var_array_of(name, shape, ndim));
}
DALO_RECOVER
dalo_array_var* dalo_array_var_create_unnamed(const uint64_t* shape, uint64_t ndim) try {
    return new_array(new_var_array_of(nullptr, shape, ndim));
}
DALO_RECOVER
dalo_array_expr* dalo_array_expr_from_expr(const dalo_array_expr* a) try {
    return new_array(clone_array(*unwrap(a)));
}
DALO_RECOVER
dalo_array_int* dalo_array_int_clone_subview(const dalo_array_int* a, uint64_t offset,
                                             uint64_t k) try {
    return new_array(clone_subview(*unwrap(a), offset, k));
}
DALO_RECOVER
dalo_array_expr* dalo_array_expr_clone_subview(const dalo_array_expr* a, uint64_t offset,
                                               uint64_t k) try {
    return new_array(clone_subview(*unwrap(a), offset, k));
}
DALO_RECOVER
void dalo_array_int_to_ints(const dalo_array_int* a, int32_t* out) try {
    const IntArray& x = *unwrap(a);
    for_elements(x.size(), [&](uint64_t i) { out[i] = x.data[i]; });
}
DALO_RECOVER_VOID
dalo_array_int* dalo_array_int_from_sol(const dalo_sol* s, const dalo_array_var* vars) try {
    return new_array(values_in_sol(*unwrap(s), *unwrap(vars)));
}
DALO_RECOVER
dalo_array_var* dalo_array_var_invert(const dalo_array_var* a) try {
    return new_array(inverted(*unwrap(a)));
}
DALO_RECOVER

}  // extern "C"
