#include "transform/simplify.hpp"

#include <boost/sort/block_indirect_sort/block_indirect_sort.hpp>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/expr_ops.hpp"
#include "core/fatal.hpp"
#include "core/parallel.hpp"
#include "core/var_registry.hpp"

namespace dalo {

namespace {

inline bool is_negated(Var v) { return (v & kNegBit) != 0; }

}  // namespace

// ---- work list ----

TermList::TermList(uint64_t capacity) {
    if (capacity > 0) data_ = realloc_terms(nullptr, capacity, 0);
    capacity_ = capacity;
}

TermList::~TermList() {
    free_term_tails(data_, size_);
    std::free(data_);
}

TermList TermList::copy_of(const ExprImpl& e) {
    TermList w(e.term_count());
    if (e.has_inline()) w.data_[w.size_++] = copy_term(e.first);
    copy_terms(w.data_ + w.size_, e.terms, e.count, false);
    w.size_ += e.count;
    return w;
}

TermImpl* TermList::release_buffer(uint64_t keep) {
    TermImpl* p = std::exchange(data_, nullptr);
    size_ = 0;
    if (keep == 0) {
        std::free(p);
        capacity_ = 0;
        return nullptr;
    }
    if (keep < capacity_ / 2) {  // a heavily merged result gives back what it does not use
        void* q = std::realloc(p, keep * sizeof(TermImpl));
        if (q != nullptr) {
            p = static_cast<TermImpl*>(q);
            capacity_ = keep;
        }
    }
    return p;
}

void TermList::push_back(const TermImpl& t) {
    if (size_ == capacity_) {
        uint64_t cap = capacity_ < 4 ? 4 : capacity_ * 2;
        data_ = realloc_terms(data_, cap, size_);
        capacity_ = cap;
    }
    data_[size_++] = t;
}

// ---- variable lists ----

namespace {

// The identifiers of one term, copied out for rewriting.
struct IdBuffer {
    Var small[16];
    std::vector<Var> large;
    Var* ids = small;
    uint32_t n = 0;

    explicit IdBuffer(const VarList& v) {
        n = degree(v);
        if (n > 16) {
            large.resize(n);
            ids = large.data();
        }
        for (uint32_t i = 0; i < n; ++i) ids[i] = var_at(v, i);
    }

    void sort_by_key() {
        for (uint32_t i = 1; i < n; ++i) {
            Var v = ids[i];
            uint32_t j = i;
            for (; j > 0 && sort_key(ids[j - 1]) > sort_key(v); --j) ids[j] = ids[j - 1];
            ids[j] = v;
        }
    }

