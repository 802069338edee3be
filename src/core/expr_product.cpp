// Products and squares: the result array is allocated once with the exact term count and
// filled in place, rows of the longer operand on up to 8 threads.
#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

#if defined(__x86_64__) && defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/expr_ops.hpp"
#include "core/parallel.hpp"

namespace dalo {

namespace {

// A product larger than the caches is written with stores that bypass them: it is read back
// from memory anyway, and a plain store first reads each line it writes. Elsewhere, and for
// smaller products, plain stores.
constexpr uint64_t kStreamBytes = uint64_t{16} << 20;

#if defined(__x86_64__) && defined(__SSE2__)
static_assert(offsetof(TermImpl, vars) == 8 && offsetof(VarList, slot1) == 4 &&
              offsetof(VarList, tail) == 8 && sizeof(TermImpl) == 24);
inline void stream_term(TermImpl* out, coeff_t c, Var a, Var b) {
    long long* d = reinterpret_cast<long long*>(out);
    _mm_stream_si64(d, static_cast<long long>(static_cast<uint32_t>(c)));
    _mm_stream_si64(d + 1, static_cast<long long>((uint64_t{b} << 32) | a));
    _mm_stream_si64(d + 2, 0);
}
// Makes the streamed stores visible before the threads join.
inline void stream_fence() { _mm_sfence(); }
#else
inline void stream_term(TermImpl* out, coeff_t c, Var a, Var b) {
    *out = TermImpl{c, {a, b, nullptr}};
}
inline void stream_fence() {}
#endif

// Fills a product term in place; only terms of degree 3 or more allocate.
inline void put_product(TermImpl& out, coeff_t coeff, const VarList& a, const VarList& b) {
    out.coeff = coeff;
    if (a.slot1 == kNoVar && b.slot1 == kNoVar) {  // both of degree 0 or 1
        if (a.slot0 == kNoVar) {
            out.vars = VarList{b.slot0, kNoVar, nullptr};
        } else {
            out.vars = VarList{a.slot0, b.slot0, nullptr};
        }
        return;
    }
    out.vars = concat_vars(a, b);
}

// The result array of an expression being built; on an exception the tails already made
// are left behind (only an allocation failure can throw), never freed twice.
struct TermBuffer {
    TermImpl* data = nullptr;
    explicit TermBuffer(uint64_t n) {
        if (n > 0) data = realloc_terms(nullptr, n, 0);
    }
    ~TermBuffer() { std::free(data); }
    TermBuffer(const TermBuffer&) = delete;
    TermBuffer& operator=(const TermBuffer&) = delete;

    // Hands the filled array to an expression as its tail.
    void give_to(ExprImpl& e, uint64_t n) {
        e.terms = data;
        e.count = e.capacity = n;
        data = nullptr;
    }
};

// The terms of an operand in numbering order, plus a compact copy when every term has
// degree 0 or 1 (the common case of products of linear expressions).
struct Operand {
    std::vector<const TermImpl*> at;
    bool linear = true;
    std::vector<coeff_t> coeff;
    std::vector<Var> var;

