#include "core/expr_ops.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "core/fatal.hpp"
#include "core/parallel.hpp"

namespace dalo {

TermImpl moved_term(int64_t coeff, uint64_t packed, Var* tail) {
    TermImpl t{wrap_coeff(coeff), {kNoVar, kNoVar, tail}};
    unpack_slots(packed, t.vars);
    normalize_moved(t.vars);
    if (t.vars.tail != nullptr) note_tail();
    return t;
}

TermImpl copied_term(int64_t coeff, uint64_t packed, const Var* tail) {
    VarList v{kNoVar, kNoVar, const_cast<Var*>(tail)};
    unpack_slots(packed, v);
    if (v.slot1 == kNoVar) v.tail = nullptr;
    return TermImpl{wrap_coeff(coeff), copy_vars(v)};
}

ExprImpl expr_of(int64_t constant, std::initializer_list<TermImpl> owned_terms) {
    ExprImpl e(constant);
    for (const TermImpl& t : owned_terms) e.append_owned(t);
    return e;
}

namespace {

// Appends copies of all terms of b (negated when asked) in b's numbering order. Terms go
// one by one while they land in a's empty inline slot, then in one block into the tail.
void append_all(ExprImpl& a, const ExprImpl& b, bool negate) {
    uint64_t n = b.term_count();
    uint64_t k = 0;
    for (; k < n && a.first.coeff == 0; ++k) {
        TermImpl t = copy_term(b.term(k));
        if (negate) t.coeff = neg_coeff(t.coeff);
        a.append_owned(t);
    }
    if (k == n) return;
    // The rest of b is contiguous in its tail array.
    const TermImpl* src = b.has_inline() ? (k == 0 ? nullptr : b.terms + (k - 1)) : b.terms + k;
    uint64_t rest = n - k;
    // Room for all of it at once, so that the array moves at most once. Geometric growth:
    // many small additions in a row must not copy the array each time.
    if (a.count + rest > a.capacity) a.reserve_more(std::max(rest, a.capacity));
    if (src == nullptr) {  // b's inline term first, then its whole tail
        a.append_owned(negate ? negated(copy_term(b.first)) : copy_term(b.first));
        src = b.terms;
        rest -= 1;
    }
    copy_terms(a.terms + a.count, src, rest, negate);
    a.count += rest;
}

// Writes bulk terms [b, end) whose variables start at vars[offset].
void fill_bulk(TermImpl* __restrict out, const coeff_t* __restrict coeffs,
               const uint32_t* __restrict degrees, const Var* __restrict vars, uint64_t b,
               uint64_t end, uint64_t offset) {
    for (uint64_t k = b; k < end; ++k) {
        const uint32_t d = degrees[k];
        const Var* v = vars + offset;
        if (d == 2) {
            out[k] = TermImpl{coeffs[k], {v[0], v[1], nullptr}};
        } else if (d < 2) {
            out[k] = TermImpl{coeffs[k], {d == 1 ? v[0] : kNoVar, kNoVar, nullptr}};
        } else {
            out[k] = TermImpl{coeffs[k], make_vars(v, d)};
        }
        offset += d;
    }
}

// Runs f(coeff&) over every coefficient, the tail in parallel.
template <class F>
void for_each_coeff(ExprImpl& e, F f) {
    f(e.first.coeff);
    TermImpl* t = e.terms;
    par_for_ranges(e.count, e.count, [t, &f](uint64_t b, uint64_t end) {
        for (uint64_t i = b; i < end; ++i) f(t[i].coeff);
    });
}

// Whether k divides every coefficient; the tail is read in parallel.
bool divides_all(const ExprImpl& e, int64_t k) {
    if (e.first.coeff % k != 0) return false;
    const TermImpl* t = e.terms;
    std::atomic<bool> all{true};
    par_for_ranges(e.count, e.count, [t, k, &all](uint64_t b, uint64_t end) {
        for (uint64_t i = b; i < end; ++i) {
            if (t[i].coeff % k != 0) {
                all.store(false, std::memory_order_relaxed);
                return;
            }
        }
    });
    return all.load(std::memory_order_relaxed);
}

// a += b or a -= b.
void add_expr(ExprImpl& a, const ExprImpl& b, bool subtract) {
    if (&a == &b) {
        const ExprImpl copy(b, b.attr);  // appending to a would move the terms being read
        add_expr(a, copy, subtract);
        return;
    }
    a.constant = subtract ? wrap_sub(a.constant, b.constant) : wrap_add(a.constant, b.constant);
    append_all(a, b, subtract);
}

}  // namespace

void poly_iadd_expr(ExprImpl& a, const ExprImpl& b) { add_expr(a, b, false); }

void poly_isub_expr(ExprImpl& a, const ExprImpl& b) { add_expr(a, b, true); }

void poly_iadd_bulk(ExprImpl& e, int64_t constant, uint64_t n, const coeff_t* coeffs,
                    const uint32_t* degrees, const Var* vars) {
    e.constant = wrap_add(e.constant, constant);
    if (n == 0) return;
    e.reserve_more(n);
    TermImpl* out = e.terms + e.count;
    auto fill = [out, coeffs, degrees, vars](uint64_t b, uint64_t end, uint64_t offset) {
        fill_bulk(out, coeffs, degrees, vars, b, end, offset);
    };
    RegionPlan plan = in_parallel_region() ? RegionPlan{} : plan_region(n, n, thread_budget());
    if (plan.threads < 2) {
        fill(0, n, 0);
    } else {
        // Offsets of each chunk's variables: chunk sums in parallel, then a short scan.
        uint64_t chunks = plan.chunks, size = plan.chunk_size;
        std::vector<uint64_t> offset(chunks + 1, 0);
        par_for_impl(chunks, n, [&](uint64_t c) {
            uint64_t b = std::min(n, c * size), end = std::min(n, b + size), s = 0;
            for (uint64_t k = b; k < end; ++k) s += degrees[k];
            offset[c + 1] = s;
        });
        std::partial_sum(offset.begin(), offset.end(), offset.begin());
        par_for_impl(chunks, n, [&](uint64_t c) {
            uint64_t b = std::min(n, c * size);
            fill(b, std::min(n, b + size), offset[c]);
        });
    }
    e.count += n;
}

void poly_imul_int(ExprImpl& e, int64_t k) {
    e.constant = wrap_mul(e.constant, k);
    for_each_coeff(e, [k](coeff_t& c) { c = mul_coeff(c, k); });
}

void poly_negate(ExprImpl& e) {
    e.constant = wrap_sub(0, e.constant);
    for_each_coeff(e, [](coeff_t& c) { c = neg_coeff(c); });
}

void poly_idiv_int(ExprImpl& e, int64_t k) {
    if (k == 0) fatal("Division by zero");
    if (k != -1) {  // -1 divides everything (and INT64_MIN % -1 would trap)
        if (e.constant % k != 0) fatal("Indivisible division in Expr constant");
        // Every coefficient is checked before any changes, so a refused division leaves e whole.
        if (!divides_all(e, k)) fatal("Indivisible division in Expr term");
    }
    e.constant = k == -1 ? wrap_sub(0, e.constant) : e.constant / k;
    for_each_coeff(e, [k](coeff_t& c) {
        const int64_t v = c;
        c = wrap_coeff(k == -1 ? -v : v / k);
    });
}

void poly_imul_term(ExprImpl& e, const TermImpl& t) {
    ExprImpl r;
    r.attr = e.attr;
    r.reserve_more(e.term_count());
    if (e.constant != 0)
        r.append_owned(TermImpl{mul_coeff(e.constant, t.coeff), copy_vars(t.vars)});
    e.for_each_term([&](const TermImpl& a) {
        r.append_owned(TermImpl{mul_coeff(a.coeff, t.coeff), concat_vars(a.vars, t.vars)});
    });
    e.swap(r);
}

// ---- queries ----

uint64_t expr_count_degree(const ExprImpl& e, uint64_t d) {
    uint64_t n = 0;
    e.for_each_term([&](const TermImpl& t) { n += degree(t) == d; });
    return n;
}

uint32_t expr_max_degree(const ExprImpl& e) {
    uint32_t m = 0;
    e.for_each_term([&](const TermImpl& t) { m = std::max(m, degree(t)); });
    return m;
}

bool expr_has(const ExprImpl& e, Var v) {
    Var key = v & ~kNegBit;
    bool found = false;
    e.for_each_term([&](const TermImpl& t) {
        uint32_t d = degree(t);
        for (uint32_t i = 0; i < d && !found; ++i) found = (var_at(t.vars, i) & ~kNegBit) == key;
    });
    return found;
}

bool expr_has_int_atom(const ExprImpl& e) {
    bool found = false;
    e.for_each_term([&](const TermImpl& t) {
        uint32_t d = degree(t);
        for (uint32_t i = 0; i < d && !found; ++i) found = is_int_atom(var_at(t.vars, i));
    });
    return found;
}

int64_t expr_gcd(const ExprImpl& e) {
    auto mag = [](int64_t v) {
        return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    };
    uint64_t g = mag(e.constant);
    e.for_each_term([&](const TermImpl& t) {
        if (t.coeff != 0) g = std::gcd(g, mag(t.coeff));
    });
    return static_cast<int64_t>(g);
}

uint64_t range_coeffs(int64_t lo, int64_t hi, coeff_t* out, const char* advice) {
    if (hi <= lo) return 0;
    uint64_t d = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo);
    uint64_t n = 0;
    // r_k = d - (2^k - 1); stop once it is no longer positive.
    for (unsigned k = 0; k < 64; ++k) {
        uint64_t used = (uint64_t{1} << k) - 1;
        if (d <= used) break;
        uint64_t r = d - used;
        uint64_t c = std::min<uint64_t>(uint64_t{1} << k, r);
        if (c > static_cast<uint64_t>(INT32_MAX)) {
            fatal("VarInt range [" + std::to_string(lo) + ", " + std::to_string(hi) +
                  "] too large: binary coefficient " + std::to_string(c) +
                  " overflows the coefficient type" + advice);
        }
        if (out != nullptr) out[n] = static_cast<coeff_t>(c);
        ++n;
    }
    return n;
}

