// Canonical forms: variables sorted inside each term, terms sorted by degree and then by
// the rotated-identifier key, equal products merged, zero terms dropped.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>

#include "core/expr.hpp"
#include "core/pod_array.hpp"
#include "core/term.hpp"

namespace dalo {

// The identifier rotated left by one bit: binary variables by index, each negated literal
// right after its variable, integer atoms after every binary identifier.
inline constexpr uint32_t sort_key(Var v) { return (v << 1) | (v >> 31); }

// Degree, without walking the tail for the common degrees 0 to 2.
inline uint32_t quick_degree(const VarList& v) {
    if (v.slot1 == kNoVar) return v.slot0 != kNoVar ? 1 : 0;
    if (v.tail == nullptr || v.tail[0] == kNoVar) return 2;
    return degree(v);
}

// Strict term order: by degree, then position by position by sort_key.
inline bool term_less(const TermImpl& a, const TermImpl& b) {
    if (a.vars.tail == nullptr && b.vars.tail == nullptr) {  // degree 0 to 2, the common case
        const uint32_t da = (a.vars.slot0 != kNoVar) + (a.vars.slot1 != kNoVar);
        const uint32_t db = (b.vars.slot0 != kNoVar) + (b.vars.slot1 != kNoVar);
        if (da != db) return da < db;
        const uint64_t ka = (uint64_t{sort_key(a.vars.slot0)} << 32) | sort_key(a.vars.slot1);
        const uint64_t kb = (uint64_t{sort_key(b.vars.slot0)} << 32) | sort_key(b.vars.slot1);
        return ka < kb;
    }
    const uint32_t da = quick_degree(a.vars), db = quick_degree(b.vars);
    if (da != db) return da < db;
    if (da == 0) return false;
    if (a.vars.slot0 != b.vars.slot0) return sort_key(a.vars.slot0) < sort_key(b.vars.slot0);
    if (da == 1) return false;
    if (a.vars.slot1 != b.vars.slot1) return sort_key(a.vars.slot1) < sort_key(b.vars.slot1);
    for (uint32_t i = 0; i + 2 < da; ++i) {
        if (a.vars.tail[i] != b.vars.tail[i])
            return sort_key(a.vars.tail[i]) < sort_key(b.vars.tail[i]);
    }
    return false;
}

// Same degree and the same identifiers at every position.
inline bool same_vars(const VarList& a, const VarList& b) {
    if (a.slot0 != b.slot0 || a.slot1 != b.slot1) return false;
    const uint32_t da = quick_degree(a), db = quick_degree(b);
    if (da != db) return false;
    for (uint32_t i = 0; i + 2 < da; ++i) {
        if (a.tail[i] != b.tail[i]) return false;
    }
    return true;
}

// The three variants return a new plain expression (attr not carried).
ExprImpl expr_simplify(const ExprImpl& e);
ExprImpl expr_simplify_as_binary(const ExprImpl& e);
ExprImpl expr_simplify_as_spin(const ExprImpl& e);

// expr_simplify_as_binary for terms of degree at most 2 over plain binary variables, summed
// in arrays keyed by variable index; false (result untouched) for any other expression.
bool simplify_plain_quadratic(const ExprImpl& e, ExprImpl* result);
// The same written over e's own terms (no second array); false (e untouched) otherwise. An
// input of give_back_bytes or more gives its pages back as it is read and its pairs as they
// go out: the peak stays near the input's own size, for some page faults more.
inline constexpr uint64_t kGiveBackBytes = uint64_t{256} << 20;
bool simplify_plain_quadratic_inplace(ExprImpl& e, uint64_t give_back_bytes = kGiveBackBytes);
// A pair's second variable (or position) and coefficient, bucketed by its first.
struct RowPair {
    Var v;
    uint32_t c;
};
// A plain quadratic form's simplification as merged rows over the identifiers lo .. lo + k - 1:
// lin[u] sums the linear terms of lo + u (no entries when there are none), and
// pairs[start[u] .. start[u] + kept[u]) are its pairs with larger identifiers v, ascending,
// none of them zero.
struct QuadraticRows {
    bool filled = false;
    Var lo = 0;
    uint64_t k = 0;
    int64_t constant = 0;
    PodArray<uint32_t> lin, start, kept;
    PodArray<RowPair> pairs;
    // Pairs that came in strictly ascending order stay where they are: pairs and start are
    // empty and the rows' pairs are the pair terms of source, in term order.
    const ExprImpl* source = nullptr;
    // Pairs summed in dense cells stay there: pairs is empty, and row u's pairs are the
    // nonzero cells (u, v) of the k-by-k array, v > u, in order.
    PodArray<uint32_t> cells;

