// Energies live in the shared 64-bit wrapping arithmetic.
#pragma once

#include <cstdint>
#include <vector>

#include "common/received.hpp"
#include "common/wrap.hpp"

namespace brisk {

using plugin_common::s;
using plugin_common::u;
using plugin_common::wrap_add;
using plugin_common::wrap_mul;
using plugin_common::wrap_sub;

// Word bits of the plug-in interface.
using plugin_common::kAtomBit;
using plugin_common::kIndexMask;
using plugin_common::kNegBit;

// A native constraint as handed over.
using RawCons = plugin_common::Constraint;

// Penalty of one native constraint as a function of its body value: weight * viol^k, viol the
// distance to [lower, upper] or to the nearest allowed interval (compared as signed values,
// differences taken in the ring).
inline int64_t violation(const RawCons& c, int64_t v) {
    if (c.set_lo.empty()) {
        const int64_t below = v < c.lower ? wrap_sub(c.lower, v) : 0;
        const int64_t above = v > c.upper ? wrap_sub(v, c.upper) : 0;
        return wrap_add(below, above);
    }
    int64_t best = 0;
    for (size_t i = 0; i < c.set_lo.size(); ++i) {
        if (v >= c.set_lo[i] && v <= c.set_hi[i]) return 0;
        const int64_t d = v < c.set_lo[i] ? wrap_sub(c.set_lo[i], v) : wrap_sub(v, c.set_hi[i]);
        if (i == 0 || d < best) best = d;
    }
    return best;
}
inline int64_t penalty(const RawCons& c, int64_t v) {
    const int64_t d = violation(c, v);
    return c.exponent == 1 ? wrap_mul(c.weight, d) : wrap_mul(wrap_mul(c.weight, d), d);
}

}  // namespace brisk