    // Writes the (possibly shorter) list back; the existing tail has room for it.
    void store(VarList& v) const {
        v.slot0 = n > 0 ? ids[0] : kNoVar;
        v.slot1 = n > 1 ? ids[1] : kNoVar;
        if (n <= 2) {
            free_tail(v);
            return;
        }
        std::memcpy(v.tail, ids + 2, (n - 2) * sizeof(Var));
        v.tail[n - 2] = kNoVar;
    }
};

void sort_vars(VarList& v) {
    if (v.slot1 == kNoVar) return;
    if (quick_degree(v) == 2) {
        if (sort_key(v.slot1) < sort_key(v.slot0)) std::swap(v.slot0, v.slot1);
        return;
    }
    IdBuffer buf(v);
    buf.sort_by_key();
    buf.store(v);
}

// ---- spin rules: s*s = 1, ~s = -s ----

void spin_rewrite(TermImpl& t) {
    if (t.coeff == 0 || t.vars.slot0 == kNoVar) return;
    IdBuffer buf(t.vars);
    uint32_t flips = 0;
    for (uint32_t i = 0; i < buf.n; ++i) {
        if (is_int_atom(buf.ids[i])) {
            fatal(
                "simplify_as_spin(): native integer variables (int_var) are not supported (spin "
                "rules do not apply to integer atoms).");
        }
        if (is_negated(buf.ids[i])) {
            buf.ids[i] &= ~kNegBit;
            ++flips;
        }
    }
    if (flips & 1) t.coeff = neg_coeff(t.coeff);
    buf.sort_by_key();
    uint32_t m = 0;
    for (uint32_t i = 0; i < buf.n;) {
        if (i + 1 < buf.n && buf.ids[i] == buf.ids[i + 1]) {
            i += 2;
        } else {
            buf.ids[m++] = buf.ids[i++];
        }
    }
    buf.n = m;
    buf.store(t.vars);
}

// ---- binary rules: x*x = x, ~x = 1 - x ----

struct SideTerm {
    coeff_t coeff;
    Var var;
};

// Side terms and constant adjustment produced by one rule-phase thread.
struct RuleOutput {
    std::vector<SideTerm> side;
    int64_t adjust = 0;
};

void binary_rules_low(TermImpl& t, RuleOutput& out) {
    const coeff_t c = t.coeff;
    VarList& v = t.vars;
    if (v.slot1 == kNoVar) {  // degree 1
        if (is_negated(v.slot0)) {
            out.adjust += c;
            t.coeff = neg_coeff(c);
            v.slot0 &= ~kNegBit;
        }
        return;
    }
    const Var a = v.slot0, b = v.slot1;
    const bool na = is_negated(a), nb = is_negated(b);
    if (!na && !nb) {
        if (a == b) {
            if (!is_int_atom(a)) v.slot1 = kNoVar;  // x*x = x
        } else if (sort_key(b) < sort_key(a)) {
            std::swap(v.slot0, v.slot1);
        }
        return;
    }
    if (na && nb) {  // (1 - a)(1 - b) = 1 - a - b + ab
        const Var pa = a & ~kNegBit, pb = b & ~kNegBit;
        out.adjust += c;
        if (pa == pb) {
            t.coeff = neg_coeff(c);
            v.slot0 = pa;
            v.slot1 = kNoVar;
            return;
        }
        out.side.push_back({neg_coeff(c), pa});
        out.side.push_back({neg_coeff(c), pb});
        v.slot0 = sort_key(pa) < sort_key(pb) ? pa : pb;
        v.slot1 = sort_key(pa) < sort_key(pb) ? pb : pa;
        return;
    }
    // p(1 - q) = p - pq
    const Var p = na ? b : a, q = (na ? a : b) & ~kNegBit;
    if (p == q) {
        t.coeff = 0;
        return;
    }
    out.side.push_back({c, p});
    t.coeff = neg_coeff(c);
    v.slot0 = sort_key(p) < sort_key(q) ? p : q;
    v.slot1 = sort_key(p) < sort_key(q) ? q : p;
}

void binary_rules(TermImpl& t, RuleOutput& out) {
    if (t.coeff == 0 || t.vars.slot0 == kNoVar) return;
    if (quick_degree(t.vars) >= 3) {
        IdBuffer buf(t.vars);
        buf.sort_by_key();
        uint32_t m = 0;
        for (uint32_t k = 0; k < buf.n;) {
            const Var v = buf.ids[k];
            uint32_t j = k;
            while (j < buf.n && buf.ids[j] == v) ++j;
            if (is_int_atom(v)) {
                while (k < j) buf.ids[m++] = buf.ids[k++];
            } else {
                if (!is_negated(v) && j < buf.n && buf.ids[j] == (v | kNegBit)) {
                    t.coeff = 0;  // x * ~x = 0
                    return;
                }
                buf.ids[m++] = v;
            }
            k = j;
        }
        buf.n = m;
        buf.store(t.vars);
        if (m >= 3) return;
    }
    binary_rules_low(t, out);
}

}  // namespace

// ---- merging ----

namespace {

// Combines w[b, e) in place; returns the end of its output. Degree-0 terms go to *constant.
uint64_t combine_segment(TermImpl* w, uint64_t b, uint64_t e, int64_t* constant) {
    uint64_t out = b;
    for (uint64_t i = b; i < e; ++i) {
        TermImpl& t = w[i];
        if (t.coeff == 0) {
            free_tail(t.vars);
            continue;
        }
        if (t.vars.slot0 == kNoVar) {
            *constant += t.coeff;
            continue;
        }
        if (out > b && same_vars(w[out - 1].vars, t.vars)) {
            TermImpl& last = w[out - 1];
            last.coeff = wrap_coeff(int64_t{last.coeff} + t.coeff);
            free_tail(t.vars);
            if (last.coeff == 0) {
                free_tail(last.vars);
                --out;
            }
            continue;
        }
        w[out++] = t;
    }
    return out;
}

struct Segment {
    uint64_t begin = 0;
    uint64_t end = 0;
    bool empty() const { return begin == end; }
};

}  // namespace

namespace {

// Combines a work list of terms without tails that is in term order: one pass, the first
// output term inline and the others written over the consumed front of the list, which
// becomes the tail array.
ExprImpl combine_sorted_small(TermList& work, energy_t constant) {
    const uint64_t n = work.size();
    TermImpl* w = work.data();
    ExprImpl r(constant);
    uint64_t at = 0;
    bool inline_done = false;
    for (uint64_t i = 0; i < n;) {
        const TermImpl t = w[i];
        int64_t sum = 0;
        uint64_t j = i;
        for (; j < n && w[j].vars.slot0 == t.vars.slot0 && w[j].vars.slot1 == t.vars.slot1; ++j)
            sum += w[j].coeff;
        i = j;
        const coeff_t c = wrap_coeff(sum);
        if (t.vars.slot0 == kNoVar) {
            r.constant = wrap_add(r.constant, sum);
        } else if (c != 0) {
            // Outputs never pass inputs: each one consumed at least one entry.
            if (inline_done) {
                w[at++] = TermImpl{c, t.vars};
            } else {
                r.first = TermImpl{c, t.vars};
                inline_done = true;
            }
        }
    }
    work.disown();  // no tails to release
    r.terms = work.release_buffer(at);
    r.count = at;
    r.capacity = at == 0 ? 0 : std::max(at, work.capacity());
    return r;
}

struct SmallTerm {
    Var a;
    Var b;
    coeff_t coeff;
};

// Sorts a work list of terms without tails into term order by counting on variable
// indexes: degree 0 first, degree 1 by its variable, degree 2 by the second variable and
// then, stably, by the first. Returns false, leaving the list as it was, when a term has a
// tail, a negated literal or an integer atom, or when the variables far outnumber the terms.
bool counting_sort_small(TermList& work) {
    const uint64_t n = work.size();
    const uint64_t nvars = var_registry().count();
    if (nvars > 4 * n + 4096) return false;
    TermImpl* w = work.data();
    std::vector<uint64_t> first(nvars + 1, 0), second(nvars + 1, 0), single(nvars + 1, 0);
    uint64_t n0 = 0, n1 = 0, n2 = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const Var a = w[i].vars.slot0, b = w[i].vars.slot1;
        if (w[i].vars.tail != nullptr) return false;
        if (a == kNoVar) {
            ++n0;
        } else if (a >= nvars) {
            return false;
        } else if (b == kNoVar) {
            ++single[a + 1];
            ++n1;
        } else if (b >= nvars) {
            return false;
        } else {
            ++first[a + 1];
            ++second[b + 1];
            ++n2;
        }
    }
    for (uint64_t v = 0; v < nvars; ++v) {
        single[v + 1] += single[v];
        first[v + 1] += first[v];
        second[v + 1] += second[v];
    }
    std::vector<SmallTerm> by_second(n2), out(n0 + n1 + n2);
    uint64_t constants = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const TermImpl& t = w[i];
        const Var a = t.vars.slot0, b = t.vars.slot1;
        if (a == kNoVar) {
            out[constants++] = SmallTerm{a, b, t.coeff};
        } else if (b == kNoVar) {
            out[n0 + single[a]++] = SmallTerm{a, b, t.coeff};
        } else {
            by_second[second[b]++] = SmallTerm{a, b, t.coeff};
        }
    }
    SmallTerm* quadratic = out.data() + n0 + n1;
    for (const SmallTerm& t : by_second) quadratic[first[t.a]++] = t;
    for (uint64_t i = 0; i < n; ++i) w[i] = TermImpl{out[i].coeff, {out[i].a, out[i].b, nullptr}};
    return true;
}

}  // namespace

