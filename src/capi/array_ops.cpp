// Element-wise operations over arrays: every row of array/elementwise.def becomes one exported
// member here, through one macro per row shape. The maths lives in array/elementwise.hpp.
#include <type_traits>
#include <utility>
#include <vector>

#include "array/elementwise.hpp"
#include "capi/array_handles.hpp"
#include "transform/reduce.hpp"
#include "transform/simplify.hpp"
#include "transform/substitute.hpp"

using namespace dalo;

namespace {

// The kind tokens of the exported names: element type, scalar argument and its value.
using Elem_var = Var;
using Elem_int = coeff_t;
using Elem_term = TermElem;
using Elem_expr = ExprImpl;
using Arg_var = dalo_var;
using Arg_int = int64_t;
using Arg_term = const dalo_term*;
using Arg_expr = const dalo_expr*;
using Value_var = Var;
using Value_int = int64_t;
using Value_term = TermImpl;
using Value_expr = ExprImpl;

constexpr EwOp kOp_add = EwOp::Add;
constexpr EwOp kOp_sub = EwOp::Sub;
constexpr EwOp kOp_mul = EwOp::Mul;
constexpr EwOp kOp_div = EwOp::Div;

Var value_of(dalo_var v) { return v; }
int64_t value_of(int64_t k) { return k; }
const TermImpl& value_of(const dalo_term* t) { return *unwrap(t); }
const ExprImpl& value_of(const dalo_expr* e) { return *unwrap(e); }

// The handle type that wraps an array of kind A.
template <class A>
using HandleOf = std::remove_pointer_t<decltype(wrap(std::declval<A*>()))>;

// The handle kind of a member's result, as the element rule decides it.
template <EwOp op, class L, class R>
using ScalarResult = HandleOf<decltype(ew_scalar<op>(std::declval<const ArrayImpl<L>&>(),
                                                     std::declval<const R&>()))>;
template <EwOp op, class L, class R>
using ArrayResult = HandleOf<decltype(ew_array<op>(std::declval<const ArrayImpl<L>&>(),
                                                   std::declval<const ArrayImpl<R>&>()))>;

template <class A>
auto* new_array(A&& a) {
    return wrap(new std::decay_t<A>(std::forward<A>(a)));
}

std::vector<const ExprImpl*> pointers(const dalo_expr* const* items, uint64_t n) {
    std::vector<const ExprImpl*> out(n);
    for (uint64_t i = 0; i < n; ++i) out[i] = unwrap(items[i]);
    return out;
}

// Transforms of single elements. Reduction creates auxiliary variables, so it runs in element
// order: their names and identifiers then do not depend on the thread count.
struct ExprMap {
    ExprImpl (*f)(const ExprImpl&);
    bool parallel;
};
constexpr ExprMap kMap_sqr{ew_square, true};
constexpr ExprMap kMap_simplify{expr_simplify, true};
constexpr ExprMap kMap_simplify_as_binary{expr_simplify_as_binary, true};
constexpr ExprMap kMap_simplify_as_spin{expr_simplify_as_spin, true};
constexpr ExprMap kMap_reduce{expr_reduce_unchecked, false};

// Comparisons create slack variables in ge, le and between; those run in element order too.
template <class H>
dalo_array_expr* compared(const H* a, EwBound lo, EwBound hi, bool parallel) {
    return new_array(ew_compare(*unwrap(a), lo, hi, parallel));
}

}  // namespace

#define DALO_EW_SCALAR(L, OP, R)                                              \
    ScalarResult<kOp_##OP, Elem_##L, Value_##R>* dalo_array_##L##_##OP##_##R( \
        const dalo_array_##L* a, Arg_##R b) try {                             \
        return new_array(ew_scalar<kOp_##OP>(*unwrap(a), value_of(b)));       \
    }                                                                         \
    DALO_RECOVER
#define DALO_EW_ARRAY(L, OP, R)                                                   \
    ArrayResult<kOp_##OP, Elem_##L, Elem_##R>* dalo_array_##L##_##OP##_array_##R( \
        const dalo_array_##L* a, const dalo_array_##R* b) try {                   \
        return new_array(ew_array<kOp_##OP>(*unwrap(a), *unwrap(b)));             \
    }                                                                             \
    DALO_RECOVER
#define DALO_EW_SCALAR_EQ(L, OP, R)                                         \
    void dalo_array_##L##_##OP##_eq_##R(dalo_array_##L* a, Arg_##R b) try { \
        ew_scalar_into<kOp_##OP>(*unwrap(a), value_of(b));                  \
    }                                                                       \
    DALO_RECOVER_VOID
#define DALO_EW_ARRAY_EQ(L, OP, R)                                                              \
    void dalo_array_##L##_##OP##_eq_array_##R(dalo_array_##L* a, const dalo_array_##R* b) try { \
        ew_array_into<kOp_##OP>(*unwrap(a), *unwrap(b));                                        \
    }                                                                                           \
    DALO_RECOVER_VOID
#define DALO_EW_NEGATE(L)                                                   \
    dalo_array_expr* dalo_array_##L##_negate(const dalo_array_##L* a) try { \
        return new_array(ew_negate(*unwrap(a)));                            \
    }                                                                       \
    DALO_RECOVER
#define DALO_EW_MAP(NAME)                                                          \
    dalo_array_expr* dalo_array_expr_##NAME(const dalo_array_expr* a) try {        \
        return new_array(ew_map(*unwrap(a), kMap_##NAME.f, kMap_##NAME.parallel)); \
    }                                                                              \
    DALO_RECOVER
#define DALO_EW_SUM(L)                                             \
    dalo_expr* dalo_array_##L##_sum(const dalo_array_##L* a) try { \
        return wrap_new(ew_sum(*unwrap(a)));                       \
    }                                                              \
    DALO_RECOVER
