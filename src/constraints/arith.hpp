// Expression arithmetic as the library's callers use it: each operation first asks the
// attribute rules which word its result carries (they may refuse the operation), then
// changes the polynomial with core's arithmetic.
#pragma once

#include <cstdint>

#include "constraints/attr_rules.hpp"
#include "core/expr_ops.hpp"

namespace dalo {

// ---- in-place arithmetic (the attribute word is decided first) ----

void expr_iadd_int(ExprImpl& e, int64_t c);
void expr_isub_int(ExprImpl& e, int64_t c);
// Adds a variable or term (owned): joins a classic penalty in place.
void expr_iadd_term(ExprImpl& e, TermImpl owned);
// Adds coeff * vars[0] * ... * vars[n - 1]; terms of degree at most 2 onto a value without
// records, the commonest append, take a short path inline.
void expr_iadd_raw_general(ExprImpl& e, int64_t coeff, const Var* vars, uint64_t n);
inline void expr_iadd_raw(ExprImpl& e, int64_t coeff, const Var* vars, uint64_t n) {
    if (n <= 2 && !attr_carries(e.attr)) {  // the result is plain, and no tail is made
        e.attr = kAttrPlain;
        e.append_small(wrap_coeff(coeff), n > 0 ? vars[0] : kNoVar, n > 1 ? vars[1] : kNoVar);
    } else {
        expr_iadd_raw_general(e, coeff, vars, n);
    }
}
// Adds a term handed over as parts.
void expr_iadd_moved(ExprImpl& e, TermImpl owned);
// Subtracts a variable or term (owned; its coefficient is negated here).
void expr_isub_term(ExprImpl& e, TermImpl owned);
void expr_iadd_expr(ExprImpl& a, const ExprImpl& b);
void expr_isub_expr(ExprImpl& a, const ExprImpl& b);
void expr_iadd_bulk(ExprImpl& e, int64_t constant, uint64_t n, const coeff_t* coeffs,
                    const uint32_t* degrees, const Var* vars);
void expr_imul_int(ExprImpl& e, int64_t k);
void expr_negate(ExprImpl& e);
void expr_idiv_int(ExprImpl& e, int64_t k);
// e * t (t is copied); op is MulVar or MulTerm.
void expr_imul_term(ExprImpl& e, const TermImpl& t, AttrOp op);
void expr_imul_expr(ExprImpl& a, const ExprImpl& b);

// ---- operations returning a new expression ----

ExprImpl expr_clone_add_int(const ExprImpl& e, int64_t c);
ExprImpl expr_clone_sub_int(const ExprImpl& e, int64_t c);
ExprImpl expr_clone_add_var(const ExprImpl& e, Var v);
ExprImpl expr_clone_add_term(const ExprImpl& e, const TermImpl& t);
ExprImpl expr_clone_sub_term(const ExprImpl& e, TermImpl owned);
ExprImpl expr_clone_add_expr(const ExprImpl& a, const ExprImpl& b);
ExprImpl expr_clone_sub_expr(const ExprImpl& a, const ExprImpl& b);
ExprImpl expr_clone_mul_int(const ExprImpl& e, int64_t k);
ExprImpl expr_mul_expr(const ExprImpl& a, const ExprImpl& b);
ExprImpl expr_sqr(const ExprImpl& a);

}  // namespace dalo
