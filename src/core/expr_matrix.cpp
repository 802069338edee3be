#include "core/expr_matrix.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/parallel.hpp"

namespace dalo {

namespace {

// Rows per band: the band's rows go down the same cache lines of the lower triangle.
constexpr uint64_t kBand = 32;

// a + b to 32 bits; true when the exact sum does not fit.
inline bool sum_coeff(int64_t a, int64_t b, coeff_t* out) {
    int64_t s = 0;
    const bool over = __builtin_add_overflow(a, b, &s) || s < INT32_MIN || s > INT32_MAX;
    *out = static_cast<coeff_t>(
        static_cast<uint32_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b)));
    return over;
}

// Pair sums Q[i][j] + Q[j][i] of rows [i0, i1), j > i, into the packed upper triangle, their
// non-zero counts per row into counts[i]; returns the sums that wrapped. Row i is read
// along its length, column i down the rows, whose cache lines the next rows read again.
template <class T>
uint64_t row_sums(MatrixView<T> q, uint64_t n, uint64_t i0, uint64_t i1, coeff_t* sums,
                  uint64_t* counts) {
    uint64_t over = 0;
    for (uint64_t i = i0; i < i1; ++i) {
        const T* across = q.data + static_cast<int64_t>(i) * q.row;
        const T* down = q.data + static_cast<int64_t>(i) * q.col;
        coeff_t* out = sums + pair_row_offset(n, i);
        uint64_t nonzero = 0;
        for (uint64_t j = i + 1; j < n; ++j) {
            coeff_t c = 0;
            over += sum_coeff(across[static_cast<int64_t>(j) * q.col],
                              down[static_cast<int64_t>(j) * q.row], &c);
            out[j - i - 1] = c;
            nonzero += c != 0;
        }
        counts[i] = nonzero;
    }
    return over;
}

using TermBuffer = std::unique_ptr<TermImpl, decltype(&std::free)>;

template <class T>
PairSums sums_of(uint64_t n, MatrixView<T> q) {
    PairSums p;
    if (n == 0) return p;
    const uint64_t pairs = n * (n - 1) / 2;
    std::atomic<uint64_t> over{0};
    // At most half the matrix, in 32 bits.
    p.sums.resize_uninitialized(pairs);
    p.nonzero.resize(n);
    const uint64_t bands = (n + kBand - 1) / kBand;
    par_for_ranges(bands, pairs + n, [&](uint64_t b, uint64_t end) {
        const uint64_t i0 = b * kBand, i1 = std::min(n, end * kBand);
        over.fetch_add(row_sums(q, n, i0, i1, p.sums.data(), p.nonzero.data()),
                       std::memory_order_relaxed);
    });
    for (uint64_t i = 0; i < n; ++i) {
        const int64_t d = q.at(i, i);
        over.fetch_add(d < INT32_MIN || d > INT32_MAX, std::memory_order_relaxed);
    }
    p.wrapped = over.load();
    return p;
}

template <class T>
ExprImpl build(const Var* x, uint64_t n, MatrixView<T> q, uint64_t* wrapped) {
    ExprImpl e;
    if (wrapped != nullptr) *wrapped = 0;
    if (n == 0) return e;
    const PairSums p = sums_of(n, q);
    if (wrapped != nullptr) *wrapped = p.wrapped;
    const uint64_t pairs = n * (n - 1) / 2;
    std::vector<uint64_t> row_start(n + 1, 0);
    for (uint64_t i = 0; i < n; ++i) {
        row_start[0] += static_cast<uint32_t>(q.at(i, i)) != 0;
        row_start[i + 1] = p.nonzero[i];
    }
    for (uint64_t i = 0; i < n; ++i) row_start[i + 1] += row_start[i];
    const uint64_t total = row_start[n];
    if (total == 0) return e;

    // Pass 2: the terms, every row at its offset. Degrees 1 and 2 own no tails, so the
    // buffer is plain memory until the expression takes it.
    TermBuffer terms(realloc_terms(nullptr, total, 0), &std::free);
    TermImpl* out = terms.get();
    for (uint64_t i = 0, k = 0; i < n; ++i) {
        const coeff_t c = static_cast<coeff_t>(static_cast<uint32_t>(q.at(i, i)));
        if (c == 0) continue;
        out[k++] = TermImpl{c, {x[i], is_int_atom(x[i]) ? x[i] : kNoVar, nullptr}};
    }
    par_for_ranges(n, pairs + n, [&](uint64_t b, uint64_t end) {
        for (uint64_t i = b; i < end; ++i) {
            TermImpl* at = out + row_start[i];
            const coeff_t* row = p.sums.data() + pair_row_offset(n, i);
            const Var xi = x[i];
            for (uint64_t j = i + 1; j < n; ++j) {
                const coeff_t c = row[j - i - 1];
                if (c != 0) *at++ = TermImpl{c, {xi, x[j], nullptr}};
            }
        }
    });
    e.terms = terms.release();
    e.count = e.capacity = total;
    return e;
}

}  // namespace

PairSums pair_sums(uint64_t n, MatrixView<int64_t> q) { return sums_of(n, q); }
PairSums pair_sums(uint64_t n, MatrixView<int32_t> q) { return sums_of(n, q); }

ExprImpl expr_from_matrix(const Var* x, uint64_t n, MatrixView<int64_t> q, uint64_t* wrapped) {
    return build(x, n, q, wrapped);
}

ExprImpl expr_from_matrix(const Var* x, uint64_t n, MatrixView<int32_t> q, uint64_t* wrapped) {
    return build(x, n, q, wrapped);
}

}  // namespace dalo
