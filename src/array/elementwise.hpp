// Element-wise operations over arrays. One element rule (`ew_element`, `ew_element_into`) and
// one loop serve every member: the members differ only in the operand kinds, the operator and
// where the right operand comes from (a scalar, or the same flat index of a second array).
//
// Attribute words travel by copying, never by the combine rule: a sum or difference starts as
// a copy of its Expr operand (the left one when the left is an Expr), products with an
// integer follow the scale rule, every other product is plain, and nothing is refused.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

#include "array/array.hpp"
#include "constraints/arith.hpp"

namespace dalo {

enum class EwOp : uint8_t { Add, Sub, Mul, Div };

// Operand categories: a 64-bit scalar integer and an Array<int> element are both integers.
enum class EwCat : uint8_t { Int, Variable, Term, Expr };

template <class T>
inline constexpr EwCat ew_cat = std::is_base_of_v<TermImpl, T> ? EwCat::Term : EwCat::Expr;
template <>
inline constexpr EwCat ew_cat<int64_t> = EwCat::Int;
template <>
inline constexpr EwCat ew_cat<coeff_t> = EwCat::Int;
template <>
inline constexpr EwCat ew_cat<Var> = EwCat::Variable;

// "+", "-", "*"; with "=" appended for the in-place members.
const char* ew_symbol(EwOp op, bool in_place);
// Fatal unless the shapes agree axis for axis ("Array <op>: shape mismatch (2,3) vs (3,2)").
void ew_check_shapes(const char* symbol, const std::vector<uint64_t>& a,
                     const std::vector<uint64_t>& b);

// ---- the polynomial of an operand, without its attribute word ----

// e += x (or -= x); the word of e stays.
void ew_add_expr(ExprImpl& e, const ExprImpl& x, bool negate);

template <class R>
void ew_add(ExprImpl& e, const R& r, bool negate) {
    if constexpr (ew_cat<R> == EwCat::Int) {
        e.constant = negate ? wrap_sub(e.constant, r) : wrap_add(e.constant, r);
    } else if constexpr (ew_cat<R> == EwCat::Variable) {
        e.append_owned(var_term(negate ? -1 : 1, r));
    } else if constexpr (ew_cat<R> == EwCat::Term) {
        e.append_owned(negate ? negated(copy_term(r)) : copy_term(r));
    } else {
        ew_add_expr(e, r, negate);
    }
}

// The operand as an expression (an Expr operand by reference).
template <class T>
decltype(auto) ew_as_expr(const T& x) {
    if constexpr (ew_cat<T> == EwCat::Expr) {
        return static_cast<const ExprImpl&>(x);
    } else {
        ExprImpl e;
        ew_add(e, x, false);
        return e;
    }
}

// The operand as a term (a Term operand by reference; the others own no tail).
template <class T>
decltype(auto) ew_as_term(const T& x) {
    if constexpr (ew_cat<T> == EwCat::Int) {
        return TermImpl{wrap_coeff(x), {}};
    } else if constexpr (ew_cat<T> == EwCat::Variable) {
        return var_term(1, x);
    } else {
        return static_cast<const TermImpl&>(x);
    }
}

// Products and squares of expressions, plain, refusing nothing.
ExprImpl ew_product(const ExprImpl& a, const ExprImpl& b);
ExprImpl ew_square(const ExprImpl& a);

// Division by k in place. k = 0 zeroes an integer and is fatal for terms and expressions
// (checked once per array by ew_check_divisor); k = -1 negates. ew_check_division refuses an
// element that k does not divide, before any element is divided.
void ew_check_divisor(EwCat kind, int64_t k);
void ew_check_division(const TermElem& t, int64_t k);
void ew_check_division(const ExprImpl& e, int64_t k);
void ew_divide(coeff_t& c, int64_t k);
void ew_divide(TermElem& t, int64_t k);
void ew_divide(ExprImpl& e, int64_t k);

// ---- the element rule ----

template <EwOp op, class L, class R>
auto ew_element(const L& l, const R& r) {
    constexpr EwCat a = ew_cat<L>, b = ew_cat<R>;
    static_assert(op != EwOp::Div);
    if constexpr (a == EwCat::Int && b == EwCat::Int) {
        const int64_t x = l, y = r;
        if constexpr (op == EwOp::Add) return wrap_coeff(wrap_add(x, y));
        if constexpr (op == EwOp::Sub) return wrap_coeff(wrap_sub(x, y));
        if constexpr (op == EwOp::Mul) return mul_coeff(x, y);
    } else if constexpr (op == EwOp::Mul && a != EwCat::Expr && b != EwCat::Expr) {
        TermElem t(ew_as_term(l));
        term_imul_term(t, ew_as_term(r));
        return t;
    } else if constexpr (op == EwOp::Mul && b == EwCat::Int) {
        return expr_clone_mul_int(l, r);
    } else if constexpr (op == EwOp::Mul && a == EwCat::Int) {
        return expr_clone_mul_int(r, l);
    } else if constexpr (op == EwOp::Mul) {
        return ew_product(ew_as_expr(l), ew_as_expr(r));
    } else if constexpr (a == EwCat::Expr) {
        ExprImpl e(l);
        ew_add(e, r, op == EwOp::Sub);
        return e;
    } else if constexpr (b == EwCat::Expr && op == EwOp::Add) {
        ExprImpl e(r);
        ew_add(e, l, false);
        return e;
    } else {
        ExprImpl e = ew_as_expr(l);
        ew_add(e, r, op == EwOp::Sub);
        return e;
    }
}

template <EwOp op, class L, class R>
void ew_element_into(L& l, const R& r) {
    constexpr bool expr_left = ew_cat<L> == EwCat::Expr;
    if constexpr (op == EwOp::Div) {
        ew_divide(l, r);
    } else if constexpr (expr_left && op != EwOp::Mul) {
        ew_add(l, r, op == EwOp::Sub);
    } else if constexpr (expr_left && ew_cat<R> == EwCat::Int) {
        expr_imul_int(l, r);
    } else {
        l = ew_element<op>(l, r);
    }
}

// ---- the loops ----

// Right operands: one value for every index, or the elements of a second array.
template <class T>
struct EwScalar {
    static constexpr bool scalar = true;
    const T& value;
    const T& operator[](uint64_t) const { return value; }
};
template <class T>
struct EwElements {
    static constexpr bool scalar = false;
    const std::vector<T>& data;
    const T& operator[](uint64_t i) const { return data[i]; }
};

// A new array of the shape whose element i is f(i): parallel above the serial limit, or in
// element order on the calling thread when parallel is false.
template <class T, class F>
ArrayImpl<T> ew_generate(const std::vector<uint64_t>& shape, F&& f, bool parallel = true) {
    ArrayImpl<T> r(shape);
    if (parallel) {
        for_elements(r.size(), [&](uint64_t i) { r.data[i] = f(i); });
    } else {
        for (uint64_t i = 0; i < r.size(); ++i) r.data[i] = f(i);
    }
    return r;
}

// Every refusal of the element rule, over the whole array before any element is written, so
// a refused call leaves its operands and the registries as they were: divisions, and the
// scale rule's refusal of 0 on declared constraints (attr_scale with 0 creates nothing).
template <EwOp op, class L, class Right>
void ew_check_elements(const ArrayImpl<L>& a, const Right& right) {
    using R = std::decay_t<decltype(right[0])>;
    constexpr EwCat left = ew_cat<L>, rhs = ew_cat<R>;
    if constexpr (op == EwOp::Div) {
        const int64_t k = right[0];
        ew_check_divisor(left, k);
        if constexpr (left != EwCat::Int) {
            if (k != -1)
                for_elements(a.size(), [&](uint64_t i) { ew_check_division(a.data[i], k); });
        }
    } else if constexpr (op == EwOp::Mul && left == EwCat::Expr && rhs == EwCat::Int) {
        if (Right::scalar && right[0] != 0) return;
        for_elements(a.size(), [&](uint64_t i) {
            if (right[i] == 0) attr_scale(a.data[i], 0);
        });
    } else if constexpr (op == EwOp::Mul && left == EwCat::Int && rhs == EwCat::Expr) {
        if constexpr (Right::scalar) {
            for (const L& k : a.data) {
                if (k == 0) return void(attr_scale(right[0], 0));
            }
        } else {
            for_elements(a.size(), [&](uint64_t i) {
                if (a.data[i] == 0) attr_scale(right[i], 0);
            });
        }
    }
}

template <EwOp op, class L, class Right>
void ew_apply(ArrayImpl<L>& a, const Right& right) {
    for_elements(a.size(), [&](uint64_t i) { ew_element_into<op>(a.data[i], right[i]); });
}

template <EwOp op, class L, class Right>
void ew_into(ArrayImpl<L>& a, const Right& right) {
    ew_check_elements<op>(a, right);
    ew_apply<op>(a, right);
}

template <EwOp op, class L, class Right>
auto ew_new(const ArrayImpl<L>& a, const Right& right) {
    ew_check_elements<op>(a, right);
    if constexpr (op == EwOp::Div) {  // a copy, then the in-place rule
        ArrayImpl<L> r = clone_array(a);
        ew_apply<op>(r, right);
        return r;
    } else {
        using Res = decltype(ew_element<op>(a.data[0], right[0]));
        return ew_generate<Res>(a.shape,
                                [&](uint64_t i) { return ew_element<op>(a.data[i], right[i]); });
    }
}

template <EwOp op, class L, class R>
auto ew_scalar(const ArrayImpl<L>& a, const R& k) {
    return ew_new<op>(a, EwScalar<R>{k});
}
template <EwOp op, class L, class R>
auto ew_array(const ArrayImpl<L>& a, const ArrayImpl<R>& b) {
    ew_check_shapes(ew_symbol(op, false), a.shape, b.shape);
    return ew_new<op>(a, EwElements<R>{b.data});
}
template <EwOp op, class L, class R>
void ew_scalar_into(ArrayImpl<L>& a, const R& k) {
    ew_into<op>(a, EwScalar<R>{k});
}
template <EwOp op, class L, class R>
void ew_array_into(ArrayImpl<L>& a, const ArrayImpl<R>& b) {
    ew_check_shapes(ew_symbol(op, true), a.shape, b.shape);
    ew_into<op>(a, EwElements<R>{b.data});
}

// -element as an Array<Expr>; an Expr element follows the scale rule with m = -1.
template <class T>
ExprArray ew_negate(const ArrayImpl<T>& a) {
    return ew_generate<ExprImpl>(a.shape, [&](uint64_t i) {
        if constexpr (ew_cat<T> == EwCat::Expr) {
            ExprImpl e(a.data[i], a.data[i].attr);
            expr_negate(e);
            return e;
        } else {
            ExprImpl e;
            ew_add(e, a.data[i], true);
            return e;
        }
    });
}

// Each element through f; in element order on the calling thread unless parallel is set.
template <class F>
ExprArray ew_map(const ExprArray& a, F&& f, bool parallel = true) {
    return ew_generate<ExprImpl>(
        a.shape, [&](uint64_t i) { return f(a.data[i]); }, parallel);
}

// ---- sums ----

// The sum of all elements in element order. Array<Expr> sums get the array sum attribute
// word; the other kinds are plain.
template <class T>
ExprImpl ew_sum(const ArrayImpl<T>& a);
// The plain sum of n expressions.
ExprImpl ew_sum_of(const ExprImpl* const* items, uint64_t n);

// Sums along one axis: the shape loses the axis.
template <class T>
ExprArray ew_vector_sum(const ArrayImpl<T>& a, uint64_t axis);
// The same over a caller buffer of expression pointers (kind 0), identifiers (1) or term
// records (2); any other kind gives zeros.
ExprArray ew_vector_sum_buffer(const void* data, uint32_t kind, std::vector<uint64_t> shape,
                               uint64_t axis);

// Position of the single 1 along the axis (negative counts from the end), -1 where the
// values are not one-hot; null for an axis outside the array.
IntArray* ew_onehot_to_int(const IntArray& a, int64_t axis);

// ---- classic constraints ----

// One side of the recorded bounds: a scalar, the element of an Array<int>, or the reachable
// bound of the element itself.
struct EwBound {
    int64_t value = 0;
    const IntArray* array = nullptr;
    bool reachable = false;
};
inline EwBound ew_bound(int64_t v) { return EwBound{v, nullptr, false}; }
inline EwBound ew_bound(const IntArray& a) { return EwBound{0, &a, false}; }
inline constexpr EwBound kEwReachable{0, nullptr, true};

// Element e becomes the ExprExpr between(e, lo, hi) with body e and bounds [lo, hi]. Bound
// arrays must have the left shape; eq passes one array for both sides.
template <class T>
ExprArray ew_compare(const ArrayImpl<T>& a, EwBound lo, EwBound hi, bool parallel);

}  // namespace dalo