ExprImpl merge_terms(TermList& work, energy_t constant) {
    const uint64_t n = work.size();
    ExprImpl r(constant);
    if (n == 0) return r;
    TermImpl* w = work.data();

    // Terms of degree at most 2 (no tails) are combined in one pass when they are already in
    // order (a form built row by row, an earlier result), or after a counting sort on
    // variable indexes when every variable is a plain binary one.
    // The scan stops at the first pair out of order.
    bool small = true, sorted = true;
    for (uint64_t i = 0; i < n; ++i) {
        small = small && w[i].vars.tail == nullptr;
        if (i > 0 && term_less(w[i], w[i - 1])) {
            sorted = false;
            break;
        }
    }
    if (sorted ? small : counting_sort_small(work)) return combine_sorted_small(work, constant);
    auto less = [](const TermImpl& a, const TermImpl& b) { return term_less(a, b); };
    if (!sorted) {
        const uint32_t sort_threads = in_parallel_region() ? 1 : thread_budget();
        boost::sort::block_indirect_sort(w, w + n, less, sort_threads);
    }

    const uint32_t cap = in_parallel_region() ? 1 : thread_cap(n);
    const uint32_t segs = (n <= kSerialLimit || cap < 2) ? 1 : cap;
    const uint64_t size = (n + segs - 1) / segs;
    std::vector<Segment> seg(segs);
    std::vector<int64_t> seg_constant(segs, 0);
    auto run = [&](uint64_t s) {
        const uint64_t b = std::min(n, s * size), e = std::min(n, b + size);
        seg[s] = Segment{b, combine_segment(w, b, e, &seg_constant[s])};
    };
    if (segs == 1) {
        run(0);
    } else {
        std::atomic<uint32_t> next{0};
        detail::run_own_threads(segs, [&] {
            for (uint32_t s; (s = next.fetch_add(1)) < segs;) run(s);
        });
    }

    // Boundaries: the last surviving term so far meets the first term of the next segment.
    Segment* prev = nullptr;
    for (Segment& s : seg) {
        if (s.empty()) continue;
        if (prev != nullptr) {
            TermImpl& last = w[prev->end - 1];
            TermImpl& first = w[s.begin];
            if (same_vars(last.vars, first.vars)) {
                first.coeff = wrap_coeff(int64_t{first.coeff} + last.coeff);
                free_tail(last.vars);
                --prev->end;
                if (first.coeff == 0) {
                    free_tail(first.vars);
                    ++s.begin;
                }
            }
        }
        if (!s.empty()) prev = &s;
    }

    for (int64_t c : seg_constant) r.constant = wrap_add(r.constant, c);
    std::vector<uint64_t> offset(segs + 1, 0);
    for (uint32_t s = 0; s < segs; ++s) offset[s + 1] = offset[s] + (seg[s].end - seg[s].begin);
    const uint64_t total = offset[segs];
    // The first output term goes inline; the others move to the front of the work array,
    // which becomes the tail array: no new memory, one pass of moves in warm cache lines.
    work.disown();  // every surviving tail moves into the result below
    if (total == 0) return r;
    uint32_t first_seg = 0;
    while (seg[first_seg].empty()) ++first_seg;
    r.first = w[seg[first_seg].begin++];
    uint64_t at = 0;
    for (const Segment& sg : seg) {
        // Destinations never pass their sources: outputs never outnumber inputs.
        std::memmove(w + at, w + sg.begin, (sg.end - sg.begin) * sizeof(TermImpl));
        at += sg.end - sg.begin;
    }
    r.terms = work.release_buffer(at);
    r.count = at;
    r.capacity = at == 0 ? 0 : std::max(at, work.capacity());
    return r;
}

