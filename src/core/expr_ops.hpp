// Polynomial arithmetic on expressions. Nothing here sorts or merges terms (simplification
// does that) or decides attribute words (the constraints layer does that).
#pragma once

#include <cstdint>
#include <initializer_list>

#include "core/expr.hpp"

namespace dalo {

// ---- building blocks ----

inline TermImpl var_term(int64_t coeff, Var v) {
    return TermImpl{wrap_coeff(coeff), {v, kNoVar, nullptr}};
}
inline TermImpl raw_term(int64_t coeff, const Var* vars, uint64_t n) {
    return TermImpl{wrap_coeff(coeff), make_vars(vars, n)};
}
// A term handed over as parts; the tail becomes the term's.
TermImpl moved_term(int64_t coeff, uint64_t packed, Var* tail);
// A term given as parts whose tail stays the caller's.
TermImpl copied_term(int64_t coeff, uint64_t packed, const Var* tail);
inline TermImpl negated(TermImpl t) {
    t.coeff = neg_coeff(t.coeff);
    return t;
}

// constant + the owned terms, appended in order.
ExprImpl expr_of(int64_t constant, std::initializer_list<TermImpl> owned_terms);

// ---- polynomial arithmetic (the attribute word stays as it is) ----

inline void poly_iadd_int(ExprImpl& e, int64_t c) { e.constant = wrap_add(e.constant, c); }
inline void poly_isub_int(ExprImpl& e, int64_t c) { e.constant = wrap_sub(e.constant, c); }
// Appends a term (owned); the subtraction negates its coefficient.
inline void poly_iadd_term(ExprImpl& e, TermImpl owned) { e.append_owned(owned); }
inline void poly_isub_term(ExprImpl& e, TermImpl owned) { e.append_owned(negated(owned)); }
// a += b and a -= b; b may be a itself.
void poly_iadd_expr(ExprImpl& a, const ExprImpl& b);
void poly_isub_expr(ExprImpl& a, const ExprImpl& b);
void poly_iadd_bulk(ExprImpl& e, int64_t constant, uint64_t n, const coeff_t* coeffs,
                    const uint32_t* degrees, const Var* vars);
void poly_imul_int(ExprImpl& e, int64_t k);
void poly_negate(ExprImpl& e);
// Fatal on k = 0 or a constant or coefficient that k does not divide.
void poly_idiv_int(ExprImpl& e, int64_t k);
// e * t (t is copied).
void poly_imul_term(ExprImpl& e, const TermImpl& t);
// a * b and a^2 with a plain word.
ExprImpl poly_mul(const ExprImpl& a, const ExprImpl& b);
ExprImpl poly_sqr(const ExprImpl& a);

// ---- queries ----

uint64_t expr_count_degree(const ExprImpl& e, uint64_t d);
uint32_t expr_max_degree(const ExprImpl& e);
bool expr_has(const ExprImpl& e, Var v);
bool expr_has_int_atom(const ExprImpl& e);
int64_t expr_gcd(const ExprImpl& e);

// Binary coefficients of a range [lo, hi]: powers of two, then one remainder; they sum
// to hi - lo. Writes them when out is non-null; returns how many there are. The overflow
// message ends with `advice` (VarInt construction names the remedy).
uint64_t range_coeffs(int64_t lo, int64_t hi, coeff_t* out, const char* advice = "");

// ---- terms ----

// coeff * a * b; coeff * b when a is kNoVar.
TermImpl var_var_term(int64_t coeff, Var a, Var b);
// a = a * b: coefficient product, variables of a then those of b.
void term_imul_term(TermImpl& a, const TermImpl& b);
// Term division: fatal on k = 0 or a coefficient that k does not divide.
void term_div_coeff(TermImpl& t, int64_t k);

// Range-checked access: fatal on an index at or beyond the degree / term count.
Var term_var_checked(const TermImpl& t, uint64_t i);
const TermImpl& expr_term_checked(const ExprImpl& e, uint64_t i);

}  // namespace dalo
