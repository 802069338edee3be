// Binary simplification of the commonest form, terms of degree at most 2 over plain binary
// variables: coefficients are summed straight from the input into arrays keyed by variable
// index, so the input is read twice and never copied or sorted as records. The passes over
// the input split it into a few slices with private arrays; 32-bit wrapping sums do not
// depend on the order of their addends, so every split gives the same result.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "core/parallel.hpp"
#include "core/pod_array.hpp"
#include "core/var_registry.hpp"
#include "transform/simplify.hpp"
#include "transform/slices.hpp"

namespace dalo {

namespace {

constexpr Var kSpecialBits = kNegBit | kIntBit;  // kNoVar has both

// What the first pass learns: whether the fast path applies, the identifier range, the
// number of linear terms (x and x*x) and of pairs, and the constant with the degree-0 terms.
struct Shape {
    bool plain = true;
    Var lo = kNoVar;
    Var hi = 0;
    uint64_t linear = 0;
    uint64_t pairs = 0;
    int64_t constant = 0;
    // Whether the pairs come in strictly ascending (smaller, larger) order, the first and
    // last pair keys, and the least and largest (pair number - term number) in the slice.
    bool ordered = true;
    bool normalized = true;  // every pair has its smaller variable first
    uint64_t first_key = 0, last_key = 0;
    int64_t lag_min = INT64_MAX, lag_max = INT64_MIN;
    // The range of the first slot over the terms with a variable in it: the rows of the cells
    // that the slice writes on the dense path. Not joined.
    Var first_lo = kNoVar, first_hi = 0;