#define DALO_EW_VECTOR_SUM(L)                                                                  \
    dalo_array_expr* dalo_array_##L##_vector_sum(const dalo_array_##L* a, uint32_t axis) try { \
        return new_array(ew_vector_sum(*unwrap(a), axis));                                     \
    }                                                                                          \
    DALO_RECOVER

// Comparisons, one macro per argument form.
#define DALO_EW_COMPARE(L, FORM) DALO_EW_COMPARE_##FORM(L)
#define DALO_EW_COMPARE_eq_int(L)                                                      \
    dalo_array_expr* dalo_array_##L##_eq_int(const dalo_array_##L* a, int64_t k) try { \
        return compared(a, ew_bound(k), ew_bound(k), true);                            \
    }                                                                                  \
    DALO_RECOVER
#define DALO_EW_COMPARE_eq_array_int(L)                                           \
    dalo_array_expr* dalo_array_##L##_eq_array_int(const dalo_array_##L* a,       \
                                                   const dalo_array_int* k) try { \
        return compared(a, ew_bound(*unwrap(k)), ew_bound(*unwrap(k)), true);     \
    }                                                                             \
    DALO_RECOVER
#define DALO_EW_COMPARE_ge_int(L)                                                      \
    dalo_array_expr* dalo_array_##L##_ge_int(const dalo_array_##L* a, int64_t k) try { \
        return compared(a, ew_bound(k), kEwReachable, false);                          \
    }                                                                                  \
    DALO_RECOVER
#define DALO_EW_COMPARE_le_int(L)                                                      \
    dalo_array_expr* dalo_array_##L##_le_int(const dalo_array_##L* a, int64_t k) try { \
        return compared(a, kEwReachable, ew_bound(k), false);                          \
    }                                                                                  \
    DALO_RECOVER
#define DALO_EW_COMPARE_between(L)                                                 \
    dalo_array_expr* dalo_array_##L##_between(const dalo_array_##L* a, int64_t lo, \
                                              int64_t hi) try {                    \
        return compared(a, ew_bound(lo), ew_bound(hi), false);                     \
    }                                                                              \
    DALO_RECOVER
#define DALO_EW_COMPARE_ge_array_int(L)                                            \
    dalo_array_expr* dalo_array_##L##_ge_array_int(const dalo_array_##L* a,        \
                                                   const dalo_array_int* lo) try { \
        return compared(a, ew_bound(*unwrap(lo)), kEwReachable, false);            \
    }                                                                              \
    DALO_RECOVER
#define DALO_EW_COMPARE_le_array_int(L)                                            \
    dalo_array_expr* dalo_array_##L##_le_array_int(const dalo_array_##L* a,        \
                                                   const dalo_array_int* hi) try { \
        return compared(a, kEwReachable, ew_bound(*unwrap(hi)), false);            \
    }                                                                              \
    DALO_RECOVER
#define DALO_EW_COMPARE_between_array_int(L)                                               \
    dalo_array_expr* dalo_array_##L##_between_array_int(                                   \
        const dalo_array_##L* a, const dalo_array_int* lo, const dalo_array_int* hi) try { \
        return compared(a, ew_bound(*unwrap(lo)), ew_bound(*unwrap(hi)), false);           \
    }                                                                                      \
    DALO_RECOVER

extern "C" {

#include "array/elementwise.def"

dalo_array_expr* dalo_array_expr_replace(const dalo_array_expr* a, const dalo_var* vars,
                                         const dalo_expr* const* repl, uint64_t n) try {
    const std::vector<const ExprImpl*> r = pointers(repl, n);
    const SubstMap map(vars, r.data(), n);  // built once for every element
    return new_array(
        ew_map(*unwrap(a), [&map](const ExprImpl& e) { return expr_replace_plain(e, map); }));
}
DALO_RECOVER

dalo_array_term* dalo_array_int_coeffvec_mul_var(const dalo_array_int* c, dalo_var x) try {
    return new_array(ew_scalar<EwOp::Mul>(*unwrap(c), value_of(x)));
}
DALO_RECOVER

dalo_expr* dalo_array_sum(const dalo_expr* const* items, uint64_t n) try {
    return wrap_new(ew_sum_of(pointers(items, n).data(), n));
}
DALO_RECOVER

void dalo_array_vector_sum(const void* data, uint32_t kind, const uint64_t* shape, uint64_t ndim,
                           uint32_t axis, dalo_expr** out) try {
    std::vector<uint64_t> s = shape_from(shape, ndim);
    std::vector<const ExprImpl*> items;
    if (kind == 0) {
        items = pointers(static_cast<const dalo_expr* const*>(data), size_of(s));
        data = items.data();
    }
    ExprArray r = ew_vector_sum_buffer(data, kind, std::move(s), axis);
    for_elements(r.size(), [&](uint64_t i) { out[i] = wrap_new(std::move(r.data[i])); });
}
DALO_RECOVER_VOID

dalo_array_int* dalo_array_int_onehot_to_int(const dalo_array_int* a, int64_t axis) try {
    return wrap(ew_onehot_to_int(*unwrap(a), axis));
}
DALO_RECOVER

dalo_expr* dalo_array_exprexpr_get_penalty(const dalo_array_expr* a, uint64_t i) try {
    const ExprArray& x = *unwrap(a);
    check_flat("dalo_array_exprexpr_get_penalty", i, x.size());
    return wrap_new(ExprImpl(x.data[i], kAttrPlain));
}
DALO_RECOVER

}  // extern "C"
