// Rows of (partner, coefficient) pairs, as the plain quadratic paths bucket them: sorted by
// partner, merged, and laid out slice by slice.
#include <algorithm>
#include <vector>

#include "transform/simplify.hpp"

namespace dalo {

// Sorts a bucket by variable. Buckets are filled in input order, so they are mostly a few
// ascending runs (one per loop of the model that fills them): those merge pairwise, in
// log(runs) passes; a bucket of many runs is sorted.
void sort_row(RowPair* b, RowPair* end) {
    const uint64_t m = static_cast<uint64_t>(end - b);
    uint64_t first_descent = 1;
    while (first_descent < m && b[first_descent - 1].v <= b[first_descent].v) ++first_descent;
    if (first_descent >= m) return;
    if (m <= 24) {  // short buckets, the sparse graphs: insertion
        for (uint64_t i = first_descent; i < m; ++i) {
            const RowPair x = b[i];
            uint64_t j = i;
            for (; j > 0 && x.v < b[j - 1].v; --j) b[j] = b[j - 1];
            b[j] = x;
        }
        return;
    }
    thread_local std::vector<uint64_t> bounds;
    bounds.assign(1, 0);
    for (uint64_t i = 1; i < m; ++i) {
        if (b[i].v < b[i - 1].v) bounds.push_back(i);
    }
    if (bounds.size() == 1) return;
    auto less = [](const RowPair& x, const RowPair& y) { return x.v < y.v; };
    if (bounds.size() > 16) {
        std::sort(b, end, less);
        return;
    }
    bounds.push_back(m);
    thread_local std::vector<RowPair> spare;
    spare.resize(m);
    RowPair* src = b;
    RowPair* dst = spare.data();
    while (bounds.size() > 2) {
        uint64_t kept = 1;
        for (uint64_t r = 0; r + 1 < bounds.size(); r += 2) {
            const uint64_t lo = bounds[r], mid = bounds[r + 1];
            const uint64_t hi = r + 2 < bounds.size() ? bounds[r + 2] : mid;
            std::merge(src + lo, src + mid, src + mid, src + hi, dst + lo, less);
            bounds[kept++] = hi;
        }
        bounds.resize(kept);
        std::swap(src, dst);
    }
    if (src != b) std::copy(src, src + m, b);
}

uint32_t merge_row(RowPair* b, RowPair* end) {
    const uint64_t m = static_cast<uint64_t>(end - b);
    if (m <= 24) {  // short rows, the sparse graphs: insertion, here rather than in a call
        for (uint64_t i = 1; i < m; ++i) {
            const RowPair x = b[i];
            uint64_t j = i;
            for (; j > 0 && x.v < b[j - 1].v; --j) b[j] = b[j - 1];
            b[j] = x;
        }
    } else {
        sort_row(b, end);
    }
    RowPair* w = b;
    for (RowPair* p = b; p < end;) {
        const Var v = p->v;
        uint32_t c = 0;
        for (; p < end && p->v == v; ++p) c += p->c;
        if (c != 0) *w++ = RowPair{v, c};
    }
    return static_cast<uint32_t>(w - b);
}

PodArray<uint32_t> slice_row_starts(uint32_t* const* rows, uint32_t slices, uint64_t k) {
    PodArray<uint32_t> start(k + 1);
    uint32_t running = 0;
    for (uint64_t u = 0; u < k; ++u) {
        start[u] = running;
        for (uint32_t s = 0; s < slices; ++s) {
            const uint32_t c = rows[s][u];
            rows[s][u] = running;
            running += c;
        }
    }
    start[k] = running;
    return start;
}

}  // namespace dalo
