// Reachable bounds of an expression over binary variables and bounded integer atoms.
#pragma once

#include <utility>

#include "core/expr.hpp"

namespace dalo {

// {lowest, highest} value the binary-simplified expression can take.
std::pair<int64_t, int64_t> reachable_bounds(const ExprImpl& e);

}  // namespace dalo