    // f(pair number, u, v, c) for the source's pairs in order, u < v identifiers.
    template <class F>
    void for_source_pairs(F&& f) const {
        uint64_t at = 0;
        source->for_each_term([&](const TermImpl& t) {
            const Var a = t.vars.slot0, b = t.vars.slot1;
            if (t.coeff == 0 || a == kNoVar || b == kNoVar || a == b) return;
            f(at++, std::min(a, b), std::max(a, b), static_cast<uint32_t>(t.coeff));
        });
    }

    void open(Var first, uint64_t rows, int64_t c) {
        filled = true;
        lo = first;
        k = rows;
        constant = c;
    }
};
// expr_simplify_as_binary(e) for a plain quadratic form: as rows (rows->filled) when it takes
// the bucketed path, else written to *result; false (both untouched) for any other expression.
// Rows with a source read e's terms: e outlives them unchanged.
bool simplify_plain_quadratic_rows(const ExprImpl& e, QuadraticRows* rows, ExprImpl* result);
// Row starts for buckets filled by slices: rows[s][u] holds slice s's count for row u and
// becomes where its pairs of u go, after the slices before it; returns the k + 1 row starts.
PodArray<uint32_t> slice_row_starts(uint32_t* const* rows, uint32_t slices, uint64_t k);
// Sorts a bucket by v; cheap when it is already a few ascending runs.
void sort_row(RowPair* b, RowPair* end);
// Sorts the bucket, sums equal v (wrapping) and drops zero sums, at the front; returns the
// number kept.
uint32_t merge_row(RowPair* b, RowPair* end);
// e replaced by expr_simplify_as_binary(e), in its own array where the form allows.
void expr_simplify_as_binary_inplace(ExprImpl& e);

// Growable array of terms that owns their tails; the input of merge_terms.
class TermList {
  public:
    TermList() = default;
    explicit TermList(uint64_t capacity);
    TermList(const TermList&) = delete;
    TermList& operator=(const TermList&) = delete;
    TermList(TermList&& o) noexcept
        : data_(std::exchange(o.data_, nullptr)),
          size_(std::exchange(o.size_, 0)),
          capacity_(std::exchange(o.capacity_, 0)) {}
    ~TermList();

    TermImpl* data() { return data_; }
    uint64_t size() const { return size_; }
    TermImpl& operator[](uint64_t i) { return data_[i]; }

    // Deep copies every present term of e, in numbering order.
    static TermList copy_of(const ExprImpl& e);
    // Takes ownership of t's tail.
    void push_back(const TermImpl& t);
    // Forgets the terms without releasing their tails (they have moved elsewhere).
    void disown() { size_ = 0; }
    // The first n entries (within the capacity) were written in place and are now owned.
    void adopt(uint64_t n) { size_ = n; }
    // Hands the array over (shrunk when mostly unused; null when keep is 0) and leaves the
    // list empty; capacity() then tells the size of what was handed over.
    TermImpl* release_buffer(uint64_t keep);
    uint64_t capacity() const { return capacity_; }

  private:
    TermImpl* data_ = nullptr;
    uint64_t size_ = 0;
    uint64_t capacity_ = 0;
};

// Sorts the list by term order, combines equal products and builds the result: the first
// output term inline, the rest in the tail array. Serial and parallel combining agree
// term for term.
ExprImpl merge_terms(TermList& work, energy_t constant);

}  // namespace dalo