// ---- the three simplifications ----

namespace {

// Whether every rule leaves e as it is: each term non-zero, of one or two plain binary
// variables in ascending order, and the terms strictly in term order. The scan stops at the
// first term that fails.
bool already_canonical(const ExprImpl& e) {
    const TermImpl* prev = nullptr;
    const uint64_t n = e.term_count();
    for (uint64_t i = 0; i < n; ++i) {
        const TermImpl& t = e.term(i);
        const Var a = t.vars.slot0, b = t.vars.slot1;
        const Var bits = (a | (b == kNoVar ? 0u : b)) & (kNegBit | kIntBit);
        if (t.coeff == 0 || t.vars.tail != nullptr || a == kNoVar || bits != 0) return false;
        if (b != kNoVar && !(a < b)) return false;
        if (prev != nullptr && !term_less(*prev, t)) return false;
        prev = &t;
    }
    return true;
}

}  // namespace

ExprImpl expr_simplify(const ExprImpl& e) {
    if (e.term_count() == 0) return ExprImpl(e.constant);
    if (already_canonical(e)) return ExprImpl(e, kAttrPlain);
    TermList w = TermList::copy_of(e);
    TermImpl* t = w.data();
    par_for_impl(w.size(), w.size(), [t](uint64_t i) { sort_vars(t[i].vars); });
    return merge_terms(w, e.constant);
}

