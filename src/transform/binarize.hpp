// Binarization: every integer atom replaced by its encoding over binary variables.
#pragma once

#include <cstdint>

#include "core/expr.hpp"
#include "core/var_registry.hpp"

namespace dalo {

// The bits and coefficients of an integer variable (value = lo + sum of coefficient * bit),
// created on first use under the integer registry lock and cached until the registries are
// reset. Fatal for an unknown index or a coefficient beyond coeff_t.
IntEncoding int_var_encoding(uint32_t index);

// e with every integer atom replaced by its encoding; not simplified, attr plain. Fatal when
// e carries constraint records.
ExprImpl expr_binarize(const ExprImpl& e);

}  // namespace dalo
