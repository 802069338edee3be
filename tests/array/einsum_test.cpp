// einsum: parser messages, contraction against a direct loop over every label, both
// parallel modes.
#include "support/suite.hpp"

using dalo_test::count_of, dalo_test::ExprPtr, dalo_test::Term, dalo_test::terms_of;

namespace {

// One operand on the test side: its kind, shape and elements (as terms, and as expressions
// for products), and the library array.
struct Operand {
    uint32_t tag = DALO_EINSUM_INT;
    std::vector<uint64_t> shape;
    std::vector<Term> terms;
    std::vector<std::shared_ptr<dalo_expr>> exprs;
    std::shared_ptr<void> owner;
    const void* handle = nullptr;
};

// Elements of the given kind; integers from `values`, others random.
Operand operand(uint32_t tag, std::vector<uint64_t> shape, std::mt19937& rng,
                std::vector<int32_t> values = {}) {
    Operand o{tag, std::move(shape), {}, {}, nullptr, nullptr};
    const uint64_t n = count_of(o.shape);
    std::vector<const dalo_expr*> es;
    std::vector<dalo_term*> ts;
    dalo_array_var* va = tag == DALO_EINSUM_VAR
                             ? dalo_array_var_create_unnamed(o.shape.data(), o.shape.size())
                             : nullptr;
    for (uint64_t i = 0; i < n; ++i) {
        Term t{tag == DALO_EINSUM_INT ? values[i] : 1, {}};
        if (va) t.vars.push_back(dalo_array_var_get(va, i));
        if (tag == DALO_EINSUM_TERM) {
            t.coeff = static_cast<int64_t>(rng() % 5) - 2;
            for (uint32_t d = rng() % 4; d > 0; --d) t.vars.push_back(dalo_new_var(nullptr));
            ts.push_back(dalo_term_create(t.coeff));
            for (dalo_var v : t.vars) dalo_term_mul_var(ts.back(), v);
        }
        ExprPtr e(dalo_expr_create_raw_term(t.coeff, t.vars.data(), t.vars.size(), 0));
        if (tag == DALO_EINSUM_EXPR) {
            e.reset(dalo_expr_create_int(static_cast<int64_t>(rng() % 3) - 1));
            for (uint32_t k = rng() % 3; k > 0; --k)
                dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 4) + 1,
                                        std::vector<dalo_var>{dalo_new_var(nullptr)}.data(), 1);
        }
        es.push_back(e.get());
        o.terms.push_back(t);
        o.exprs.emplace_back(e.release(), dalo_expr_destroy);
    }
    const uint64_t* sh = o.shape.data();
    const uint64_t nd = o.shape.size();
    // The deleter gets the pointer with its own type.
    if (tag == DALO_EINSUM_INT) {
        o.owner.reset(dalo_array_int_create_data(values.data(), sh, nd), dalo_array_int_destroy);
    } else if (tag == DALO_EINSUM_VAR) {
        o.owner.reset(va, dalo_array_var_destroy);
    } else if (tag == DALO_EINSUM_TERM) {
        o.owner.reset(dalo_array_term_create_data(ts.data(), sh, nd), dalo_array_term_destroy);
        for (dalo_term* t : ts) dalo_term_destroy(t);
    } else {
        o.owner.reset(dalo_array_expr_create_data(es.data(), sh, nd), dalo_array_expr_destroy);
    }
    o.handle = o.owner.get();
    return o;
}
std::mt19937 fixed_rng(1);
Operand ints(std::vector<uint64_t> shape, std::vector<int32_t> values) {
    return operand(DALO_EINSUM_INT, std::move(shape), fixed_rng, std::move(values));
}
Operand vars(std::vector<uint64_t> shape) {
    return operand(DALO_EINSUM_VAR, std::move(shape), fixed_rng);
}

std::vector<int64_t> ints_of(void* result) {
    auto* a = static_cast<dalo_array_int*>(result);
    std::vector<int64_t> out;
    for (uint64_t i = 0; i < dalo_array_int_size(a); ++i)
        out.push_back(dalo_array_int_get(a, i, nullptr));
    dalo_array_int_destroy(a);
    return out;
}

