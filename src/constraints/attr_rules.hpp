// The attribute word of arithmetic results. Every Expr operation asks here first, before it
// changes the polynomial, which word its result carries; the constraint registries decide
// for operands that carry constraint records, and may refuse the operation.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "core/expr.hpp"

namespace dalo {

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

// "dalo::cons: '<what>' is not allowed on an expression with declared constraints".
[[noreturn]] void refuse_declared_op(std::string_view what);
void refuse_if_declared(const ExprImpl& e, std::string_view what);

// The (ExprExpr index, weight) items a word contributes with multiplier m: none for plain
// and VarInt words, (e, m) for an ExprExpr, each item scaled for a sum.
std::vector<std::pair<uint32_t, int64_t>> collect_items(uint32_t w, int64_t m);

// A declared sum without free-form penalty whose items (at least one) are all
// objective-only penalty shapes.
bool all_objective_only(uint32_t w);

// A second value now holds the word: its sum record must not be appended to in place.
void mark_word_shared(uint32_t w);

}  // namespace dalo
