// Quadratic forms x^T Q x built straight from a matrix into term records.
#pragma once

#include <cstdint>

#include "core/expr.hpp"

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

// sum_i Q[i][i] x_i + sum_{i<j} (Q[i][j] + Q[j][i]) x_i x_j: x^T Q x when every x_i is
// binary (x_i * x_i = x_i); an integer atom on the diagonal keeps its square. The linear
// terms come first in index order, then the pairs row by row, without zero coefficients,
// so a simplification of a form over ascending identifiers finds its terms in order.
// Coefficients wrap to 32 bits; *wrapped counts those that did not fit.
ExprImpl expr_from_matrix(const Var* x, uint64_t n, MatrixView<int64_t> q, uint64_t* wrapped);
ExprImpl expr_from_matrix(const Var* x, uint64_t n, MatrixView<int32_t> q, uint64_t* wrapped);

}  // namespace dalo
