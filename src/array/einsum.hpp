// Einstein summation over arrays of mixed kinds.
#pragma once

#include <cstdint>
#include <variant>

#include "array/array.hpp"

namespace dalo {

// One input: a pointer to the array of the kind its tag names.
enum class EinsumKind : uint32_t { Vars = 0, Ints = 1, Terms = 2, Exprs = 3 };

struct EinsumInput {
    EinsumKind kind;
    const void* array;  // VarArray, IntArray, TermArray or ExprArray by kind
};

// Checks the subscript against the inputs (fatal on any mismatch) and contracts them.
// Tags and handles are validated by the caller. An integer result is returned when
// expr_output is false, else an expression result.
std::variant<IntArray, ExprArray> einsum(const char* subscript, uint64_t n,
                                         const EinsumInput* inputs, bool expr_output,
                                         uint64_t out_dim);

}  // namespace dalo
