// Coefficients arrive as 32-bit integers and energies are 64-bit sums that wrap, like the
// library's Sol: every incremental change is an exact rearrangement of the same ring sum, so
// a running energy equals the one computed from scratch.
#pragma once

#include <cstdint>

namespace plugin_common {

inline uint64_t u(int64_t v) { return static_cast<uint64_t>(v); }
inline int64_t s(uint64_t v) { return static_cast<int64_t>(v); }
inline int64_t wrap_add(int64_t a, int64_t b) { return s(u(a) + u(b)); }
inline int64_t wrap_sub(int64_t a, int64_t b) { return s(u(a) - u(b)); }
inline int64_t wrap_mul(int64_t a, int64_t b) { return s(u(a) * u(b)); }

}  // namespace plugin_common
