// The smallest change of a range of flip changes, written so that the compiler vectorises it.
#pragma once

#include <cstdint>

namespace brisk {

// Smallest change over all variables (INT64_MAX for an empty range).
int64_t smallest(const int64_t* delta, uint64_t n);

}  // namespace brisk
