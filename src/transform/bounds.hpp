// Reachable bounds of an expression over binary variables and bounded integer atoms, and the
// relu shape constraint that starts at the lowest of them.
#pragma once

#include <utility>

#include "core/expr.hpp"

namespace dalo {

// {lowest, highest} value the binary-simplified expression can take.
std::pair<int64_t, int64_t> reachable_bounds(const ExprImpl& e);

// A declared relu shape on body over [min(lowest reachable value, 0), 0] with exponent k.
ExprImpl relu_term(const ExprImpl& body, int64_t k);

}  // namespace dalo
