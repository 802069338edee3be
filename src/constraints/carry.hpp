// Transforms that carry constraint records along: every body (and the free-form penalty)
// goes through the same transform into new records with the old metadata.
#pragma once

#include <cstdint>
#include <functional>

#include "core/expr.hpp"

namespace dalo {

using ExprTransform = std::function<ExprImpl(const ExprImpl&)>;

// The word for the transformed value: plain and VarInt words are kept; an ExprExpr gets a
// new record with f(body); a sum gets a new sum of new records (declared when the old one
// was, or always when force_declared is set).
uint32_t carry_records(uint32_t word, const ExprTransform& f, bool force_declared = false);

}  // namespace dalo
