// Reduction of higher-order terms to quadratic form with auxiliary binary variables.
#pragma once

#include "core/expr.hpp"

namespace dalo {

// Quadratic form of e whose minimum over the new auxiliary variables equals e; refuses
// declared constraints and integer atoms first. Plain.
ExprImpl expr_reduce(const ExprImpl& e);

// The same without the checks, for callers that have run them (or need none).
ExprImpl expr_reduce_unchecked(const ExprImpl& e);

}  // namespace dalo
