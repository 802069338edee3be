// einsum: parser messages, contraction against a direct loop over every label, both
// parallel modes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dalo.h"
#include "support/expr_util.hpp"
#include "support/fatal.hpp"

using dalo_test::ExprPtr;
using dalo_test::Term;
using dalo_test::terms_of;

namespace {

uint64_t count_of(const std::vector<uint64_t>& shape) {
    uint64_t n = 1;
    for (uint64_t e : shape) n *= e;
    return n;
}

// One operand on the test side: its kind, shape and elements, and the library array.
struct Operand {
    uint32_t tag = DALO_EINSUM_INT;
    std::vector<uint64_t> shape;
    std::vector<int32_t> ints;
    std::vector<dalo_var> vars;
    std::vector<Term> terms;
    std::vector<ExprPtr> exprs;
    std::shared_ptr<void> owner;
    void* handle = nullptr;
    template <class A, void (*Destroy)(A*)>
    void own(A* a) {
        handle = a;
        owner.reset(a, [](A* p) { Destroy(p); });
    }
};

Operand int_operand(std::vector<uint64_t> shape, std::vector<int32_t> values) {
    Operand o;
    o.tag = DALO_EINSUM_INT;
    o.shape = std::move(shape);
    o.ints = std::move(values);
    o.own<dalo_array_int, dalo_array_int_destroy>(
        dalo_array_int_create_data(o.ints.data(), o.shape.data(), o.shape.size()));
    return o;
}

Operand var_operand(std::vector<uint64_t> shape) {
    Operand o;
    o.tag = DALO_EINSUM_VAR;
    o.shape = std::move(shape);
    auto* a = dalo_array_var_create_unnamed(o.shape.data(), o.shape.size());
    for (uint64_t i = 0; i < count_of(o.shape); ++i) o.vars.push_back(dalo_array_var_get(a, i));
    o.own<dalo_array_var, dalo_array_var_destroy>(a);
    return o;
}

Operand term_operand(std::vector<uint64_t> shape, std::mt19937& rng) {
    Operand o;
    o.tag = DALO_EINSUM_TERM;
    o.shape = std::move(shape);
    std::vector<dalo_term*> owned;
    for (uint64_t i = 0; i < count_of(o.shape); ++i) {
        Term t{static_cast<int64_t>(rng() % 5) - 2, {}};
        dalo_term* h = dalo_term_create(t.coeff);
        for (uint32_t d = rng() % 4; d > 0; --d) {
            t.vars.push_back(dalo_new_var(nullptr));
            dalo_term_mul_var(h, t.vars.back());
        }
        o.terms.push_back(t);
        owned.push_back(h);
    }
    o.own<dalo_array_term, dalo_array_term_destroy>(
        dalo_array_term_create_data(owned.data(), o.shape.data(), o.shape.size()));
    for (dalo_term* h : owned) dalo_term_destroy(h);
    return o;
}

Operand expr_operand(std::vector<uint64_t> shape, std::mt19937& rng) {
    Operand o;
    o.tag = DALO_EINSUM_EXPR;
    o.shape = std::move(shape);
    std::vector<const dalo_expr*> raw;
    for (uint64_t i = 0; i < count_of(o.shape); ++i) {
        ExprPtr e(dalo_expr_create_int(static_cast<int64_t>(rng() % 3) - 1));
        for (uint32_t k = rng() % 3; k > 0; --k) {
            ExprPtr x(dalo_expr_create_var(dalo_new_var(nullptr)));
            dalo_expr_imul_int(x.get(), static_cast<int64_t>(rng() % 4) + 1);
            dalo_expr_iadd_expr(e.get(), x.get());
        }
        raw.push_back(e.get());
        o.exprs.push_back(std::move(e));
    }
    o.own<dalo_array_expr, dalo_array_expr_destroy>(
        dalo_array_expr_create_data(raw.data(), o.shape.data(), o.shape.size()));
    return o;
}

std::vector<int64_t> ints_of(void* result) {
    auto* a = static_cast<dalo_array_int*>(result);
    std::vector<int64_t> out;
    for (uint64_t i = 0; i < dalo_array_int_size(a); ++i)
        out.push_back(dalo_array_int_get(a, i, nullptr));
    return out;
}

std::vector<uint64_t> shape_of_expr(const dalo_array_expr* a) {
    return {dalo_array_expr_shape(a), dalo_array_expr_shape(a) + dalo_array_expr_ndim(a)};
}

void* run(const std::string& sub, std::vector<Operand>& ops, bool expr_output, uint64_t out_dim) {
    std::vector<uint32_t> tags;
    std::vector<const void*> handles;
    for (auto& o : ops) {
        tags.push_back(o.tag);
        handles.push_back(o.handle);
    }
    return dalo_einsum(sub.c_str(), static_cast<int32_t>(ops.size()), tags.data(), handles.data(),
                       expr_output ? 1u : 0u, out_dim);
}

// ---- direct loop: every output coordinate, then every contracted tuple in row-major order ----

struct Reference {
    std::vector<uint64_t> shape;
    std::vector<int64_t> ints;             // integer sums (64-bit)
    std::vector<std::vector<Term>> terms;  // terms in tuple order (no expression inputs)
    std::vector<int64_t> constants;        // constant of each element (no expression inputs)
    std::vector<ExprPtr> exprs;            // products summed (with expression inputs)
};

Reference direct(const std::vector<std::string>& labels, const std::string& out,
                 const std::vector<Operand>& ops) {
    std::map<char, uint64_t> extent;
    for (size_t k = 0; k < ops.size(); ++k) {
        for (size_t d = 0; d < labels[k].size(); ++d) extent[labels[k][d]] = ops[k].shape[d];
    }
    std::string summed;
    for (auto& [c, e] : extent) {
        if (out.find(c) == std::string::npos) summed.push_back(c);
    }
    Reference r;
    for (char c : out) r.shape.push_back(extent[c]);
    std::vector<uint64_t> sum_shape;
    for (char c : summed) sum_shape.push_back(extent[c]);
    uint64_t n_out = count_of(r.shape), n_sum = count_of(sum_shape);
    std::map<char, uint64_t> coord;
    auto decode = [&](uint64_t flat, const std::string& ls, const std::vector<uint64_t>& sh) {
        for (size_t p = ls.size(); p-- > 0;) {
            coord[ls[p]] = flat % sh[p];
            flat /= sh[p];
        }
    };
    auto offset = [&](size_t k) {
        uint64_t off = 0;
        for (size_t d = 0; d < labels[k].size(); ++d)
            off = off * ops[k].shape[d] + coord[labels[k][d]];
        return off;
    };
    for (uint64_t o = 0; o < n_out; ++o) {
        decode(o, out, r.shape);
        uint64_t isum = 0;
        int64_t constant = 0;
        std::vector<Term> ts;
        ExprPtr e(dalo_expr_create());
        for (uint64_t t = 0; t < n_sum; ++t) {
            decode(t, summed, sum_shape);
            uint64_t iprod = 1;
            Term term{1, {}};
            ExprPtr prod(dalo_expr_create_int(1));
            for (size_t k = 0; k < ops.size(); ++k) {
                uint64_t off = offset(k);
                const Operand& op = ops[k];
                switch (op.tag) {
                    case DALO_EINSUM_INT:
                        iprod *= static_cast<uint64_t>(int64_t{op.ints[off]});
                        term.coeff = static_cast<int32_t>(term.coeff * op.ints[off]);
                        dalo_expr_imul_int(prod.get(), op.ints[off]);
                        break;
                    case DALO_EINSUM_VAR:
                        term.vars.push_back(op.vars[off]);
                        dalo_expr_imul_var(prod.get(), op.vars[off]);
                        break;
                    case DALO_EINSUM_TERM:
                        term.coeff *= op.terms[off].coeff;
                        term.vars.insert(term.vars.end(), op.terms[off].vars.begin(),
                                         op.terms[off].vars.end());
                        dalo_expr_imul_int(prod.get(), op.terms[off].coeff);
                        for (dalo_var v : op.terms[off].vars) dalo_expr_imul_var(prod.get(), v);
                        break;
                    default:
                        dalo_expr_imul_expr(prod.get(), op.exprs[off].get());
                }
            }
            isum += iprod;
            dalo_expr_iadd_expr(e.get(), prod.get());
            if (term.coeff == 0) continue;
            if (term.vars.empty()) {
                constant += term.coeff;
            } else {
                ts.push_back(term);
            }
        }
        r.ints.push_back(static_cast<int32_t>(static_cast<uint32_t>(isum)));
        r.terms.push_back(ts);
        r.constants.push_back(constant);
        r.exprs.push_back(std::move(e));
    }
    return r;
}

std::string simplified(const dalo_expr* e) {
    ExprPtr s(dalo_expr_simplify(e));
    return dalo_expr_str(s.get());
}

// Compares an expression result with the direct loop: exact term lists without expression
// inputs, equal simplified polynomials with them.
void expect_expr_result(void* result, const Reference& ref, bool has_expr) {
    auto* a = static_cast<dalo_array_expr*>(result);
    ASSERT_EQ(shape_of_expr(a), ref.shape);
    for (uint64_t o = 0; o < dalo_array_expr_size(a); ++o) {
        ExprPtr e(dalo_array_expr_get(a, o));
        if (has_expr) {
            EXPECT_EQ(simplified(e.get()), simplified(ref.exprs[o].get())) << "element " << o;
        } else {
            EXPECT_EQ(terms_of(e.get()), ref.terms[o]) << "element " << o;
            EXPECT_EQ(dalo_expr_constant(e.get(), nullptr), ref.constants[o]) << "element " << o;
        }
    }
}

struct IntCase {
    const char* sub;
    std::vector<std::pair<std::vector<uint64_t>, std::vector<int32_t>>> inputs;
    uint64_t out_dim;
    std::vector<int64_t> want;
};

TEST(Einsum, IntegerResults) {
    const std::vector<int32_t> m3 = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::vector<int32_t> a = {1, 2, 3, 4}, b = {5, 6, 7, 8};
    const uint64_t exact = static_cast<uint64_t>(int64_t{INT32_MAX} * INT32_MAX +
                                                 int64_t{INT32_MAX} * 2 + int64_t{7} * INT32_MIN);
    const std::vector<IntCase> cases = {
        {"ii->i", {{{3, 3}, m3}}, 1, {1, 5, 9}},
        {" i\ti\n", {{{3, 3}, m3}}, 0, {15}},                    // the trace: a scalar
        {"ji", {{{3, 3}, m3}}, 2, {1, 4, 7, 2, 5, 8, 3, 6, 9}},  // implicit output is sorted
        {"ij,jk", {{{2, 2}, a}, {{2, 2}, b}}, 2, {19, 22, 43, 50}},
        {"ij , jk ,", {{{2, 2}, a}, {{2, 2}, b}}, 2, {19, 22, 43, 50}},
        {"ij,jk,->ik", {{{2, 2}, a}, {{2, 2}, b}}, 2, {19, 22, 43, 50}},
        {"ij,jk,anything at all", {{{2, 2}, a}, {{2, 2}, b}}, 2, {19, 22, 43, 50}},
        {"ji,jk", {{{2, 2}, a}, {{2, 2}, b}}, 2, {26, 30, 38, 44}},  // A^T B
        {"-->-", {{{2}, {3, 4}}}, 1, {3, 4}},                        // '-' without '>' is a label
        {"i->ii", {{{2}, {3, 4}}}, 2, {3, 0, 0, 4}},  // a repeated output label: the diagonal
        {"i,i->",
         {{{3}, {INT32_MAX, INT32_MAX, 7}}, {{3}, {INT32_MAX, 2, INT32_MIN}}},
         0,
         {static_cast<int32_t>(static_cast<uint32_t>(exact))}},  // the low 32 bits
    };
    for (const IntCase& k : cases) {
        std::vector<Operand> ops;
        for (const auto& [shape, values] : k.inputs) ops.push_back(int_operand(shape, values));
        auto* r = static_cast<dalo_array_int*>(run(k.sub, ops, false, k.out_dim));
        EXPECT_EQ(dalo_array_int_ndim(r), k.out_dim) << k.sub;
        EXPECT_EQ(ints_of(r), k.want) << k.sub;
        dalo_array_int_destroy(r);
    }
}

TEST(Einsum, ScalarAndEmptyOperands) {
    std::vector<Operand> ops;
    ops.push_back(int_operand({}, {6}));
    ops.push_back(var_operand({2}));
    ops.push_back(int_operand({2, 0}, {}));
    void* r = run(",i,ij->ij", ops, true, 2);
    EXPECT_EQ(dalo_array_expr_size(static_cast<dalo_array_expr*>(r)), 0u);
    dalo_array_expr_destroy(static_cast<dalo_array_expr*>(r));
    r = run(",i,ij->i", ops, true, 1);  // nothing to sum over: empty elements
    auto* a = static_cast<dalo_array_expr*>(r);
    ASSERT_EQ(dalo_array_expr_size(a), 2u);
    ExprPtr e(dalo_array_expr_get(a, 1));
    EXPECT_EQ(dalo_expr_term_count(e.get()), 0u);
    EXPECT_EQ(dalo_expr_constant(e.get(), nullptr), 0);
    dalo_array_expr_destroy(a);
    std::vector<Operand> consts;
    consts.push_back(int_operand({2}, {3, 5}));
    consts.push_back(int_operand({2}, {7, 0}));
    r = run("i,i", consts, true, 0);  // integer operands into an expression: the constant
    ExprPtr c(dalo_array_expr_get(static_cast<dalo_array_expr*>(r), 0));
    EXPECT_EQ(dalo_expr_constant(c.get(), nullptr), 21);
    EXPECT_EQ(dalo_expr_term_count(c.get()), 0u);
    dalo_array_expr_destroy(static_cast<dalo_array_expr*>(r));
}

TEST(Einsum, MatchesDirectLoopOnRandomSubscripts) {
    std::mt19937 rng(7);
    const std::string alphabet = "abcd";
    for (int round = 0; round < 150; ++round) {
        std::map<char, uint64_t> extent;
        for (char c : alphabet) extent[c] = rng() % 3 + 1;
        uint32_t n = rng() % 3 + 1;
        bool all_int = round % 3 == 0;
        std::vector<std::string> labels(n);
        std::vector<Operand> ops;
        bool has_expr = false;
        for (uint32_t k = 0; k < n; ++k) {
            for (uint32_t d = rng() % 4; d > 0; --d) labels[k].push_back(alphabet[rng() % 4]);
            std::vector<uint64_t> shape;
            for (char c : labels[k]) shape.push_back(extent[c]);
            uint32_t kind = all_int ? DALO_EINSUM_INT : rng() % 4;
            if (kind == DALO_EINSUM_INT) {
                std::vector<int32_t> v(count_of(shape));
                for (auto& x : v) x = static_cast<int32_t>(rng() % 7) - 3;
                ops.push_back(int_operand(shape, v));
            } else if (kind == DALO_EINSUM_VAR) {
                ops.push_back(var_operand(shape));
            } else if (kind == DALO_EINSUM_TERM) {
                ops.push_back(term_operand(shape, rng));
            } else {
                ops.push_back(expr_operand(shape, rng));
                has_expr = true;
            }
        }
        std::string sub;
        for (uint32_t k = 0; k < n; ++k) sub += (k ? "," : "") + labels[k];
        std::string out;
        if (rng() % 2 == 0) {
            std::map<char, int> seen;
            for (auto& l : labels) {
                for (char c : l) ++seen[c];
            }
            for (auto& [c, count] : seen) {
                if (count == 1) out.push_back(c);
            }
        } else {
            std::string present;
            for (auto& l : labels) {
                for (char c : l) {
                    if (present.find(c) == std::string::npos) present.push_back(c);
                }
            }
            std::shuffle(present.begin(), present.end(), rng);
            out = present.substr(0, rng() % (present.size() + 1));
            sub += "->" + out;
        }
        SCOPED_TRACE(sub);
        Reference ref = direct(labels, out, ops);
        void* r = run(sub, ops, true, out.size());
        expect_expr_result(r, ref, has_expr);
        dalo_array_expr_destroy(static_cast<dalo_array_expr*>(r));
        if (all_int) {
            void* ri = run(sub, ops, false, out.size());
            EXPECT_EQ(ints_of(ri), ref.ints);
            dalo_array_int_destroy(static_cast<dalo_array_int*>(ri));
        }
    }
}

TEST(EinsumParallel, SplitSumAndOutputParallelMatchTheDirectLoop) {
    // 120,000 tuples into 2 output elements: the split-sum mode when threads allow.
    std::vector<Operand> ops;
    std::vector<int32_t> w(2 * 60'000);
    for (size_t i = 0; i < w.size(); ++i) w[i] = static_cast<int32_t>(i % 5) - 1;
    ops.push_back(int_operand({2, 60'000}, w));
    ops.push_back(var_operand({60'000}));
    std::vector<int32_t> u(60'000 * 2);
    for (size_t i = 0; i < u.size(); ++i) u[i] = static_cast<int32_t>(i % 3) + 1;
    ops.push_back(int_operand({60'000, 2}, u));
    Reference ref = direct({"ij", "j", "jk"}, "i", ops);
    void* r = run("ij,j,jk->i", ops, true, 1);
    expect_expr_result(r, ref, false);
    dalo_array_expr_destroy(static_cast<dalo_array_expr*>(r));

    std::vector<Operand> ints;
    ints.push_back(int_operand({2, 60'000}, w));
    ints.push_back(int_operand({60'000, 2}, u));
    Reference iref = direct({"ij", "jk"}, "ik", ints);
    void* ri = run("ij,jk->ik", ints, false, 2);
    EXPECT_EQ(ints_of(ri), iref.ints);
    dalo_array_int_destroy(static_cast<dalo_array_int*>(ri));

    // 12,000 output elements: the parallel-for over outputs.
    std::vector<Operand> wide;
    std::vector<int32_t> m(12'000 * 3);
    for (size_t i = 0; i < m.size(); ++i) m[i] = static_cast<int32_t>(i % 4) - 1;
    wide.push_back(int_operand({12'000, 3}, m));
    wide.push_back(var_operand({3}));
    Reference wref = direct({"ij", "j"}, "i", wide);
    void* rw = run("ij,j->i", wide, true, 1);
    expect_expr_result(rw, wref, false);
    dalo_array_expr_destroy(static_cast<dalo_array_expr*>(rw));
}

TEST(EinsumDeath, ParserAndCheckMessages) {
    std::vector<Operand> ops;
    ops.push_back(int_operand({2, 3}, {1, 2, 3, 4, 5, 6}));
    ops.push_back(int_operand({4, 5}, std::vector<int32_t>(20, 1)));
    std::vector<Operand> vars;
    vars.push_back(int_operand({2, 3}, {1, 2, 3, 4, 5, 6}));
    vars.push_back(var_operand({3, 2}));
    std::vector<Operand> one;
    one.push_back(int_operand({2, 3}, {1, 2, 3, 4, 5, 6}));
    uint32_t tag = 4;
    const void* h = one[0].handle;
    EXPECT_FATAL(dalo_einsum("i", 0, &tag, &h, 0, 0), "einsum: requires at least one input");
    EXPECT_FATAL(dalo_einsum("ij", 1, &tag, &h, 0, 0), "einsum: unknown input type tag 4");
    EXPECT_FATAL(run("ij->ik", ops, false, 2),
                 "einsum: expected ',' separating 2 inputs in subscript \"ij->ik\"");
    EXPECT_FATAL(run("ij", ops, false, 2),
                 "einsum: expected ',' separating 2 inputs in subscript \"ij\"");
    EXPECT_FATAL(run("ijk,jk", ops, false, 2),
                 "einsum: input 0 has 2 dims but subscript has 3 labels (subscript=\"ijk,jk\")");
    EXPECT_FATAL(run("ij,jk", ops, false, 2), "einsum: inconsistent size for label 'j': 3 vs 4");
    EXPECT_FATAL(run("ij->ij", one, false, 1),
                 "einsum: OutDim mismatch \xE2\x80\x94 subscript \"ij->ij\" produces 2 output "
                 "axis(es), but the call was einsum<1>()");
    EXPECT_FATAL(run("ab,bc->ad", vars, true, 2), "einsum: output label 'd' not in any input");
    EXPECT_FATAL(run("ij,jk->ik", vars, false, 2),
                 "einsum: int output requires all inputs to be coeff_t (input 1 has type tag 0)");
}

}  // namespace
