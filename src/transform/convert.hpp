// Conversion between binary (0/1) and spin (-1/+1) meaning of the same identifiers,
// s = 2x - 1.
#pragma once

#include <string_view>

#include "core/expr.hpp"

namespace dalo {

// The checks every rewriting of variable meaning runs first: declared constraints are
// refused under the operation's name `what`, then an integer atom is fatal with `int_msg`.
void check_rewritable(const ExprImpl& e, std::string_view what, std::string_view int_msg);

// 2^D times e in spin form (D = the largest degree of e), spin-simplified; plain.
ExprImpl expr_binary_to_spin(const ExprImpl& e);
// The same value in binary form, binary-simplified; plain.
ExprImpl expr_spin_to_binary(const ExprImpl& e);

}  // namespace dalo
