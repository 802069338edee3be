// The minimum of a command-line Problem by enumeration (small n only), for the format tests and
// the reader fuzz target.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

#include "readers.hpp"

namespace dalo_test {

inline int64_t minimum(const dalo_cli::Problem& p) {
    int64_t best = std::numeric_limits<int64_t>::max();
    for (uint64_t x = 0; x < (uint64_t{1} << p.n); ++x) {
        int64_t e = 0;
        for (const dalo_cli::Entry& t : p.entries)
            e += static_cast<int64_t>((x >> t.i) & (x >> t.j) & 1) * t.value;
        best = std::min(best, e);
    }
    return best;
}

}  // namespace dalo_test