    void join(const Shape& o) {
        plain = plain && o.plain;
        lo = std::min(lo, o.lo);
        hi = std::max(hi, o.hi);
        ordered = ordered && o.ordered && (pairs == 0 || o.pairs == 0 || last_key < o.first_key);
        normalized = normalized && o.normalized;
        if (o.pairs > 0) {
            if (pairs == 0) first_key = o.first_key;
            last_key = o.last_key;
        }
        linear += o.linear;
        pairs += o.pairs;
        constant = wrap_add(constant, o.constant);
    }
};

using Pair = RowPair;

// Dense cells filled during the first pass, on a guess taken from the first terms of every
// slice that the whole input spans their identifier range and calls for the dense path (a
// product, the square of a sum): the pass that would fill them afterwards is saved. Cell
// (a, b) is row a - lo, column b - lo, as the term has them. A slice writes only the rows of
// its band, so that slices share the cells; a pair of another row waits in the slice's spill
// list. A term outside the range, or a spill list grown too long, ends the guess for the
// slice, and the input takes its usual path.
struct Guess {
    Var lo = 0;
    uint64_t k = 0;  // 0: no guess
    PodArray<uint32_t> cells;
    uint32_t* sq = nullptr;  // cells.data(), written by the slices
};
struct SliceGuess {
    bool live = false;
    Var band_lo = 0, band_hi = 0;  // the rows (first slots) this slice writes
    PodArray<uint32_t> lin;
    std::vector<std::pair<uint64_t, uint32_t>> spill;  // (cell, coefficient)
    uint64_t spill_cap = 0;
    uint64_t until = 0;  // the term number where the guess ended; rows are counted from there
};

// The running values of the first pass over the plain pairs.
struct PairScan {
    uint64_t pairs = 0, first_at = 0, last_at = 0, first_key = 0, last_key = 0;
    Var lo = kNoVar, hi = 0, first_lo = kNoVar, first_hi = 0;
    bool ordered = true, normalized = true;
    // Consecutive pairs often share their row (the rows of a product): a row's count runs
    // in a register, not as a chain of loads and stores to one address.
    Var row = 0;
    uint32_t run = 0;
};

// Folds the plain pairs at the front of [p, end), term numbers from `at` on, into r; returns
// the first term that is not one. The values live in locals, out of reach of the row-count
// stores.
template <bool kCounted>
const TermImpl* pair_run(const TermImpl* p, const TermImpl* end, uint64_t at, Var nvars,
                         uint32_t* row_count, PairScan& r) {
    const TermImpl* const from = p;
    uint64_t last_key = r.last_key;
    Var lo = r.lo, hi = r.hi, first_lo = r.first_lo, first_hi = r.first_hi, row = r.row;
    uint32_t run = r.run;
    bool ordered = r.ordered, normalized = r.normalized;
    for (; p < end; ++p) {
        const Var a = p->vars.slot0, b = p->vars.slot1;
        // Every identifier below nvars is a plain binary variable: no special bits.
        if ((p->vars.tail != nullptr) | (a >= nvars) | (b >= nvars) | (a == b) | (p->coeff == 0))
            break;
        const Var u = std::min(a, b), v = std::max(a, b);
        const uint64_t key = (uint64_t{u} << 32) | v;
        ordered &= last_key < key;
        normalized &= a < b;
        last_key = key;
        lo = std::min(lo, u);
        hi = std::max(hi, v);
        first_lo = std::min(first_lo, a);
        first_hi = std::max(first_hi, a);
        if constexpr (kCounted) {
            if (u != row) {
                if (run > 0) row_count[row] += run;
                row = u;
                run = 0;
            }
            ++run;
        }
    }
    const uint64_t m = static_cast<uint64_t>(p - from);
    if (m == 0) return p;
    if (r.pairs == 0) {
        r.first_at = at;
        r.first_key = (uint64_t{std::min(from->vars.slot0, from->vars.slot1)} << 32) |
                      std::max(from->vars.slot0, from->vars.slot1);
    }
    r.last_at = at + m - 1;
    r.pairs += m;
    r.last_key = last_key;
    r.lo = lo;
    r.hi = hi;
    r.first_lo = first_lo;
    r.first_hi = first_hi;
    r.row = row;
    r.run = run;
    r.ordered = ordered;
    r.normalized = normalized;
    return p;
}

// The plain pairs at the front of [p, end) into the guessed cells; returns the first term that
// is not one or lies outside the guess. Nothing else is tracked: the range is the guess's
// (its ends come from terms of the input), the input is out of order, and a guess takes the
// place of row counts.
const TermImpl* guess_run(const TermImpl* p, const TermImpl* end, const Guess& g, SliceGuess& sg) {
    const Var glo = g.lo, band_lo = sg.band_lo, band_width = sg.band_hi - sg.band_lo;
    const uint64_t k = g.k;
    uint32_t* const cells = g.sq;
    for (; p < end; ++p) {
        // The range lies below the registry's count: no special bits.
        const uint64_t a = p->vars.slot0 - glo, b = p->vars.slot1 - glo;  // wrap below lo
        if ((p->vars.tail != nullptr) | (a >= k) | (b >= k) | (a == b) | (p->coeff == 0)) break;
        const uint32_t c = static_cast<uint32_t>(p->coeff);
        if (p->vars.slot0 - band_lo <= band_width) {
            cells[a * k + b] += c;
        } else {
            if (sg.spill.size() >= sg.spill_cap) break;
            sg.spill.emplace_back(a * k + b, c);
        }
    }
    return p;
}

bool is_plain_pair(const TermImpl& t, Var nvars) {
    const Var a = t.vars.slot0, b = t.vars.slot1;
    return t.vars.tail == nullptr && a < nvars && b < nvars && a != b && t.coeff != 0;
}

Shape scan(const Slices& slices, uint32_t s, Var nvars, uint32_t* row_count, uint32_t* lin,
           const Guess& g, SliceGuess& sg) {
    Shape sh;
    PairScan r;
    // A term that is neither a plain pair nor skipped: a linear term or a constant keeps the
    // fast path, anything else ends it.
    auto other = [&](const TermImpl& t) {
        const Var a = t.vars.slot0, b = t.vars.slot1;
        if (t.coeff == 0) return;
        if (t.vars.tail != nullptr) {
            sh.plain = false;
        } else if (a == kNoVar) {
            sh.plain = b == kNoVar;
            sh.constant = wrap_add(sh.constant, t.coeff);
        } else if ((a & kSpecialBits) != 0 || a >= nvars) {
            sh.plain = false;
        } else if (b == kNoVar || b == a) {
            ++sh.linear;
            r.lo = std::min(r.lo, a);
            r.hi = std::max(r.hi, a);
            r.first_lo = std::min(r.first_lo, a);
            r.first_hi = std::max(r.first_hi, a);
            if (lin != nullptr) {
                std::atomic_ref<uint32_t>(lin[a]).fetch_add(static_cast<uint32_t>(t.coeff),
                                                            std::memory_order_relaxed);
            }
            if (sg.live) {
                if (a - g.lo < g.k) {
                    sg.lin[a - g.lo] += static_cast<uint32_t>(t.coeff);
                } else {
                    sg.live = false;
                }
            }
        } else {
            sh.plain = false;  // an integer atom or a negated literal in a pair
        }
    };
    if (sg.live) {
        r.lo = r.first_lo = g.lo;
        r.hi = r.first_hi = static_cast<Var>(g.lo + g.k - 1);
        r.ordered = false;
    }
    // Nothing of the shape is used once the fast path is ruled out, so the pass stops there.
    slices.for_ranges(s, [&](const TermImpl* p, const TermImpl* end, uint64_t at) {
        while (p < end && sh.plain) {
            const TermImpl* q;
            if (sg.live) {
                q = guess_run(p, end, g, sg);
                if (q > p && r.pairs == 0) r.first_at = at;
                if (q > p) r.last_at = at + static_cast<uint64_t>(q - p) - 1;
                r.pairs += static_cast<uint64_t>(q - p);
            } else {
                q = row_count != nullptr ? pair_run<true>(p, end, at, nvars, row_count, r)
                                         : pair_run<false>(p, end, at, nvars, nullptr, r);
            }
            at += static_cast<uint64_t>(q - p);
            if (q == end) break;
            if (sg.live && is_plain_pair(*q, nvars)) {  // the guess ends here
                sg.live = false;
                sg.until = at;
                p = q;
                continue;
            }
            const bool live = sg.live;
            other(*q);
            if (live && !sg.live) sg.until = at;
            p = q + 1;
            ++at;
        }
        return sh.plain;
    });
    if (row_count != nullptr && r.run > 0) row_count[r.row] += r.run;
    sh.lo = r.lo;
    sh.hi = r.hi;
    sh.first_lo = r.first_lo;
    sh.first_hi = r.first_hi;
    sh.pairs = r.pairs;
    sh.ordered = r.ordered;
    sh.normalized = r.normalized;
    sh.last_key = r.last_key;
    sh.first_key = r.first_key;
    if (r.pairs > 0) {
        // Pair numbers grow by one per pair and term numbers by one per term, so (pair
        // number - term number) never grows: its largest value is at the first pair, its
        // least at the last.
        sh.lag_max = -static_cast<int64_t>(r.first_at);
        sh.lag_min = static_cast<int64_t>(r.pairs - 1) - static_cast<int64_t>(r.last_at);
    }
    return sh;
}

// Sets up the guess of dense cells when the first terms of every slice are plain, out of
// order (so the whole input is), span a range of identifiers whose cells fit the dense path's
// bound at their share of pairs, and start their slices' rows in ascending order (so that the
// slices take rows as bands). Leaves g.k = 0 otherwise.
void guess(const Slices& slices, Var nvars, Guess& g, std::vector<SliceGuess>& sg) {
    constexpr uint64_t kSample = 2048;
    const uint32_t count = slices.count();
    if (slices.size() < 8 * kSample) return;
    Var lo = kNoVar, hi = 0;
    uint64_t seen = 0, pairs = 0, last_key = 0;
    bool ordered = true;
    std::vector<Var> first_row(count, kNoVar);
    for (uint32_t s = 0; s < count; ++s) {
        const uint64_t b = slices.begin(s), e = s + 1 < count ? slices.begin(s + 1) : slices.size();
        for (uint64_t i = b; i < std::min(e, b + kSample); ++i) {
            const TermImpl& t = slices.term(i);
            const Var a = t.vars.slot0, c = t.vars.slot1;
            if (t.coeff == 0) continue;
            ++seen;
            if (t.vars.tail != nullptr) return;
            if (a == kNoVar) {
                if (c != kNoVar) return;
                continue;
            }
            if (a >= nvars || (c != kNoVar && c >= nvars)) return;
            lo = std::min(lo, a);
            hi = std::max(hi, a);
            if (c == kNoVar || c == a) continue;
            lo = std::min(lo, c);
            hi = std::max(hi, c);
            const uint64_t key = (uint64_t{std::min(a, c)} << 32) | std::max(a, c);
            ordered = ordered && last_key < key;
            last_key = key;
            ++pairs;
            if (first_row[s] == kNoVar) first_row[s] = a;
        }
    }
    if (pairs == 0 || ordered) return;
    const uint64_t k = uint64_t{hi} - lo + 1;
    const uint64_t expected = slices.size() / seen * pairs;
    if (k * k > 4 * expected + 8192) return;
    for (uint32_t s = 0; s < count; ++s) {
        if (first_row[s] == kNoVar || (s > 0 && first_row[s] <= first_row[s - 1])) return;
    }
    g.lo = lo;
    g.k = k;
    g.cells = PodArray<uint32_t>::zeroed(k * k);
    g.sq = g.cells.data();
    for (uint32_t s = 0; s < count; ++s) {
        SliceGuess& x = sg[s];
        x.live = true;
        x.band_lo = s == 0 ? 0 : first_row[s];
        x.band_hi = s + 1 < count ? first_row[s + 1] - 1 : kNoVar;
        x.lin = PodArray<uint32_t>::zeroed(k);
        x.spill_cap = std::max<uint64_t>(4096, slices.size() / count / 16);
    }
}

// The output: position 0 is the inline term, position p > 0 entry p - 1 of the tail. When
// the input is consumed, the tail is the input's own array, written once the input is read.
class Output {
  public:
    Output(ExprImpl& r, uint64_t total, bool reuse) : r_(r), total_(total), reuse_(reuse) {
        if (reuse) {
            tail_ = r.terms;
        } else if (total > 1) {
            fresh_.resize_uninitialized(total - 1);
            tail_ = fresh_.data();
        }
    }
    void put(uint64_t p, uint32_t c, Var a, Var b) {
        TermImpl& t = p == 0 ? r_.first : tail_[p - 1];
        t.coeff = static_cast<coeff_t>(c);
        t.vars.slot0 = a;
        t.vars.slot1 = b;
        t.vars.tail = nullptr;
    }
    void finish(int64_t constant) {
        r_.constant = constant;
        if (total_ == 0) r_.first = TermImpl{};
        const uint64_t used = total_ < 2 ? 0 : total_ - 1;
        if (!reuse_) {
            r_.terms = used == 0 ? nullptr : fresh_.release();
            r_.count = r_.capacity = used;
            return;
        }
        r_.count = used;
        if (used == 0) {
            std::free(r_.terms);
            r_.terms = nullptr;
            r_.capacity = 0;
        } else if (used < r_.capacity / 2) {  // a heavily merged result gives memory back
            if (void* q = std::realloc(r_.terms, used * sizeof(TermImpl))) {
                r_.terms = static_cast<TermImpl*>(q);
                r_.capacity = used;
            }
        }
    }

