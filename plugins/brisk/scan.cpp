// Branch-free so that the compiler vectorises it; on x86-64 the wide variant is chosen at load
// time, elsewhere the baseline vector unit does the work.
#include "scan.hpp"

#include <algorithm>
#include <cstdint>

// Not under ThreadSanitizer: the load-time resolver runs while the plug-in is being relocated,
// and the sanitizer's entry hook in it would jump through a slot not yet filled.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define BRISK_WIDE __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define BRISK_WIDE
#endif

namespace brisk {

BRISK_WIDE int64_t smallest(const int64_t* __restrict delta, uint64_t n) {
    int64_t best = INT64_MAX;
    for (uint64_t j = 0; j < n; ++j) best = std::min(best, delta[j]);
    return best;
}

}  // namespace brisk