void* run(const std::string& sub, const std::vector<Operand>& ops, bool expr_output,
          uint64_t out_dim) {
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
    std::vector<int64_t> ints;             // integer sums, low 32 bits
    std::vector<std::vector<Term>> terms;  // terms in tuple order (no expression inputs)
    std::vector<int64_t> constants;        // constant of each element (no expression inputs)
    std::vector<ExprPtr> exprs;            // products summed (with expression inputs)
};

Reference direct(const std::vector<std::string>& labels, const std::string& out,
                 const std::vector<Operand>& ops) {
    std::map<char, uint64_t> extent;
    for (size_t k = 0; k < ops.size(); ++k)
        for (size_t d = 0; d < labels[k].size(); ++d) extent[labels[k][d]] = ops[k].shape[d];
    std::string summed;
    for (auto& [c, e] : extent)
        if (out.find(c) == std::string::npos) summed.push_back(c);
    Reference r;
    for (char c : out) r.shape.push_back(extent[c]);
    std::vector<uint64_t> sum_shape;
    for (char c : summed) sum_shape.push_back(extent[c]);
    std::map<char, uint64_t> coord;
    auto decode = [&](uint64_t flat, const std::string& ls, const std::vector<uint64_t>& sh) {
        for (size_t p = ls.size(); p-- > 0; flat /= sh[p]) coord[ls[p]] = flat % sh[p];
    };
    for (uint64_t o = 0; o < count_of(r.shape); ++o) {
        decode(o, out, r.shape);
        uint64_t isum = 0;
        int64_t constant = 0;
        std::vector<Term> ts;
        ExprPtr e(dalo_expr_create());
        for (uint64_t t = 0; t < count_of(sum_shape); ++t) {
            decode(t, summed, sum_shape);
            uint64_t iprod = 1;
            Term term{1, {}};
            ExprPtr prod(dalo_expr_create_int(1));
            for (size_t k = 0; k < ops.size(); ++k) {
                uint64_t off = 0;
                for (size_t d = 0; d < labels[k].size(); ++d)
                    off = off * ops[k].shape[d] + coord[labels[k][d]];
                const Term& x = ops[k].terms[off];
                iprod *= static_cast<uint64_t>(x.coeff);
                term.coeff = static_cast<int32_t>(term.coeff * x.coeff);
                term.vars.insert(term.vars.end(), x.vars.begin(), x.vars.end());
                dalo_expr_imul_expr(prod.get(), ops[k].exprs[off].get());
            }
            isum += iprod;
            dalo_expr_iadd_expr(e.get(), prod.get());
            if (term.coeff != 0 && term.vars.empty()) constant += term.coeff;
            if (term.coeff != 0 && !term.vars.empty()) ts.push_back(term);
        }
        r.ints.push_back(static_cast<int32_t>(static_cast<uint32_t>(isum)));
        r.terms.push_back(ts);
        r.constants.push_back(constant);
        r.exprs.push_back(std::move(e));
    }
    return r;
}

std::string simplified(const dalo_expr* e) {
    return dalo_expr_str(ExprPtr(dalo_expr_simplify(e)).get());
}

