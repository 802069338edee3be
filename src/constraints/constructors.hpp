// Constructors and accessors of constraint-carrying values: classic ExprExpr penalties,
// the classic range penalty, and declared constraints.
#pragma once

#include <cstdint>
#include <vector>

#include "constraints/registry.hpp"
#include "core/expr.hpp"

namespace dalo {

// ---- classic ExprExpr values ----

// A copy of the penalty linked to a new record holding a copy of the body.
ExprImpl exprexpr_create(const ExprImpl& penalty, const ExprImpl& body);
void exprexpr_set_bounds(const ExprImpl& e, int64_t lo, int64_t hi);
bool exprexpr_get_bounds(const ExprImpl& e, int64_t* lo, int64_t* hi);
void exprexpr_set_allowed(const ExprImpl& e, std::vector<Interval> intervals);
// The registry-owned body of an ExprExpr, or of a sum with exactly one item and no penalty.
const ExprImpl& exprexpr_body(const ExprImpl& e);

// Classic range penalty of f over [lo, hi] (plain; zero when hi < lo).
ExprImpl between(const ExprImpl& f, int64_t lo, int64_t hi);
// The slack coefficients between(f, lo, hi) uses (none up to hi - lo = 1); fatal when one
// overflows the coefficient type. Nothing is created, so callers can check before they build.
std::vector<coeff_t> between_slack_coeffs(int64_t lo, int64_t hi);

// ---- declared constraints (zero polynomial, a declared sum) ----

ExprImpl cons_between(const ExprImpl& body, int64_t lo, int64_t hi);
ExprImpl cons_equal(const ExprImpl& body, std::vector<Interval> intervals);
ExprImpl cons_mark(const ExprImpl& e);
// A shape constraint named `name` ("abs", "relu") on body over [lo, 0] with exponent k;
// fatal for a body carrying declared constraints or k outside 1 .. 2.
ExprImpl penalty_shape(const ExprImpl& body, int64_t k, const char* name, int64_t lo);
ExprImpl abs_term(const ExprImpl& body, int64_t k);

}  // namespace dalo
