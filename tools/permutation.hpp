// Permutation problems as their matrices: QAPLIB quadratic assignment files and TSPLIB 95
// travelling-salesman files. Free of the library, so that the readers build alone.
#pragma once

#include <cstdint>
#include <vector>

namespace dalo_cli {

class Tokens;

struct Assignment {
    const char* format = "";        // "qap" or "tsp"
    uint32_t n = 0;                 // facilities and locations, or cities and steps
    std::vector<int64_t> flow;      // n x n, row-major (qap only)
    std::vector<int64_t> distance;  // n x n, row-major; the diagonal of a tour problem is 0
};

// QAPLIB: n, then the n x n flow and distance matrices, in any layout of whitespace.
Assignment read_qap(const Tokens& t);
// TSPLIB 95: "KEYWORD : value" lines, then NODE_COORD_SECTION (EUC_2D, ATT, GEO) or
// EDGE_WEIGHT_SECTION (EXPLICIT, every EDGE_WEIGHT_FORMAT of a symmetric matrix).
Assignment read_tsp(const Tokens& t);

}  // namespace dalo_cli
