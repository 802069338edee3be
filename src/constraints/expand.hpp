// Classic penalty form of declared constraints: one polynomial whose minimum is reached
// exactly where they hold, for consumers that cannot treat constraints natively.
#pragma once

#include "core/expr.hpp"

namespace dalo {

// The classic penalty form of e: a declared sum gains the penalty of every item (in item
// order, so slack names follow it) and its free-form penalty; every other kind is copied,
// plain except for a VarInt, which keeps its word.
ExprImpl expand_cons(const ExprImpl& e);

}  // namespace dalo
