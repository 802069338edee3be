#include "core/expr_matrix.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/parallel.hpp"

namespace dalo {

namespace {

// Rows per band: the band's slice of a matrix row and its rows of the sum buffer stay in
// the first-level cache while the lower triangle streams past.
constexpr uint64_t kBand = 32;

// a + b to 32 bits; true when the exact sum does not fit.
inline bool sum_coeff(int64_t a, int64_t b, coeff_t* out) {
    int64_t s = 0;
    const bool over = __builtin_add_overflow(a, b, &s) || s < INT32_MIN || s > INT32_MAX;
    *out = static_cast<coeff_t>(static_cast<uint32_t>(static_cast<uint64_t>(a) +
                                                      static_cast<uint64_t>(b)));
    return over;
}

// Pair sums Q[i][j] + Q[j][i] of band rows [i0, i1) for j > i into buf (row i - i0, column
// j), their non-zero counts per row into counts[i - i0]; returns the sums that wrapped.
// The lower triangle is read row by row, each row's band slice once.
template <class T>
uint64_t band_sums(MatrixView<T> q, uint64_t n, uint64_t i0, uint64_t i1, coeff_t* buf,
                   uint64_t* counts) {
    uint64_t over = 0;
    std::fill(counts, counts + (i1 - i0), 0);
    for (uint64_t j = i0 + 1; j < n; ++j) {
        const uint64_t end = std::min(i1, j);
        for (uint64_t i = i0; i < end; ++i) {
            coeff_t c = 0;
            over += sum_coeff(q.at(i, j), q.at(j, i), &c);
            buf[(i - i0) * n + j] = c;
            counts[i - i0] += c != 0;
        }
    }
    return over;
}

using TermBuffer = std::unique_ptr<TermImpl, decltype(&std::free)>;

template <class T>
ExprImpl build(const Var* x, uint64_t n, MatrixView<T> q, uint64_t* wrapped) {
    ExprImpl e;
    if (wrapped != nullptr) *wrapped = 0;
    if (n == 0) return e;
    const uint64_t bands = (n + kBand - 1) / kBand;
    const uint64_t work = n * n / 2 + n;
    std::atomic<uint64_t> over{0};

    // Pass 1: non-zero pairs per row.
    std::vector<uint64_t> row_start(n + 1, 0);
    par_for_ranges(bands, work, [&](uint64_t b, uint64_t end) {
        std::vector<coeff_t> buf(kBand * n);
        uint64_t local = 0;
        for (uint64_t band = b; band < end; ++band) {
            const uint64_t i0 = band * kBand, i1 = std::min(n, i0 + kBand);
            local += band_sums(q, n, i0, i1, buf.data(), row_start.data() + i0 + 1);
        }
        over.fetch_add(local, std::memory_order_relaxed);
    });
    uint64_t linear = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const int64_t d = q.at(i, i);
        linear += static_cast<uint32_t>(d) != 0;
        over.fetch_add(d < INT32_MIN || d > INT32_MAX, std::memory_order_relaxed);
    }
    row_start[0] = linear;
    for (uint64_t i = 0; i < n; ++i) row_start[i + 1] += row_start[i];
    const uint64_t total = row_start[n];
    if (wrapped != nullptr) *wrapped = over.load();
    if (total == 0) return e;

    // Pass 2: the terms, every band at its rows' offsets. Degrees 1 and 2 own no tails, so
    // the buffer is plain memory until the expression takes it.
    TermBuffer terms(realloc_terms(nullptr, total), &std::free);
    TermImpl* out = terms.get();
    for (uint64_t i = 0, k = 0; i < n; ++i) {
        const coeff_t c = static_cast<coeff_t>(static_cast<uint32_t>(q.at(i, i)));
        if (c == 0) continue;
        out[k++] = TermImpl{c, {x[i], is_int_atom(x[i]) ? x[i] : kNoVar, nullptr}};
    }
    par_for_ranges(bands, work, [&](uint64_t b, uint64_t end) {
        std::vector<coeff_t> buf(kBand * n);
        uint64_t counts[kBand];
        for (uint64_t band = b; band < end; ++band) {
            const uint64_t i0 = band * kBand, i1 = std::min(n, i0 + kBand);
            band_sums(q, n, i0, i1, buf.data(), counts);
            for (uint64_t i = i0; i < i1; ++i) {
                TermImpl* at = out + row_start[i];
                const coeff_t* row = buf.data() + (i - i0) * n;
                const Var xi = x[i];
                for (uint64_t j = i + 1; j < n; ++j) {
                    if (row[j] != 0) *at++ = TermImpl{row[j], {xi, x[j], nullptr}};
                }
            }
        }
    });
    e.terms = terms.release();
    e.count = e.capacity = total;
    return e;
}

}  // namespace

ExprImpl expr_from_matrix(const Var* x, uint64_t n, MatrixView<int64_t> q, uint64_t* wrapped) {
    return build(x, n, q, wrapped);
}

ExprImpl expr_from_matrix(const Var* x, uint64_t n, MatrixView<int32_t> q, uint64_t* wrapped) {
    return build(x, n, q, wrapped);
}

}  // namespace dalo
