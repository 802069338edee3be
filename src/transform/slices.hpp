// An expression's terms in contiguous slices, one per thread of a region: the passes of the
// plain quadratic simplification read them slice by slice.
#pragma once

#include <algorithm>
#include <cstdint>

#include "core/expr.hpp"
#include "core/parallel.hpp"
#include "core/pod_array.hpp"

namespace dalo {

// A pass over fewer terms than this takes less time on one thread than waking others.
inline constexpr uint64_t kParallelTerms = uint64_t{1} << 17;

// Contiguous slices of the terms, one per thread of the region.
class Slices {
  public:
    explicit Slices(const ExprImpl& e)
        : e_(e),
          n_(e.term_count()),
          count_(n_ >= kParallelTerms && !in_parallel_region()
                     ? std::min<uint32_t>(thread_cap(n_), 4)
                     : 1) {}
    uint32_t count() const { return count_; }

    // body(s) for every slice, in parallel when there are several.
    template <class Body>
    void run(Body&& body) const {
        if (count_ == 1) {
            body(uint32_t{0});
        } else {
            par_for_impl(count_, n_, [&](uint64_t s) { body(static_cast<uint32_t>(s)); });
        }
    }
    // f(term) for the terms of slice s. With give_back the terms are read for the last time:
    // the pages behind them go back to the system block by block.
    template <class F>
    void for_terms(uint32_t s, F&& f, bool give_back = false) const {
        const uint64_t b = n_ * s / count_, end = n_ * (s + 1) / count_;
        const uint64_t shift = e_.has_inline() ? 1 : 0;
        constexpr uint64_t kBlock = uint64_t{1} << 16;
        for (uint64_t i0 = b; i0 < end; i0 += kBlock) {
            const uint64_t i1 = std::min(end, i0 + kBlock);
            for (uint64_t i = i0; i < i1; ++i) f(i < shift ? e_.first : e_.terms[i - shift]);
            if (give_back && i1 > shift) {
                release_pages(e_.terms + (i0 > shift ? i0 - shift : 0), e_.terms + (i1 - shift));
            }
        }
    }
    // f(begin, end, number of *begin) over contiguous runs of the terms of slice s, in order,
    // until f returns false.
    template <class F>
    void for_ranges(uint32_t s, F&& f) const {
        uint64_t b = n_ * s / count_;
        const uint64_t end = n_ * (s + 1) / count_;
        if (b < end && e_.has_inline() && b == 0) {
            if (!f(&e_.first, &e_.first + 1, uint64_t{0})) return;
            b = 1;
        }
        const uint64_t shift = e_.has_inline() ? 1 : 0;
        if (b < end) f(e_.terms + (b - shift), e_.terms + (end - shift), b);
    }
    const ExprImpl& expr() const { return e_; }
    uint64_t bytes() const { return n_ * sizeof(TermImpl); }
    uint64_t size() const { return n_; }
    uint64_t begin(uint32_t s) const { return n_ * s / count_; }
    bool has_inline() const { return e_.has_inline(); }
    // Term i in numbering order.
    const TermImpl& term(uint64_t i) const {
        const uint64_t shift = e_.has_inline() ? 1 : 0;
        return i < shift ? e_.first : e_.terms[i - shift];
    }

  private:
    const ExprImpl& e_;
    const uint64_t n_;
    const uint32_t count_;
};

}  // namespace dalo