ExprImpl expr_simplify_as_spin(const ExprImpl& e) {
    if (e.term_count() == 0) return ExprImpl(e.constant);
    if (already_canonical(e)) return ExprImpl(e, kAttrPlain);
    TermList w = TermList::copy_of(e);
    TermImpl* t = w.data();
    par_for_impl(w.size(), w.size(), [t](uint64_t i) { spin_rewrite(t[i]); });
    return merge_terms(w, e.constant);
}

void expr_simplify_as_binary_inplace(ExprImpl& e) {
    if (e.term_count() == 0 || already_canonical(e) || simplify_plain_quadratic_inplace(e)) return;
    const uint32_t attr = e.attr;
    e = expr_simplify_as_binary(e);
    e.attr = attr;
}

ExprImpl expr_simplify_as_binary(const ExprImpl& e) {
    if (e.term_count() == 0) return ExprImpl(e.constant);
    if (already_canonical(e)) return ExprImpl(e, kAttrPlain);
    if (ExprImpl r; simplify_plain_quadratic(e, &r)) return r;
    const uint64_t n = e.term_count();
    TermList w(n);
    TermImpl* t = w.data();
    // Each term is copied and rewritten in one pass over memory.
    const uint64_t shift = e.has_inline() ? 1 : 0;
    auto rewrite = [&](uint64_t i, RuleOutput& out) {
        const TermImpl& src = i < shift ? e.first : e.terms[i - shift];
        t[i] = src;
        if (src.vars.tail != nullptr) t[i].vars = copy_vars(src.vars);
        binary_rules(t[i], out);
    };

    const uint32_t threads = in_parallel_region() ? 1 : thread_budget();
    std::vector<RuleOutput> outputs;
    if (threads > 1 && n > kSerialLimit) {
        const uint64_t chunks = std::min<uint64_t>(4ull * threads, n);
        const uint64_t size = (n + 4ull * threads - 1) / (4ull * threads);
        outputs.resize(threads);
        std::atomic<uint64_t> next_chunk{0};
        std::atomic<uint32_t> next_slot{0};
        detail::run_own_threads(threads, [&] {
            RuleOutput& out = outputs[next_slot.fetch_add(1)];
            for (uint64_t c; (c = next_chunk.fetch_add(1, std::memory_order_relaxed)) < chunks;) {
                const uint64_t b = std::min(n, c * size), end = std::min(n, b + size);
                for (uint64_t i = b; i < end; ++i) rewrite(i, out);
            }
        });
    } else {
        outputs.resize(1);
        for (uint64_t i = 0; i < n; ++i) rewrite(i, outputs[0]);
    }
    w.adopt(n);

    int64_t constant = e.constant;
    std::vector<SideTerm> side;
    for (RuleOutput& o : outputs) {
        constant = wrap_add(constant, o.adjust);
        side.insert(side.end(), o.side.begin(), o.side.end());
    }
    if (!side.empty()) {
        boost::sort::block_indirect_sort(
            side.begin(), side.end(),
            [](const SideTerm& a, const SideTerm& b) { return a.var < b.var; }, threads);
        for (size_t i = 0; i < side.size();) {
            const Var v = side[i].var;
            int64_t sum = 0;
            for (; i < side.size() && side[i].var == v; ++i) sum += side[i].coeff;
            if (wrap_coeff(sum) != 0) w.push_back(var_term(sum, v));
        }
    }
    return merge_terms(w, constant);
}

}  // namespace dalo
