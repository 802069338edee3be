// The tabu move choice over the whole change array: the smallest change among the allowed
// moves (not tabu, or tabu but leading below the aspiration level).
#pragma once

#include <cstdint>

namespace brisk {

// Smallest allowed change; INT64_MAX when none is allowed.
int64_t smallest_allowed(const int64_t* delta, const int64_t* tabu_until, uint64_t n, int64_t iter,
                         int64_t aspiration);

// The first allowed index with change `value` at or after `start`, wrapping around; n when none.
uint64_t find_allowed(const int64_t* delta, const int64_t* tabu_until, uint64_t n, int64_t iter,
                      int64_t aspiration, int64_t value, uint64_t start);

// Smallest change over all variables.
int64_t smallest(const int64_t* delta, uint64_t n);

}  // namespace brisk
