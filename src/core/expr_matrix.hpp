// Quadratic forms x^T Q x built straight from a matrix into term records.
#pragma once

#include <cstdint>
#include <vector>

#include "core/expr.hpp"
#include "core/pod_array.hpp"

namespace dalo {

// A read-only view of an n-by-n integer matrix: entry (i, j) at data[i * row + j * col]
// (strides in elements, either sign).
template <class T>
struct MatrixView {
    const T* data;
    int64_t row;
    int64_t col;
    T at(uint64_t i, uint64_t j) const {
        return data[static_cast<int64_t>(i) * row + static_cast<int64_t>(j) * col];
    }
};

// Pairs before row i in a packed upper triangle of side n.
inline uint64_t pair_row_offset(uint64_t n, uint64_t i) { return i * (2 * n - i - 1) / 2; }

// The off-diagonal half of a quadratic form: Q[i][j] + Q[j][i] for i < j, wrapped to 32 bits
// and packed row by row (row i at pair_row_offset(n, i)), the non-zero sums of each row, and
// how many coefficients did not fit (the diagonal included).
struct PairSums {
    PodArray<coeff_t> sums;
    std::vector<uint64_t> nonzero;
    uint64_t wrapped = 0;
};
PairSums pair_sums(uint64_t n, MatrixView<int64_t> q);
PairSums pair_sums(uint64_t n, MatrixView<int32_t> q);

// sum_i Q[i][i] x_i + sum_{i<j} (Q[i][j] + Q[j][i]) x_i x_j: x^T Q x when every x_i is
// binary (x_i * x_i = x_i); an integer atom on the diagonal keeps its square. The linear
// terms come first in index order, then the pairs row by row, without zero coefficients,
// so a simplification of a form over ascending identifiers finds its terms in order.
// Coefficients wrap to 32 bits; *wrapped counts those that did not fit.
ExprImpl expr_from_matrix(const Var* x, uint64_t n, MatrixView<int64_t> q, uint64_t* wrapped);
ExprImpl expr_from_matrix(const Var* x, uint64_t n, MatrixView<int32_t> q, uint64_t* wrapped);

}  // namespace dalo