// Compares an expression result with the direct loop: exact term lists without expression
// inputs, equal simplified polynomials with them.
void expect_expr_result(void* result, const Reference& ref, bool has_expr) {
    dalo_test::ArrayExprPtr a(static_cast<dalo_array_expr*>(result));
    ASSERT_EQ(std::vector<uint64_t>(dalo_array_expr_shape(a.get()),
                                    dalo_array_expr_shape(a.get()) + dalo_array_expr_ndim(a.get())),
              ref.shape);
    for (uint64_t o = 0; o < dalo_array_expr_size(a.get()); ++o) {
        const dalo_expr* e = dalo_array_expr_ref(a.get(), o);
        if (has_expr) {
            EXPECT_EQ(simplified(e), simplified(ref.exprs[o].get())) << "element " << o;
        } else {
            EXPECT_EQ(terms_of(e), ref.terms[o]) << "element " << o;
            EXPECT_EQ(dalo_expr_constant(e, nullptr), ref.constants[o]) << "element " << o;
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
    const int32_t low = static_cast<int32_t>(static_cast<uint32_t>(exact));  // the low 32 bits
    const std::vector<IntCase> cases = {
        {"ii->i", {{{3, 3}, m3}}, 1, {1, 5, 9}},
        {" i\ti\n", {{{3, 3}, m3}}, 0, {15}},                    // the trace: a scalar
        {"ji", {{{3, 3}, m3}}, 2, {1, 4, 7, 2, 5, 8, 3, 6, 9}},  // implicit output is sorted
        {"ij , jk ,", {{{2, 2}, a}, {{2, 2}, b}}, 2, {19, 22, 43, 50}},
        {"ij,jk,->ik", {{{2, 2}, a}, {{2, 2}, b}}, 2, {19, 22, 43, 50}},
        {"ij,jk,anything at all", {{{2, 2}, a}, {{2, 2}, b}}, 2, {19, 22, 43, 50}},
        {"ji,jk", {{{2, 2}, a}, {{2, 2}, b}}, 2, {26, 30, 38, 44}},  // A^T B
        {"-->-", {{{2}, {3, 4}}}, 1, {3, 4}},                        // '-' without '>' is a label
        {"i->ii", {{{2}, {3, 4}}}, 2, {3, 0, 0, 4}},  // a repeated output label: the diagonal
        {"i,i->", {{{3}, {INT32_MAX, INT32_MAX, 7}}, {{3}, {INT32_MAX, 2, INT32_MIN}}}, 0, {low}},
    };
    for (const IntCase& k : cases) {
        std::vector<Operand> ops;
        for (const auto& [shape, values] : k.inputs) ops.push_back(ints(shape, values));
        auto* r = static_cast<dalo_array_int*>(run(k.sub, ops, false, k.out_dim));
        EXPECT_EQ(dalo_array_int_ndim(r), k.out_dim) << k.sub;
        EXPECT_EQ(ints_of(r), k.want) << k.sub;
    }
}

TEST(Einsum, ScalarAndEmptyOperands) {
    const std::vector<Operand> ops = {ints({}, {6}), vars({2}), ints({2, 0}, {})};
    dalo_test::ArrayExprPtr none(static_cast<dalo_array_expr*>(run(",i,ij->ij", ops, true, 2)));
    EXPECT_EQ(dalo_array_expr_size(none.get()), 0u);
    // Nothing to sum over: empty elements; integer operands into an expression: the constant.
    expect_expr_result(run(",i,ij->i", ops, true, 1), direct({"", "i", "ij"}, "i", ops), false);
    const std::vector<Operand> consts = {ints({2}, {3, 5}), ints({2}, {7, 0})};
    expect_expr_result(run("i,i", consts, true, 0), direct({"i", "i"}, "", consts), false);
}

TEST(Einsum, MatchesDirectLoopOnRandomSubscripts) {
    std::mt19937 rng(7);
    const std::string alphabet = "abcd";
    for (int round = 0; round < 150; ++round) {
        std::map<char, uint64_t> extent;
        for (char c : alphabet) extent[c] = rng() % 3 + 1;
        const uint32_t n = rng() % 3 + 1;
        const bool all_int = round % 3 == 0;
        std::vector<std::string> labels(n);
        std::vector<Operand> ops;
        bool has_expr = false;
        std::string sub, present;
        std::map<char, int> seen;
        for (uint32_t k = 0; k < n; ++k) {
            for (uint32_t d = rng() % 4; d > 0; --d) labels[k].push_back(alphabet[rng() % 4]);
            std::vector<uint64_t> shape;
            for (char c : labels[k]) {
                shape.push_back(extent[c]);
                if (seen[c]++ == 0) present.push_back(c);
            }
            const uint32_t kind = all_int ? DALO_EINSUM_INT : rng() % 4;
            std::vector<int32_t> v(count_of(shape));
            for (auto& x : v) x = static_cast<int32_t>(rng() % 7) - 3;
            ops.push_back(operand(kind, shape, rng, v));
            has_expr |= kind == DALO_EINSUM_EXPR;
            sub += (k ? "," : "") + labels[k];
        }
        std::string out;
        if (rng() % 2 == 0) {
            for (auto& [c, count] : seen)
                if (count == 1) out.push_back(c);
        } else {
            std::shuffle(present.begin(), present.end(), rng);
            out = present.substr(0, rng() % (present.size() + 1));
            sub += "->" + out;
        }
        SCOPED_TRACE(sub);
        const Reference ref = direct(labels, out, ops);
        expect_expr_result(run(sub, ops, true, out.size()), ref, has_expr);
        if (all_int) {
            EXPECT_EQ(ints_of(run(sub, ops, false, out.size())), ref.ints);
        }
    }
}

TEST(EinsumParallel, SplitSumAndOutputParallelMatchTheDirectLoop) {
    // 120,000 tuples into 2 output elements: the split-sum mode when threads allow.
    std::vector<int32_t> w(2 * 60'000), u(60'000 * 2), m(12'000 * 3);
    for (size_t i = 0; i < w.size(); ++i) w[i] = static_cast<int32_t>(i % 5) - 1;
    for (size_t i = 0; i < u.size(); ++i) u[i] = static_cast<int32_t>(i % 3) + 1;
    for (size_t i = 0; i < m.size(); ++i) m[i] = static_cast<int32_t>(i % 4) - 1;
    const std::vector<Operand> ops = {ints({2, 60'000}, w), vars({60'000}), ints({60'000, 2}, u)};
    expect_expr_result(run("ij,j,jk->i", ops, true, 1), direct({"ij", "j", "jk"}, "i", ops), false);
    const std::vector<Operand> two = {ops[0], ops[2]};
    EXPECT_EQ(ints_of(run("ij,jk->ik", two, false, 2)), direct({"ij", "jk"}, "ik", two).ints);
    // 12,000 output elements: the parallel-for over outputs.
    const std::vector<Operand> wide = {ints({12'000, 3}, m), vars({3})};
    expect_expr_result(run("ij,j->i", wide, true, 1), direct({"ij", "j"}, "i", wide), false);
}

TEST(EinsumDeath, ParserAndCheckMessages) {
    const std::vector<Operand> ops = {ints({2, 3}, {1, 2, 3, 4, 5, 6}),
                                      ints({4, 5}, std::vector<int32_t>(20, 1))};
    const std::vector<Operand> mixed = {ops[0], vars({3, 2})}, one = {ops[0]};
    uint32_t tag = 4;
    const void* h = ops[0].handle;
    EXPECT_FATAL(dalo_einsum("i", 0, &tag, &h, 0, 0), "einsum: requires at least one input");
    EXPECT_FATAL(dalo_einsum("ij", 1, &tag, &h, 0, 0), "einsum: unknown input type tag 4");
    EXPECT_FATAL(run("ij->ik", ops, false, 2),
                 "einsum: expected ',' separating 2 inputs in subscript \"ij->ik\"");
    EXPECT_FATAL(run("ij", ops, false, 2),
                 "einsum: expected ',' separating 2 inputs in subscript \"ij\"");
    EXPECT_FATAL(run("ijk,jk", ops, false, 2),
                 "einsum: input 0 has 2 dims but subscript has 3 labels (subscript=\"ijk,jk\")");
    EXPECT_FATAL(run("ij->ij", one, false, 1),
                 "einsum: OutDim mismatch \xE2\x80\x94 subscript \"ij->ij\" produces 2 output "
                 "axis(es), but the call was einsum<1>()");
    EXPECT_FATAL(run("ab,bc->ad", mixed, true, 2), "einsum: output label 'd' not in any input");
    EXPECT_FATAL(run("ij,jk->ik", mixed, false, 2),
                 "einsum: int output requires all inputs to be coeff_t (input 1 has type tag 0)");
}

}  // namespace