  private:
    ExprImpl& r_;
    PodArray<TermImpl> fresh_;
    TermImpl* tail_ = nullptr;
    uint64_t total_;
    bool reuse_;
};

bool is_pair(const TermImpl& t) {
    const Var a = t.vars.slot0, b = t.vars.slot1;
    return t.coeff != 0 && a != kNoVar && b != kNoVar && a != b;
}

// Pairs that already come in strictly ascending order (a square or a matrix written row by
// row, an expression simplified before): the linear sums the scan took, then the pairs as
// they come, nothing sorted or merged. In place every pair moves once, in the direction
// that never overwrites one not yet read; false (nothing written) when neither does.
bool ordered(const Slices& slices, const std::vector<Shape>& shapes, const Shape& sh, uint32_t* lin,
             ExprImpl& r, bool reuse) {
    uint64_t linear = 0;
    for (uint64_t v = sh.lo; sh.linear > 0 && v <= sh.hi; ++v) linear += lin[v] != 0;
    std::vector<uint64_t> before(shapes.size() + 1, 0);  // pairs before each slice
    int64_t lag_min = INT64_MAX, lag_max = INT64_MIN;
    for (uint32_t s = 0; s < shapes.size(); ++s) {
        before[s + 1] = before[s] + shapes[s].pairs;
        if (shapes[s].pairs == 0) continue;
        const int64_t shift =
            static_cast<int64_t>(before[s]) - static_cast<int64_t>(slices.begin(s));
        lag_min = std::min(lag_min, shapes[s].lag_min + shift);
        lag_max = std::max(lag_max, shapes[s].lag_max + shift);
    }
    // Pair j goes to tail slot linear + j - 1 from slot (its term number) - inline.
    const int64_t edge = 1 - (slices.has_inline() ? 1 : 0) - static_cast<int64_t>(linear);
    const bool backward = reuse && sh.pairs > 0 && lag_min >= edge;
    if (reuse && sh.pairs > 0 && !backward && lag_max > edge) return false;
    Output out(r, linear + sh.pairs, reuse);
    auto move = [&](uint64_t p, const TermImpl& t) {
        const TermImpl c = t;  // read whole before the slot may be written
        out.put(p, static_cast<uint32_t>(c.coeff), std::min(c.vars.slot0, c.vars.slot1),
                std::max(c.vars.slot0, c.vars.slot1));
    };
    if (reuse && lag_min == edge && lag_max == edge && sh.normalized) {
        // Every pair is in its own slot already, as a simplified expression has them.
    } else if (backward) {
        uint64_t j = sh.pairs;
        for (uint64_t i = slices.size(); i-- > 0;) {
            if (is_pair(slices.term(i))) move(linear + --j, slices.term(i));
        }
    } else if (reuse) {
        uint64_t j = 0;
        for (uint64_t i = 0; i < slices.size(); ++i) {
            if (is_pair(slices.term(i))) move(linear + j++, slices.term(i));
        }
    } else {
        slices.run([&](uint32_t s) {
            uint64_t j = before[s];
            slices.for_terms(s, [&](const TermImpl& t) {
                if (is_pair(t)) move(linear + j++, t);
            });
        });
    }
    for (uint64_t v = sh.lo, p = 0; sh.linear > 0 && v <= sh.hi; ++v) {
        if (lin[v] != 0) out.put(p++, lin[v], static_cast<Var>(v), kNoVar);
    }
    out.finish(sh.constant);
    return true;
}

// The same pairs as rows, left in the input: each row's count comes from the scan's row
// counts.
void ordered_rows(const Slices& slices, const Shape& sh, const uint32_t* lin,
                  const std::vector<PodArray<uint32_t>>& row_count, QuadraticRows& out) {
    const uint64_t k = uint64_t{sh.hi} - sh.lo + 1;
    out.open(sh.lo, k, sh.constant);
    out.kept = PodArray<uint32_t>(k);
    for (uint64_t u = 0; u < k; ++u) {
        uint32_t c = 0;
        for (const PodArray<uint32_t>& r : row_count) c += r[sh.lo + u];
        out.kept[u] = c;
    }
    out.source = &slices.expr();
    if (sh.linear > 0) {
        out.lin = PodArray<uint32_t>(k);
        std::memcpy(out.lin.data(), lin + sh.lo, k * sizeof(uint32_t));
    }
}

// body(b, e) over ranges covering rows [0, rows), in parallel when the work w is large.
template <class Body>
void over_row_ranges(uint64_t rows, uint64_t w, Body&& body) {
    if (w < kParallelTerms) {
        body(uint64_t{0}, rows);
    } else {
        par_for_ranges(rows, w, body);
    }
}

// body(u) for every row, in parallel ranges when the work w is large enough.
template <class Body>
void over_rows(uint64_t rows, uint64_t w, Body&& body) {
    over_row_ranges(rows, w, [&](uint64_t b, uint64_t e) {
        for (uint64_t u = b; u < e; ++u) body(u);
    });
}

void dense_out(const Shape& sh, PodArray<uint32_t> cells, PodArray<uint32_t> linear, ExprImpl& r,
               bool reuse, QuadraticRows* rows_out);

// Few identifiers for many pairs: one cell per ordered pair (a, b) as the term has them, so
// rows of a product fill row by row; cells (u, v) and (v, u) are added when the terms go
// out, where the column reads of nearby rows share cache lines.
void dense(const Slices& slices, const std::vector<Shape>& shapes, const Shape& sh, ExprImpl& r,
           bool reuse, QuadraticRows* rows_out) {
    const uint64_t k = uint64_t{sh.hi} - sh.lo + 1;
    const Var lo = sh.lo;
    // Slices that write disjoint rows, as the halves of a product do, share one set of cells;
    // others get private cells while those stay within the input's own size.
    bool disjoint = slices.count() > 1;
    for (uint32_t a = 0; a < shapes.size(); ++a) {
        for (uint32_t b = a + 1; b < shapes.size(); ++b) {
            const Shape &x = shapes[a], &y = shapes[b];
            if (x.first_lo <= x.first_hi && y.first_lo <= y.first_hi && x.first_lo <= y.first_hi &&
                y.first_lo <= x.first_hi)
                disjoint = false;
        }
    }
    const uint32_t copies =
        !disjoint && k * k * 4 * slices.count() <= 24 * (sh.linear + sh.pairs) ? slices.count() : 1;
    std::vector<PodArray<uint32_t>> cells(copies), lins(disjoint ? slices.count() : copies);
    for (uint32_t c = 0; c < copies; ++c) cells[c] = PodArray<uint32_t>::zeroed(k * k);
    for (PodArray<uint32_t>& l : lins) l = PodArray<uint32_t>::zeroed(k);
    auto accumulate = [&](uint32_t s, uint32_t* sq, uint32_t* lin) {
        slices.for_terms(s, [&](const TermImpl& t) {
            if (t.coeff == 0 || t.vars.slot0 == kNoVar) return;
            const uint64_t a = t.vars.slot0 - lo;
            const uint32_t c = static_cast<uint32_t>(t.coeff);
            if (t.vars.slot1 == kNoVar) {
                lin[a] += c;
            } else {
                sq[a * k + (t.vars.slot1 - lo)] += c;
            }
        });
    };
    if (disjoint) {
        slices.run([&](uint32_t s) { accumulate(s, cells[0].data(), lins[s].data()); });
    } else if (copies == slices.count()) {
        slices.run([&](uint32_t s) { accumulate(s, cells[s].data(), lins[s].data()); });
    } else {
        for (uint32_t s = 0; s < slices.count(); ++s)
            accumulate(s, cells[0].data(), lins[0].data());
    }
    uint32_t* sq = cells[0].data();
    if (copies > 1)
        over_rows(k, k * k, [&](uint64_t u) {
            for (uint32_t c = 1; c < copies; ++c) {
                const uint32_t* other = cells[c].data() + u * k;
                for (uint64_t v = 0; v < k; ++v) sq[u * k + v] += other[v];
            }
        });
    for (uint64_t u = 0; u < k; ++u) {
        for (uint32_t c = 1; c < lins.size(); ++c) lins[0][u] += lins[c][u];
    }
    dense_out(sh, std::move(cells[0]), std::move(lins[0]), r, reuse, rows_out);
}

// The dense path's output from its cells and linear sums.
void dense_out(const Shape& sh, PodArray<uint32_t> cells, PodArray<uint32_t> linear, ExprImpl& r,
               bool reuse, QuadraticRows* rows_out) {
    uint32_t* sq = cells.data();
    const uint64_t k = uint64_t{sh.hi} - sh.lo + 1;
    const Var lo = sh.lo;
    uint32_t* lin = linear.data();
    for (uint64_t u = 0; u < k; ++u) lin[u] += sq[u * k + u];

    // Cell (u, v), u < v, becomes the pair's sum over both orders, in place: row u writes
    // only its own upper cells and reads the lower ones, which nothing writes. The output
    // then reads each row's upper cells in order.
    std::vector<uint64_t> start(k + 1, 0);
    for (uint64_t u = 0; u < k; ++u) start[0] += lin[u] != 0;
    over_rows(k, k * k / 2, [&](uint64_t u) {
        uint64_t m = 0;
        uint32_t* row = sq + u * k;
        for (uint64_t v = u + 1; v < k; ++v) {
            row[v] += sq[v * k + u];
            m += row[v] != 0;
        }
        start[u + 1] = m;
    });
    for (uint64_t u = 0; u < k; ++u) start[u + 1] += start[u];

    if (rows_out != nullptr && start[k] - start[0] < (uint64_t{1} << 32)) {
        QuadraticRows& q = *rows_out;
        q.open(lo, k, sh.constant);
        q.kept = PodArray<uint32_t>(k);
        for (uint64_t u = 0; u < k; ++u) q.kept[u] = static_cast<uint32_t>(start[u + 1] - start[u]);
        q.cells = std::move(cells);
        q.lin = std::move(linear);
        return;
    }
    Output out(r, start[k], reuse);
    for (uint64_t u = 0, p = 0; u < k; ++u) {
        if (lin[u] != 0) out.put(p++, lin[u], lo + static_cast<Var>(u), kNoVar);
    }
    over_rows(k, k * k / 2, [&](uint64_t u) {
        uint64_t p = start[u];
        const uint32_t* row = sq + u * k;
        for (uint64_t v = u + 1; v < k; ++v) {
            if (row[v] != 0)
                out.put(p++, row[v], lo + static_cast<Var>(u), lo + static_cast<Var>(v));
        }
    });
    out.finish(sh.constant);
}

// Many identifiers: pairs bucketed by their first variable, each bucket sorted when it is
// out of order and merged in place.
// Row counts per slice over the identifier range [lo, hi], entry u - lo; the first pass
// counts them when the registry is small enough, this pass otherwise.
void count_rows(const Slices& slices, const Shape& sh, std::vector<uint32_t*>& rows,
                std::vector<PodArray<uint32_t>>& own) {
    const uint64_t k = uint64_t{sh.hi} - sh.lo + 1;
    const Var lo = sh.lo;
    own.resize(slices.count());
    for (uint32_t s = 0; s < slices.count(); ++s) {
        own[s] = PodArray<uint32_t>::zeroed(k);
        rows[s] = own[s].data();
    }
    slices.run([&](uint32_t s) {
        uint32_t* count = rows[s];
        slices.for_terms(s, [&](const TermImpl& t) {
            const Var a = t.vars.slot0, b = t.vars.slot1;
            if (t.coeff != 0 && a != kNoVar && b != kNoVar && a != b) ++count[std::min(a, b) - lo];
        });
    });
}

void sparse(const Slices& slices, const Shape& sh, std::vector<uint32_t*>& rows, ExprImpl& r,
            bool reuse, uint64_t give_back_bytes, QuadraticRows* rows_out) {
    const uint32_t count = slices.count();
    const uint64_t k = uint64_t{sh.hi} - sh.lo + 1;
    const Var lo = sh.lo;
    // Row u of slice s starts at rows[s][u]; rows are laid out in identifier order.
    PodArray<uint32_t> start = slice_row_starts(rows.data(), count, k);
    PodArray<Pair> pairs(sh.pairs);
    std::vector<PodArray<uint32_t>> lins(sh.linear > 0 ? count : 1);
    for (PodArray<uint32_t>& l : lins) l = PodArray<uint32_t>::zeroed(sh.linear > 0 ? k : 0);
    // A large input consumed in place goes back as it is read, its pairs as they go out.
    const bool give_back = reuse && slices.bytes() >= give_back_bytes;
    slices.run([&](uint32_t s) {
        uint32_t* fill = rows[s];
        uint32_t* lin = lins[sh.linear > 0 ? s : 0].data();
        Pair* out = pairs.data();
        slices.for_terms(
            s,
            [&](const TermImpl& t) {
                if (t.coeff == 0 || t.vars.slot0 == kNoVar) return;
                const Var a = t.vars.slot0, b = t.vars.slot1;
                const uint32_t c = static_cast<uint32_t>(t.coeff);
                if (b == kNoVar || b == a) {
                    lin[a - lo] += c;
                } else if (a < b) {
                    out[fill[a - lo]++] = Pair{b, c};
                } else {
                    out[fill[b - lo]++] = Pair{a, c};
                }
            },
            give_back);
    });

    // Each row merged at its front; its output count replaces the first slice's fill.
    uint32_t* kept = rows[0];
    over_rows(k, sh.pairs, [&](uint64_t u) {
        kept[u] = merge_row(pairs.data() + start[u], pairs.data() + start[u + 1]);
    });

    uint32_t* lin = lins[0].data();
    uint32_t linear = 0;
    for (uint64_t u = 0; sh.linear > 0 && u < k; ++u) {
        for (uint32_t s = 1; s < count; ++s) lin[u] += lins[s][u];
        linear += lin[u] != 0;
    }
    if (rows_out != nullptr) {
        rows_out->open(lo, k, sh.constant);
        rows_out->kept = PodArray<uint32_t>(k);
        std::memcpy(rows_out->kept.data(), kept, k * sizeof(uint32_t));
        rows_out->start = std::move(start);
        rows_out->pairs = std::move(pairs);
        if (sh.linear > 0) rows_out->lin = std::move(lins[0]);
        return;
    }
    // Output positions: the linear terms, then each row in turn (in place of the kept counts).
    uint32_t total = linear;
    for (uint64_t u = 0; u < k; ++u) {
        const uint32_t c = kept[u];
        kept[u] = total;
        total += c;
    }
    uint32_t* at = kept;

    Output out(r, total, reuse);
    for (uint64_t u = 0, p = 0; linear > 0 && u < k; ++u) {
        if (lin[u] != 0) out.put(p++, lin[u], lo + static_cast<Var>(u), kNoVar);
    }
    over_row_ranges(k, sh.pairs, [&](uint64_t u0, uint64_t u1) {
        const Pair* given = pairs.data() + start[u0];
        for (uint64_t u = u0; u < u1; ++u) {
            const Pair* b = pairs.data() + start[u];
            const uint64_t m = (u + 1 < k ? at[u + 1] : total) - at[u];
            for (uint64_t i = 0; i < m; ++i)
                out.put(at[u] + i, b[i].c, lo + static_cast<Var>(u), b[i].v);
            if (give_back && b - given >= 4096) {
                release_pages(given, b);
                given = b;
            }
        }
    });
    out.finish(sh.constant);
}

}  // namespace

namespace {

// The result goes to *target: a new expression, or e itself when reuse is set.
bool simplify(const ExprImpl& e, ExprImpl& target, bool reuse, uint64_t give_back_bytes,
              QuadraticRows* rows_out = nullptr) {
    const uint64_t n = e.term_count();
    const uint64_t nvars = var_registry().count();
    const Slices slices(e);
    // The first pass counts rows when the registry is not much larger than the input; row
    // counts and positions fit in 32 bits.
    const bool counted = nvars <= 4 * n + 4096 && n < (uint64_t{1} << 32);
    std::vector<PodArray<uint32_t>> row_count(counted ? slices.count() : 0);
    for (PodArray<uint32_t>& c : row_count) c = PodArray<uint32_t>::zeroed(nvars);
    // A guess means input out of order: no linear sums for the ordered path, and rows are
    // counted only once the guess ends, the terms before that point after the first pass.
    Guess g;
    std::vector<SliceGuess> sg(slices.count());
    guess(slices, static_cast<Var>(nvars), g, sg);
    PodArray<uint32_t> lin = PodArray<uint32_t>::zeroed(counted && g.k == 0 ? nvars : 0);
    std::vector<Shape> shapes(slices.count());
    slices.run([&](uint32_t s) {
        shapes[s] =
            scan(slices, s, static_cast<Var>(nvars), counted ? row_count[s].data() : nullptr,
                 counted && g.k == 0 ? lin.data() : nullptr, g, sg[s]);
    });
    Shape sh = shapes[0];
    for (uint32_t s = 1; s < slices.count(); ++s) sh.join(shapes[s]);
    sh.constant = wrap_add(sh.constant, e.constant);
    if (!sh.plain) return false;
    const uint64_t k = uint64_t{sh.hi} - sh.lo + 1;
    bool guessed = g.k > 0 && sh.lo == g.lo && k == g.k;
    for (const SliceGuess& x : sg) guessed = guessed && x.live;
    if (g.k > 0 && !guessed && counted) {
        slices.run([&](uint32_t s) {
            const uint64_t from = slices.begin(s);
            const uint64_t to =
                sg[s].live ? (s + 1 < slices.count() ? slices.begin(s + 1) : n) : sg[s].until;
            uint32_t* rows = row_count[s].data();
            for (uint64_t i = from; i < to; ++i) {
                const TermImpl& t = slices.term(i);
                if (is_plain_pair(t, static_cast<Var>(nvars)))
                    ++rows[std::min(t.vars.slot0, t.vars.slot1)];
            }
        });
    }
    if (sh.linear + sh.pairs == 0) {
        target.clear_terms();
        target.constant = sh.constant;
    } else if (guessed) {
        uint32_t* sq = g.sq;
        for (uint32_t s = 0; s < sg.size(); ++s) {
            for (const auto& [cell, c] : sg[s].spill) sq[cell] += c;
            if (s > 0) {
                for (uint64_t u = 0; u < k; ++u) sg[0].lin[u] += sg[s].lin[u];
            }
        }
        dense_out(sh, std::move(g.cells), std::move(sg[0].lin), target, reuse, rows_out);
    } else if (counted && sh.ordered && rows_out != nullptr) {
        ordered_rows(slices, sh, lin.data(), row_count, *rows_out);
    } else if (counted && sh.ordered && ordered(slices, shapes, sh, lin.data(), target, reuse)) {
        // written
    } else if (k * k <= 4 * sh.pairs + 8192) {
        dense(slices, shapes, sh, target, reuse, rows_out);
    } else if (k <= 4 * n + 4096 && n < (uint64_t{1} << 32)) {
        std::vector<uint32_t*> rows(slices.count());
        std::vector<PodArray<uint32_t>> own;
        if (counted) {
            for (uint32_t s = 0; s < slices.count(); ++s) rows[s] = row_count[s].data() + sh.lo;
        } else {
            count_rows(slices, sh, rows, own);
        }
        sparse(slices, sh, rows, target, reuse, give_back_bytes, rows_out);
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool simplify_plain_quadratic(const ExprImpl& e, ExprImpl* result) {
    return simplify(e, *result, false, UINT64_MAX);
}

bool simplify_plain_quadratic_rows(const ExprImpl& e, QuadraticRows* rows, ExprImpl* result) {
    return simplify(e, *result, false, UINT64_MAX, rows);
}

bool simplify_plain_quadratic_inplace(ExprImpl& e, uint64_t give_back_bytes) {
    return simplify(e, e, true, give_back_bytes);
}

}  // namespace dalo
