// The attribute word of arithmetic results. Every Expr operation asks here first, before it
// changes the polynomial, which word its result carries; the constraint registries decide
// for operands that carry constraint records, and may refuse the operation.
#pragma once

#include <cstdint>

#include "core/expr.hpp"

namespace dalo {

// 0x80000000 - 0xFFFFFFFE: an ExprExpr or a constraint sum.
inline constexpr bool attr_carries(uint32_t w) { return w >= 0x80000000u && w != kAttrPlain; }

enum class AttrOp : uint8_t {
    AddSubConst,    // iadd_int, isub_int, clone_sub_int
    CloneAddConst,  // clone_add_int (the constant decides)
    SubOrMoved,     // subtract a variable or term, clone_add_var, add a moved term, bulk append
    MulVar,         // '*= var'
    MulTerm,        // '*= term'
    MulExprLeft,    // '*= expr', left operand
    MulExprRight,   // '*= expr', right operand
    MulExpr,        // '* expr', either operand
    Sqr,
    Div,  // '/='
};

// Word of the result of `op` on e (constant: the added constant of CloneAddConst).
uint32_t attr_other(const ExprImpl& e, AttrOp op, int64_t constant = 0);

// In-place addition of a variable or term to e.
uint32_t attr_add_term(const ExprImpl& e, const TermImpl& t);

// a + b and a - b; in_place when the result replaces a.
uint32_t attr_add_expr(ExprImpl& a, const ExprImpl& b, bool in_place);
uint32_t attr_sub_expr(ExprImpl& a, const ExprImpl& b, bool in_place);

// m * e (negation is m = -1).
uint32_t attr_scale(const ExprImpl& e, int64_t m);

}  // namespace dalo
