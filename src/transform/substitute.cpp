#include "transform/substitute.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "constraints/attr_rules.hpp"
#include "constraints/carry.hpp"
#include "constraints/registry.hpp"
#include "core/fatal.hpp"
#include "core/parallel.hpp"

namespace dalo {

// ---- factors ----

uint32_t FactorTable::add(const ExprImpl& x) {
    Factor f{x.constant, terms_.size(), 0, 0, carries_declared(x.attr)};
    x.for_each_term([&](const TermImpl& t) {
        const uint32_t d = degree(t);
        terms_.push_back(Term{t.coeff, d, vars_.size()});
        for (uint32_t i = 0; i < d; ++i) vars_.push_back(var_at(t.vars, i));
        ++f.count;
        f.var_total += d;
    });
    factors_.push_back(f);
    return static_cast<uint32_t>(factors_.size() - 1);
}

uint32_t FactorTable::add_encoding(energy_t constant,
                                   const std::vector<std::pair<Var, coeff_t>>& bits) {
    Factor f{constant, terms_.size(), bits.size(), bits.size(), false};
    for (const auto& [bit, coeff] : bits) {
        terms_.push_back(Term{coeff, 1, vars_.size()});
        vars_.push_back(bit);
    }
    factors_.push_back(f);
    return static_cast<uint32_t>(factors_.size() - 1);
}

// ---- one term as a product ----

namespace {

inline Var* put_vars(Var* out, const Var* v, uint32_t d) {
    for (uint32_t i = 0; i < d; ++i) out[i] = v[i];
    return out + d;
}

}  // namespace

void TermExpander::prepare(uint64_t items, uint64_t vars) {
    if (next_.size() < items) next_.resize(std::max<uint64_t>(items, 2 * next_.size()));
    if (next_vars_.size() < vars) {
        next_vars_.resize(std::max<uint64_t>(vars, 2 * next_vars_.size()));
    }
}

void TermExpander::flip(uint64_t items, uint64_t vars) {
    cur_.swap(next_);
    cur_vars_.swap(next_vars_);
    items_ = items;
    var_total_ = vars;
}

void TermExpander::mul_var(Var v) {
    const bool lead = constant_ != 0;
    const uint64_t items = items_ + (lead ? 1 : 0);
    prepare(items, var_total_ + items);
    Item* out = next_.data();
    Var* const base = next_vars_.data();
    Var* ov = base;
    if (lead) {
        *out++ = Item{wrap_coeff(constant_), 1, 0};
        *ov++ = v;
    }
    const Var* cv = cur_vars_.data();
    for (uint64_t i = 0; i < items_; ++i) {
        const Item& t = cur_[i];
        *out++ = Item{t.coeff, t.degree + 1, static_cast<uint64_t>(ov - base)};
        ov = put_vars(ov, cv + t.offset, t.degree);
        *ov++ = v;
    }
    constant_ = 0;
    flip(items, static_cast<uint64_t>(ov - base));
}

void TermExpander::mul_factor(const FactorTable& table, const FactorTable::Factor& f) {
    const bool lead = constant_ != 0, side = f.constant != 0;
    const uint64_t m = items_, k = f.count;
    const uint64_t items = (lead ? k : 0) + (side ? m : 0) + m * k;
    const uint64_t vars =
        (lead ? f.var_total : 0) + (side ? var_total_ : 0) + m * f.var_total + k * var_total_;
    prepare(items, vars);
    const FactorTable::Term* ft = table.terms() + f.first;
    const Var* fv = table.vars();
    const Var* cv = cur_vars_.data();
    Item* out = next_.data();
    Var* const base = next_vars_.data();
    Var* ov = base;
    if (lead) {
        for (uint64_t j = 0; j < k; ++j) {
            *out++ = Item{mul_coeff(constant_, ft[j].coeff), ft[j].degree,
                          static_cast<uint64_t>(ov - base)};
            ov = put_vars(ov, fv + ft[j].offset, ft[j].degree);
        }
    }
    if (side) {
        for (uint64_t i = 0; i < m; ++i) {
            const Item& t = cur_[i];
            *out++ =
                Item{mul_coeff(f.constant, t.coeff), t.degree, static_cast<uint64_t>(ov - base)};
            ov = put_vars(ov, cv + t.offset, t.degree);
        }
    }
    for (uint64_t i = 0; i < m; ++i) {
        const Item& t = cur_[i];
        for (uint64_t j = 0; j < k; ++j) {
            *out++ = Item{mul_coeff(t.coeff, ft[j].coeff), t.degree + ft[j].degree,
                          static_cast<uint64_t>(ov - base)};
            ov = put_vars(ov, cv + t.offset, t.degree);
            ov = put_vars(ov, fv + ft[j].offset, ft[j].degree);
        }
    }
    constant_ = wrap_mul(constant_, f.constant);
    flip(items, static_cast<uint64_t>(ov - base));
}

TermImpl TermExpander::to_term(const Item& t, const Var* v) {
    switch (t.degree) {
        case 0:
            return TermImpl{t.coeff, {kNoVar, kNoVar, nullptr}};
        case 1:
            return TermImpl{t.coeff, {v[0], kNoVar, nullptr}};
        case 2:
            return TermImpl{t.coeff, {v[0], v[1], nullptr}};
        default:
            return TermImpl{t.coeff, make_vars(v, t.degree)};
    }
}

void TermExpander::add_to(ExprImpl& r) const {
    r.constant = wrap_add(r.constant, constant_);
    emit([&r](const TermImpl& t) { r.append_owned(t); });
}

// ---- substitution ----

SubstMap::SubstMap(const Var* vars, const ExprImpl* const* repl, uint64_t n) : index_(vars, n, 0) {
    // From the last pair backwards, so the first pair met for an identifier is the one that
    // wins; only winning replacements are flattened.
    for (uint64_t i = n; i-- > 0;) {
        if (vars[i] == kNoVar || index_.get(vars[i]) != 0) continue;
        const uint32_t k = table_.add(*repl[i]);
        const FactorTable::Factor& f = table_.factor(k);
        const FactorTable::Term* ft = table_.terms() + f.first;
        Shape shape{f.constant, f.count, linear_.size(), f.declared};
        for (uint64_t j = 0; j < f.count && shape.linear != kNotLinear; ++j) {
            if (ft[j].degree != 1) shape.linear = kNotLinear;
        }
        if (shape.linear != kNotLinear) {
            for (uint64_t j = 0; j < f.count; ++j) {
                linear_.push_back(LinearTerm{ft[j].coeff, table_.vars()[ft[j].offset]});
            }
        }
        shapes_.push_back(shape);
        index_.insert(vars[i], (k + 1) | (shape.linear == kNotLinear ? kGeneral : 0));
    }
}

namespace {

// Calls f(id) for the identifiers of v in order while f returns true.
template <class F>
inline bool each_var(const VarList& v, F&& f) {
    if (v.slot0 == kNoVar) return true;
    if (!f(v.slot0)) return false;
    if (v.slot1 == kNoVar) return true;
    if (!f(v.slot1)) return false;
    if (v.tail != nullptr) {
        for (const Var* q = v.tail; *q != kNoVar; ++q) {
            if (!f(*q)) return false;
        }
    }
    return true;
}

// Calls f(term) for the terms numbered [b, end).
template <class F>
void for_terms_in(const ExprImpl& e, uint64_t b, uint64_t end, F&& f) {
    const uint64_t off = e.has_inline() ? 1 : 0;
    if (off == 1 && b == 0 && end > 0) {
        f(e.first);
        b = 1;
    }
    for (uint64_t i = b; i < end; ++i) f(e.terms[i - off]);
}

// What the substitutions of a range of terms contribute.
struct Tally {
    uint64_t terms = 0;
    uint64_t constant = 0;  // wrapping sum
    bool refused = false;   // a replacement with declared constraints would be multiplied
};

// Counts the terms of coeff * factor_1 * ... and adds its constant, following the product's
// rules: p.constant * f gives count(f) terms when p.constant is non-zero, f.constant * p gives
// count(p) when f.constant is non-zero, and the blocks count(p) * count(f).
Tally tally_range(const ExprImpl& e, uint64_t b, uint64_t end, const SubstMap& m) {
    uint64_t terms = 0, constant = 0;
    bool refused = false;
    for_terms_in(e, b, end, [&](const TermImpl& t) {
        int64_t p = t.coeff;
        uint64_t items = 0;
        each_var(t.vars, [&](Var id) {
            const SubstMap::Shape& f = m.shape(m.slot(id));
            items = (p != 0 ? f.count : 0) + (f.constant != 0 ? items : 0) + items * f.count;
            p = wrap_mul(p, f.constant);
            refused |= f.declared;
            return true;
        });
        terms += items;
        constant += static_cast<uint64_t>(p);
    });
    return Tally{terms, constant, refused};
}

// Writes terms in output order; the first output term of the whole result is the inline one.
struct Sink {
    TermImpl* first;
    TermImpl* next;
    void put(const TermImpl& t) {
        if (first != nullptr) {
            *first = t;
            first = nullptr;
        } else {
            *next++ = t;
        }
    }
};

// c * a * b for non-zero c with a or b replaced (slot non-zero) by linear factors; the
// constant went to the tally.
inline void fill_linear_quadratic(coeff_t c, Var a, uint32_t sa, Var b, uint32_t sb,
                                  const SubstMap& m, Sink& out) {
    const SubstMap::LinearTerm* lt = m.linear();
    if (sa == 0) {  // (c * a) * g: g.constant * c * a, then c * a * g_j
        const SubstMap::Shape& g = m.shape(sb);
        const SubstMap::LinearTerm* gt = lt + g.linear;
        if (g.constant != 0) out.put(TermImpl{mul_coeff(g.constant, c), {a, kNoVar, nullptr}});
        for (uint64_t j = 0; j < g.count; ++j) {
            out.put(TermImpl{mul_coeff(c, gt[j].coeff), {a, gt[j].var, nullptr}});
        }
        return;
    }
    const SubstMap::Shape& f = m.shape(sa);
    const SubstMap::LinearTerm* ft = lt + f.linear;
    const int64_t p = wrap_mul(c, f.constant);
    if (sb == 0) {  // (c * f) * b: p * b, then c * f_i * b
        if (p != 0) out.put(TermImpl{wrap_coeff(p), {b, kNoVar, nullptr}});
        for (uint64_t i = 0; i < f.count; ++i) {
            out.put(TermImpl{mul_coeff(c, ft[i].coeff), {ft[i].var, b, nullptr}});
        }
        return;
    }
    // (c * f) * g: p * g_j, then g.constant * c * f_i, then c * f_i * g_j
    const SubstMap::Shape& g = m.shape(sb);
    const SubstMap::LinearTerm* gt = lt + g.linear;
    if (p != 0) {
        for (uint64_t j = 0; j < g.count; ++j) {
            out.put(TermImpl{mul_coeff(p, gt[j].coeff), {gt[j].var, kNoVar, nullptr}});
        }
    }
    if (g.constant != 0) {
        for (uint64_t i = 0; i < f.count; ++i) {
            out.put(TermImpl{mul_coeff(g.constant, mul_coeff(c, ft[i].coeff)),
                             {ft[i].var, kNoVar, nullptr}});
        }
    }
    for (uint64_t i = 0; i < f.count; ++i) {
        const coeff_t ci = mul_coeff(c, ft[i].coeff);
        for (uint64_t j = 0; j < g.count; ++j) {
            out.put(TermImpl{mul_coeff(ci, gt[j].coeff), {ft[i].var, gt[j].var, nullptr}});
        }
    }
}

void fill_general(const TermImpl& t, const SubstMap& m, TermExpander& x, Sink& out) {
    const VarList& v = t.vars;
    bool any = false;
    each_var(v, [&](Var id) {
        any = m.slot(id) != 0;
        return !any;
    });
    if (!any) {
        // coeff * v1 * ... * vd is the term itself; without variables it went to the constant.
        if (t.coeff != 0 && v.slot0 != kNoVar) out.put(copy_term(t));
        return;
    }
    x.start(t.coeff);
    each_var(v, [&](Var id) {
        const uint32_t s = m.slot(id);
        if (s == 0) {
            x.mul_var(id);
        } else {
            x.mul_factor(m.table(), m.factor(s));
        }
        return true;
    });
    x.emit([&out](const TermImpl& o) { out.put(o); });
}

// The terms numbered [b, end) into out; quadratic terms over variables and linear factors take
// the short way, every other term the general product.
void fill_range(const ExprImpl& e, uint64_t b, uint64_t end, const SubstMap& m, Sink out) {
    TermExpander x;
    for_terms_in(e, b, end, [&](const TermImpl& t) {
        const VarList& v = t.vars;
        if (v.slot1 != kNoVar && (v.tail == nullptr || v.tail[0] == kNoVar)) {
            const uint32_t sa = m.slot(v.slot0), sb = m.slot(v.slot1);
            if (t.coeff == 0) return;  // a zero coefficient multiplies to nothing
            if ((sa | sb) == 0) {
                out.put(TermImpl{t.coeff, {v.slot0, v.slot1, nullptr}});
                return;
            }
            if (((sa | sb) & SubstMap::kGeneral) == 0) {
                fill_linear_quadratic(t.coeff, v.slot0, sa, v.slot1, sb, m, out);
                return;
            }
        }
        fill_general(t, m, x, out);
    });
}

// body(c) for every chunk c: inline, or pulled from a shared counter by threads of their own.
template <class Body>
void for_chunks(uint32_t threads, uint64_t chunks, Body&& body) {
    if (threads < 2) {
        for (uint64_t c = 0; c < chunks; ++c) body(c);
        return;
    }
    std::atomic<uint64_t> counter{0};
    detail::run_own_threads(threads, [&] {
        for (uint64_t c; (c = counter.fetch_add(1, std::memory_order_relaxed)) < chunks;) body(c);
    });
}

// Appending a zero-coefficient term to an empty inline slot leaves it invisible, and the next
// term takes its place: the first non-zero output term is the inline one.
void settle_inline(ExprImpl& r) {
    if (r.first.coeff != 0) return;
    free_tail(r.first.vars);
    uint64_t f = 0;
    while (f < r.count && r.terms[f].coeff == 0) free_tail(r.terms[f++].vars);
    if (f == r.count) {
        r.first = TermImpl{};
        r.count = 0;
        return;
    }
    r.first = r.terms[f];
    std::memmove(r.terms, r.terms + f + 1, (r.count - f - 1) * sizeof(TermImpl));
    r.count -= f + 1;
}

}  // namespace

ExprImpl expr_replace_plain(const ExprImpl& e, const SubstMap& m) {
    // Two passes over the same chunks: the first counts every chunk's output terms and adds up
    // the constants, the second writes each chunk's terms at their final place. The result is
    // the serial one whatever the number of threads.
    const uint64_t n = e.term_count();
    uint32_t threads = thread_budget();
    if (threads < 2 || n <= kSerialLimit || in_parallel_region()) threads = 1;
    const uint64_t chunks = threads == 1 ? (n > 0 ? 1 : 0) : std::min<uint64_t>(4ull * threads, n);
    const uint64_t size = chunks == 0 ? 0 : (n + chunks - 1) / chunks;
    auto range = [&](uint64_t c) {
        return std::pair<uint64_t, uint64_t>{std::min(n, c * size), std::min(n, (c + 1) * size)};
    };

    std::vector<Tally> tally(chunks);
    for_chunks(threads, chunks, [&](uint64_t c) {
        auto [b, end] = range(c);
        tally[c] = tally_range(e, b, end, m);
    });
    uint64_t total = 0, constant = static_cast<uint64_t>(e.constant);
    std::vector<uint64_t> offset(chunks);
    for (uint64_t c = 0; c < chunks; ++c) {
        if (tally[c].refused) refuse_declared_op("* expr");
        offset[c] = total;
        total += tally[c].terms;
        constant += tally[c].constant;
    }

    ExprImpl r(static_cast<energy_t>(constant));
    if (total == 0) return r;
    if (total > 1) {
        r.terms = realloc_terms(nullptr, total - 1, 0);
        r.capacity = total - 1;
    }
    try {
        for_chunks(threads, chunks, [&](uint64_t c) {
            if (tally[c].terms == 0) return;
            auto [b, end] = range(c);
            fill_range(e, b, end, m,
                       Sink{offset[c] == 0 ? &r.first : nullptr,
                            r.terms + (offset[c] == 0 ? 0 : offset[c] - 1)});
        });
    } catch (...) {
        // Only an allocation can fail: the tails already made are left behind, never freed
        // twice, and r is released as empty.
        r.first = TermImpl{};
        std::free(r.terms);
        r.terms = nullptr;
        r.capacity = 0;
        throw;
    }
    r.count = total - 1;
    settle_inline(r);
    return r;
}

ExprImpl expr_replace(const ExprImpl& e, const SubstMap& m) {
    ExprImpl r = expr_replace_plain(e, m);
    if (carries_declared(e.attr)) {
        r.attr = carry_records(
            e.attr, [&m](const ExprImpl& x) { return expr_replace(x, m); }, true);
    }
    return r;
}

// ---- evaluation ----

namespace {

constexpr const char* kMissing = "eval: variable not found in mapping";

// Adds the values of the terms numbered [b, end) to sum; false when a variable is missing.
// Unsigned arithmetic gives the 64-bit two's complement result without overflow traps.
bool eval_range(const ExprImpl& e, const VarTable<int64_t>& map, uint64_t b, uint64_t end,
                uint64_t& sum) {
    bool ok = true;
    uint64_t acc = 0;
    for_terms_in(e, b, end, [&](const TermImpl& t) {
        if (!ok) return;
        uint64_t p = static_cast<uint64_t>(static_cast<int64_t>(t.coeff));
        ok = each_var(t.vars, [&](Var v) {
            const int64_t* x = map.find(v & ~kNegBit);
            if (x == nullptr) return false;
            const uint64_t value = static_cast<uint64_t>(*x);
            p *= (v & kNegBit) != 0 ? 1 - value : value;
            return true;
        });
        acc += p;
    });
    sum += acc;
    return ok;
}

}  // namespace

int64_t expr_eval_map(const ExprImpl& e, const Var* vars, const int64_t* values, uint64_t n) {
    refuse_if_declared(e, "eval with a variable map (evaluate against a Sol instead)");
    VarTable<int64_t> map(vars, n);
    for (uint64_t i = 0; i < n; ++i) map.insert(vars[i], values[i]);

    const uint64_t count = e.term_count();
    uint32_t threads = thread_budget();
    if (threads < 2 || count <= kSerialLimit || in_parallel_region()) threads = 1;
    const uint64_t chunks = threads == 1 ? 1 : std::min<uint64_t>(4ull * threads, count);
    const uint64_t size = (count + chunks - 1) / chunks;
    std::atomic<uint64_t> total{static_cast<uint64_t>(e.constant)};
    std::atomic<bool> missing{false};
    for_chunks(threads, chunks, [&](uint64_t c) {
        if (missing.load(std::memory_order_relaxed)) return;
        uint64_t part = 0;
        if (!eval_range(e, map, std::min(count, c * size), std::min(count, (c + 1) * size), part)) {
            missing.store(true, std::memory_order_relaxed);
        }
        total.fetch_add(part, std::memory_order_relaxed);
    });
    // Reported once, by the caller, whichever threads met the missing variable.
    if (missing.load()) fatal(kMissing);
    return static_cast<int64_t>(total.load());
}

}  // namespace dalo