    explicit Operand(const ExprImpl& e) {
        at.reserve(e.term_count());
        e.for_each_term([&](const TermImpl& t) {
            at.push_back(&t);
            linear = linear && t.vars.slot1 == kNoVar;
        });
        if (!linear) return;
        coeff.reserve(at.size());
        var.reserve(at.size());
        for (const TermImpl* t : at) {
            coeff.push_back(t->coeff);
            var.push_back(t->vars.slot0);
        }
    }
    uint64_t size() const { return at.size(); }
};

// out[k] = (xc * b_j) with the variables of x then those of b_j, for j = jb + k < je.
inline void product_row(TermImpl* out, coeff_t xc, const VarList& x, const Operand& b, uint64_t jb,
                        uint64_t je, bool stream = false) {
    if (b.linear && x.slot1 == kNoVar) {
        const coeff_t* bc = b.coeff.data();
        const Var* bv = b.var.data();
        if (x.slot0 != kNoVar && stream) {
            const Var xs = x.slot0;
            for (uint64_t j = jb; j < je; ++j) stream_term(out++, mul_coeff(xc, bc[j]), xs, bv[j]);
        } else if (x.slot0 != kNoVar) {
            const Var xs = x.slot0;
            for (uint64_t j = jb; j < je; ++j)
                *out++ = TermImpl{mul_coeff(xc, bc[j]), {xs, bv[j], nullptr}};
        } else {
            for (uint64_t j = jb; j < je; ++j)
                *out++ = TermImpl{mul_coeff(xc, bc[j]), {bv[j], kNoVar, nullptr}};
        }
        return;
    }
    for (uint64_t j = jb; j < je; ++j) {
        const TermImpl& y = *b.at[j];
        put_product(*out++, mul_coeff(xc, y.coeff), x, y.vars);
    }
}

}  // namespace

ExprImpl poly_mul(const ExprImpl& a, const ExprImpl& b) {
    const Operand ta(a), tb(b);
    const uint64_t na = ta.size(), nb = tb.size();
    const uint64_t head_b = a.constant != 0 ? nb : 0;
    const uint64_t head_a = b.constant != 0 ? na : 0;
    const uint64_t total = head_b + head_a + na * nb;

    ExprImpl r(wrap_mul(a.constant, b.constant));
    TermBuffer buf(total);
    TermImpl* out = buf.data;
    for (uint64_t j = 0; j < head_b; ++j) {
        put_product(out[j], mul_coeff(a.constant, tb.at[j]->coeff), VarList{}, tb.at[j]->vars);
    }
    out += head_b;
    for (uint64_t i = 0; i < head_a; ++i) {
        put_product(out[i], mul_coeff(b.constant, ta.at[i]->coeff), ta.at[i]->vars, VarList{});
    }
    out += head_a;

    const bool parallel = na * nb > kSerialLimit;
    const bool stream = total * sizeof(TermImpl) >= kStreamBytes;
    if (na >= nb) {
        own_threads_rows(na, parallel, [&](uint64_t begin, uint64_t end) {
            for (uint64_t i = begin; i < end; ++i) {
                product_row(out + i * nb, ta.at[i]->coeff, ta.at[i]->vars, tb, 0, nb, stream);
            }
            if (stream) stream_fence();
        });
    } else {
        // Rows of b are the work units; each unit writes a column band of every row of a.
        own_threads_rows(nb, parallel, [&](uint64_t begin, uint64_t end) {
            for (uint64_t i = 0; i < na; ++i) {
                product_row(out + i * nb + begin, ta.at[i]->coeff, ta.at[i]->vars, tb, begin, end,
                            stream);
            }
            if (stream) stream_fence();
        });
    }
    buf.give_to(r, total);
    return r;
}

ExprImpl poly_sqr(const ExprImpl& a) {
    const Operand ta(a);
    const uint64_t n = ta.size();
    const energy_t c = a.constant;
    const uint64_t with_c = c != 0 ? 1 : 0;
    const uint64_t total = n + n * (n - 1) / 2 + with_c * n;  // n = 0 gives 0

    ExprImpl r(wrap_mul(c, c));
    TermBuffer buf(total);
    TermImpl* out = buf.data;
    const coeff_t two_c = wrap_coeff(wrap_mul(2, c));
    const bool stream = total * sizeof(TermImpl) >= kStreamBytes;
    own_threads_rows(n, n * (n - 1) >= 20'000, [&](uint64_t begin, uint64_t end) {
        for (uint64_t i = begin; i < end; ++i) {
            const TermImpl& x = *ta.at[i];
            TermImpl* row = out + (i * n - i * (i - 1) / 2 + with_c * i);
            put_product(*row++, mul_coeff(x.coeff, x.coeff), x.vars, x.vars);
            if (with_c) {
                row->coeff = mul_coeff(x.coeff, two_c);
                row->vars = copy_vars(x.vars);
                ++row;
            }
            product_row(row, mul_coeff(2, x.coeff), x.vars, ta, i + 1, n, stream);
        }
        if (stream) stream_fence();
    });
    buf.give_to(r, total);
    return r;
}

}  // namespace dalo
