// Written branch-free so that the compiler vectorises them; on x86-64 the wide variants are
// chosen at load time, elsewhere the baseline vector unit does the work.
#include "scan.hpp"

#include <algorithm>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define BRISK_WIDE __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define BRISK_WIDE
#endif

namespace brisk {

BRISK_WIDE int64_t smallest_allowed(const int64_t* __restrict delta,
                                    const int64_t* __restrict tabu_until, uint64_t n, int64_t iter,
                                    int64_t aspiration) {
    int64_t best = INT64_MAX;
    for (uint64_t j = 0; j < n; ++j) {
        const int64_t v = delta[j];
        const int64_t blocked = -static_cast<int64_t>((tabu_until[j] > iter) & (v >= aspiration));
        best = std::min(best, v ^ ((v ^ INT64_MAX) & blocked));
    }
    return best;
}

uint64_t find_allowed(const int64_t* delta, const int64_t* tabu_until, uint64_t n, int64_t iter,
                      int64_t aspiration, int64_t value, uint64_t start) {
    for (uint64_t j = start; j < n; ++j) {
        if (delta[j] == value && (tabu_until[j] <= iter || value < aspiration)) return j;
    }
    for (uint64_t j = 0; j < start; ++j) {
        if (delta[j] == value && (tabu_until[j] <= iter || value < aspiration)) return j;
    }
    return n;
}

BRISK_WIDE int64_t smallest(const int64_t* __restrict delta, uint64_t n) {
    int64_t best = INT64_MAX;
    for (uint64_t j = 0; j < n; ++j) best = std::min(best, delta[j]);
    return best;
}

}  // namespace brisk
