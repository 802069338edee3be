// Products and squares: the result array is allocated once with the exact term count and
// filled in place, rows of the longer operand on up to 8 threads.
#include <cstdlib>
#include <new>

#include "core/expr_ops.hpp"
#include "core/parallel.hpp"

namespace dalo {

namespace {

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
        if (n == 0) return;
        data = static_cast<TermImpl*>(std::malloc(n * sizeof(TermImpl)));
        if (data == nullptr) throw std::bad_alloc();
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

// Term i of an expression, for operands read many times: the tail array plus the inline term.
struct TermView {
    const TermImpl* first;  // null when the inline term is absent
    const TermImpl* tail;
    uint64_t n;
    explicit TermView(const ExprImpl& e)
        : first(e.has_inline() ? &e.first : nullptr), tail(e.terms), n(e.term_count()) {}
    const TermImpl& operator[](uint64_t i) const {
        if (first != nullptr) return i == 0 ? *first : tail[i - 1];
        return tail[i];
    }
};

}  // namespace

ExprImpl expr_mul_expr(const ExprImpl& a, const ExprImpl& b) {
    attr_other(a, AttrOp::MulExpr);
    attr_other(b, AttrOp::MulExpr);
    TermView ta(a), tb(b);
    const uint64_t na = ta.n, nb = tb.n;
    const uint64_t head_b = a.constant != 0 ? nb : 0;
    const uint64_t head_a = b.constant != 0 ? na : 0;
    const uint64_t total = head_b + head_a + na * nb;

    ExprImpl r(wrap_mul(a.constant, b.constant));
    TermBuffer buf(total);
    TermImpl* out = buf.data;
    for (uint64_t j = 0; j < head_b; ++j) {
        put_product(out[j], mul_coeff(a.constant, tb[j].coeff), VarList{}, tb[j].vars);
    }
    out += head_b;
    for (uint64_t i = 0; i < head_a; ++i) {
        put_product(out[i], mul_coeff(b.constant, ta[i].coeff), ta[i].vars, VarList{});
    }
    out += head_a;

    const bool parallel = na * nb > kSerialLimit;
    if (na >= nb) {
        own_threads_rows(na, parallel, [&](uint64_t begin, uint64_t end) {
            for (uint64_t i = begin; i < end; ++i) {
                const TermImpl& x = ta[i];
                TermImpl* row = out + i * nb;
                for (uint64_t j = 0; j < nb; ++j) {
                    const TermImpl& y = tb[j];
                    put_product(row[j], mul_coeff(x.coeff, y.coeff), x.vars, y.vars);
                }
            }
        });
    } else {
        // Rows of b are the work units; each unit writes a column band of every row of a.
        own_threads_rows(nb, parallel, [&](uint64_t begin, uint64_t end) {
            for (uint64_t i = 0; i < na; ++i) {
                const TermImpl& x = ta[i];
                TermImpl* row = out + i * nb;
                for (uint64_t j = begin; j < end; ++j) {
                    const TermImpl& y = tb[j];
                    put_product(row[j], mul_coeff(x.coeff, y.coeff), x.vars, y.vars);
                }
            }
        });
    }
    buf.give_to(r, total);
    return r;
}

ExprImpl expr_sqr(const ExprImpl& a) {
    attr_other(a, AttrOp::Sqr);
    TermView ta(a);
    const uint64_t n = ta.n;
    const energy_t c = a.constant;
    const uint64_t with_c = c != 0 ? 1 : 0;
    const uint64_t total = n + n * (n - 1) / 2 + with_c * n;  // n = 0 gives 0

    ExprImpl r(wrap_mul(c, c));
    TermBuffer buf(total);
    TermImpl* out = buf.data;
    const coeff_t two_c = wrap_coeff(wrap_mul(2, c));
    own_threads_rows(n, n * (n - 1) >= 20'000, [&](uint64_t begin, uint64_t end) {
        for (uint64_t i = begin; i < end; ++i) {
            const TermImpl& x = ta[i];
            TermImpl* row = out + (i * n - i * (i - 1) / 2 + with_c * i);
            put_product(*row++, mul_coeff(x.coeff, x.coeff), x.vars, x.vars);
            if (with_c) {
                row->coeff = mul_coeff(x.coeff, two_c);
                row->vars = copy_vars(x.vars);
                ++row;
            }
            const coeff_t twice = mul_coeff(2, x.coeff);
            for (uint64_t j = i + 1; j < n; ++j) {
                const TermImpl& y = ta[j];
                put_product(*row++, mul_coeff(twice, y.coeff), x.vars, y.vars);
            }
        }
    });
    buf.give_to(r, total);
    return r;
}

}  // namespace dalo
