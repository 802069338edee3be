// Binary simplification of the commonest form, terms of degree at most 2 over plain binary
// variables: coefficients are summed straight from the input into arrays keyed by variable
// index, so the input is read twice and never copied or sorted as records.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/pod_array.hpp"
#include "core/var_registry.hpp"
#include "transform/simplify.hpp"

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
};

struct Pair {
    Var v;
    uint32_t c;
};

// Calls f(a, b, c) for every non-zero term of degree 1 (b == a) or 2 (a < b), after the
// first pass found the expression plain.
template <class F>
void for_each_product(const ExprImpl& e, F&& f) {
    e.for_each_term([&](const TermImpl& t) {
        if (t.coeff == 0 || t.vars.slot0 == kNoVar) return;
        const Var a = t.vars.slot0, b = t.vars.slot1;
        const uint32_t c = static_cast<uint32_t>(t.coeff);
        if (b == kNoVar || b == a) {
            f(a, a, c);
        } else if (a < b) {
            f(a, b, c);
        } else {
            f(b, a, c);
        }
    });
}

// The first output term goes inline, the others to the tail array in order.
class Emitter {
  public:
    Emitter(ExprImpl& r, uint64_t most) : r_(r) {
        if (most > 1) tail_.resize_uninitialized(most - 1);
        most_ = most;
    }
    void put(uint32_t c, Var a, Var b) {
        TermImpl& t = started_ ? tail_[at_++] : r_.first;
        started_ = true;
        t.coeff = static_cast<coeff_t>(c);
        t.vars.slot0 = a;
        t.vars.slot1 = b;
        t.vars.tail = nullptr;
    }
    // Hands the tail to the expression, shrunk when mostly unused.
    void finish() {
        if (at_ == 0) return;
        uint64_t cap = most_ - 1;
        TermImpl* p = tail_.release();
        if (at_ < cap / 2) {
            if (void* q = std::realloc(p, at_ * sizeof(TermImpl))) {
                p = static_cast<TermImpl*>(q);
                cap = at_;
            }
        }
        r_.terms = p;
        r_.count = at_;
        r_.capacity = cap;
    }

  private:
    ExprImpl& r_;
    PodArray<TermImpl> tail_;
    uint64_t most_ = 0;
    uint64_t at_ = 0;
    bool started_ = false;
};

Shape scan(const ExprImpl& e, uint64_t nvars, uint32_t* row_count) {
    Shape s;
    s.constant = e.constant;
    e.for_each_term([&](const TermImpl& t) {
        if (!s.plain || t.coeff == 0) return;
        const Var a = t.vars.slot0, b = t.vars.slot1;
        if (t.vars.tail != nullptr) {
            s.plain = false;
        } else if (a == kNoVar) {
            s.plain = b == kNoVar;
            s.constant = wrap_add(s.constant, t.coeff);
        } else if ((a & kSpecialBits) != 0 || a >= nvars) {
            s.plain = false;
        } else if (b == kNoVar || b == a) {
            ++s.linear;
            s.lo = std::min(s.lo, a);
            s.hi = std::max(s.hi, a);
        } else if ((b & kSpecialBits) != 0 || b >= nvars) {
            s.plain = false;
        } else {
            ++s.pairs;
            const Var u = std::min(a, b), v = std::max(a, b);
            s.lo = std::min(s.lo, u);
            s.hi = std::max(s.hi, v);
            if (row_count != nullptr) ++row_count[u];
        }
    });
    return s;
}

