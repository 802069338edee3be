// Variable identifiers: bits 0-29 index, bit 30 integer atom, bit 31 negated binary literal.
#pragma once

#include <cstdint>

namespace dalo {

using Var = uint32_t;
using coeff_t = int32_t;
using energy_t = int64_t;

inline constexpr Var kNoVar = 0xFFFFFFFFu;      // empty slot; never a variable
inline constexpr Var kIntBit = 0x40000000u;     // integer atom
inline constexpr Var kNegBit = 0x80000000u;     // negated binary literal
inline constexpr Var kIndexMask = 0x3FFFFFFFu;  // index bits
inline constexpr uint64_t kIndexSpace = 1ull << 30;

inline constexpr bool is_int_atom(Var v) { return (v & (kIntBit | kNegBit)) == kIntBit; }

}  // namespace dalo