TermImpl var_var_term(int64_t coeff, Var a, Var b) {
    if (a == kNoVar) return var_term(coeff, b);
    TermImpl t = var_term(coeff, a);
    t.vars.slot1 = b;
    return t;
}

void term_imul_term(TermImpl& a, const TermImpl& b) {
    VarList joined = concat_vars(a.vars, b.vars);
    free_tail(a.vars);
    a.vars = joined;
    a.coeff = mul_coeff(a.coeff, b.coeff);
}

Var term_var_checked(const TermImpl& t, uint64_t i) {
    uint32_t d = degree(t);
    if (i >= d) {
        fatal("dalo_term_var_at: index " + std::to_string(i) + " out of range (degree " +
              std::to_string(d) + ")");
    }
    return var_at(t.vars, i);
}

const TermImpl& expr_term_checked(const ExprImpl& e, uint64_t i) {
    uint64_t n = e.term_count();
    if (i >= n) {
        fatal("Expr term index " + std::to_string(i) + " out of range (term count " +
              std::to_string(n) + ")");
    }
    return e.term(i);
}

void term_div_coeff(TermImpl& t, int64_t k) {
    if (k == 0) fatal("Division by zero");
    int64_t v = t.coeff;
    if (v % k != 0) fatal("Indivisible division in Term");
    t.coeff = wrap_coeff(k == -1 ? -v : v / k);
}

}  // namespace dalo