// Few identifiers for many pairs: one cell per ordered pair (a, b) as the term has them, so
// rows of a product fill row by row; cells (u, v) and (v, u) are added when the terms go
// out, where the column reads of nearby rows share cache lines.
ExprImpl dense(const ExprImpl& e, const Shape& s) {
    const uint64_t k = uint64_t{s.hi} - s.lo + 1;
    PodArray<uint32_t> lin = PodArray<uint32_t>::zeroed(k);
    PodArray<uint32_t> cell = PodArray<uint32_t>::zeroed(k * k);
    uint32_t* sq = cell.data();
    const Var lo = s.lo;
    e.for_each_term([&](const TermImpl& t) {
        if (t.coeff == 0 || t.vars.slot0 == kNoVar) return;
        const uint64_t a = t.vars.slot0 - lo;
        const uint32_t c = static_cast<uint32_t>(t.coeff);
        if (t.vars.slot1 == kNoVar) {
            lin[a] += c;
        } else {
            sq[a * k + (t.vars.slot1 - lo)] += c;
        }
    });
    for (uint64_t u = 0; u < k; ++u) {
        lin[u] += sq[u * k + u];
        sq[u * k + u] = 0;
    }
    uint64_t total = 0;
    for (uint64_t u = 0; u < k; ++u) {
        total += lin[u] != 0;
        for (uint64_t v = u + 1; v < k; ++v) total += sq[u * k + v] + sq[v * k + u] != 0;
    }

    ExprImpl r(s.constant);
    Emitter out(r, total);
    for (uint64_t u = 0; u < k; ++u) {
        if (lin[u] != 0) out.put(lin[u], lo + static_cast<Var>(u), kNoVar);
    }
    for (uint64_t u = 0; u + 1 < k; ++u) {
        for (uint64_t v = u + 1; v < k; ++v) {
            const uint32_t c = sq[u * k + v] + sq[v * k + u];
            if (c != 0) out.put(c, lo + static_cast<Var>(u), lo + static_cast<Var>(v));
        }
    }
    out.finish();
    return r;
}

// Many identifiers: pairs bucketed by their first variable, each bucket sorted and merged.
ExprImpl sparse(const ExprImpl& e, const Shape& s, uint64_t nvars, const uint32_t* row_count) {
    PodArray<uint64_t> start(nvars + 1);
    start[0] = 0;
    for (uint64_t u = 0; u < nvars; ++u) start[u + 1] = start[u] + row_count[u];
    PodArray<uint64_t> fill(nvars);
    std::memcpy(fill.data(), start.data(), nvars * sizeof(uint64_t));
    PodArray<Pair> pairs(s.pairs);
    PodArray<uint32_t> lin = PodArray<uint32_t>::zeroed(nvars);
    for_each_product(e, [&](Var a, Var b, uint32_t c) {
        if (a == b) {
            lin[a] += c;
        } else {
            pairs[fill[a]++] = Pair{b, c};
        }
    });
    fill = PodArray<uint64_t>();

    ExprImpl r(s.constant);
    Emitter out(r, s.linear + s.pairs);
    for (uint64_t u = s.lo; u <= s.hi; ++u) {
        if (lin[u] != 0) out.put(lin[u], static_cast<Var>(u), kNoVar);
    }
    lin = PodArray<uint32_t>();
    for (uint64_t u = s.lo; u <= s.hi; ++u) {
        Pair* b = pairs.data() + start[u];
        Pair* end = pairs.data() + start[u + 1];
        if (b == end) continue;
        bool ordered = true;
        for (Pair* p = b + 1; p < end && ordered; ++p) ordered = p[-1].v <= p->v;
        if (!ordered) std::sort(b, end, [](const Pair& x, const Pair& y) { return x.v < y.v; });
        for (Pair* p = b; p < end;) {
            const Var v = p->v;
            uint32_t c = 0;
            for (; p < end && p->v == v; ++p) c += p->c;
            if (c != 0) out.put(c, static_cast<Var>(u), v);
        }
    }
    out.finish();
    return r;
}

}  // namespace

bool simplify_plain_quadratic(const ExprImpl& e, ExprImpl* result) {
    const uint64_t n = e.term_count();
    const uint64_t nvars = var_registry().count();
    const bool counted = nvars <= 4 * n + 4096 && n < (uint64_t{1} << 32);  // row counts fit
    PodArray<uint32_t> row_count =
        counted ? PodArray<uint32_t>::zeroed(nvars) : PodArray<uint32_t>();
    const Shape s = scan(e, nvars, row_count.data());
    if (!s.plain) return false;
    if (s.linear + s.pairs == 0) {
        *result = ExprImpl(s.constant);
        return true;
    }
    const uint64_t k = uint64_t{s.hi} - s.lo + 1;
    if (k * k <= 4 * s.pairs + 8192) {
        *result = dense(e, s);
        return true;
    }
    if (!counted) return false;
    *result = sparse(e, s, nvars, row_count.data());
    return true;
}

}  // namespace dalo
