// Energies live in 64-bit wrapping arithmetic, like the library's Sol: every incremental
// change is an exact rearrangement of the same ring sum, so a running energy equals the one
// computed from scratch.
#pragma once

#include <cstdint>
#include <vector>

namespace brisk {

inline uint64_t u(int64_t v) { return static_cast<uint64_t>(v); }
inline int64_t s(uint64_t v) { return static_cast<int64_t>(v); }
inline int64_t radd(int64_t a, int64_t b) { return s(u(a) + u(b)); }
inline int64_t rsub(int64_t a, int64_t b) { return s(u(a) - u(b)); }
inline int64_t rmul(int64_t a, int64_t b) { return s(u(a) * u(b)); }

// Word bits of the plug-in interface.
constexpr uint32_t kNegBit = 0x80000000u;
constexpr uint32_t kAtomBit = 0x40000000u;
constexpr uint32_t kIndexMask = 0x3FFFFFFFu;

// Penalty of one native constraint as a function of its body value: weight * viol^k, viol the
// distance to [lower, upper] or to the nearest allowed interval (compared as signed values,
// differences taken in the ring).
struct Penalty {
    int64_t weight = 0;
    int64_t lower = 0;
    int64_t upper = 0;
    uint32_t exponent = 2;
    std::vector<int64_t> set_lo, set_hi;

    int64_t violation(int64_t v) const {
        if (set_lo.empty()) {
            const int64_t below = v < lower ? rsub(lower, v) : 0;
            const int64_t above = v > upper ? rsub(v, upper) : 0;
            return radd(below, above);
        }
        int64_t best = 0;
        for (size_t i = 0; i < set_lo.size(); ++i) {
            if (v >= set_lo[i] && v <= set_hi[i]) return 0;
            const int64_t d = v < set_lo[i] ? rsub(set_lo[i], v) : rsub(v, set_hi[i]);
            if (i == 0 || d < best) best = d;
        }
        return best;
    }
    int64_t operator()(int64_t v) const {
        const int64_t d = violation(v);
        return exponent == 1 ? rmul(weight, d) : rmul(rmul(weight, d), d);
    }
};

}  // namespace brisk
