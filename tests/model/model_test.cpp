// Model compilation and queries: index maps, flat arrays, native records, remainder, atoms.
#include "support/suite.hpp"

#include <array>

#include "support/model_util.hpp"

using namespace dalo_test;
using namespace dalo_test::build;

namespace {

template <class T>
std::vector<T> vec(const T* p, uint64_t n) {
    return std::vector<T>(p, p + n);
}
std::vector<uint32_t> words(const dalo_model* m, uint32_t d) {
    return vec(dalo_model_term_vars(m, d), d * dalo_model_term_count(m, d));
}
std::vector<int32_t> coeffs(const dalo_model* m, uint32_t d) {
    return vec(dalo_model_coeff_array(m, d), dalo_model_term_count(m, d));
}

class ModelTest : public testing::Test {
  protected:
    dalo_var x0 = new_vars("x", 5)[0];
    dalo_var x1 = x0 + 1, x2 = x0 + 2, x3 = x0 + 3, x4 = x0 + 4;
};

TEST_F(ModelTest, ConstantOnly) {
    ModelPtr m(dalo_model_create(ExprPtr(dalo_expr_create_int(-9)).get()));
    EXPECT_EQ(dalo_model_max_degree(m.get()), 0u);
    EXPECT_EQ(dalo_model_var_count(m.get()), 0u);
    EXPECT_EQ(dalo_model_var_index(m.get(), x0), 0xFFFFFFFFu);
    EXPECT_EQ(dalo_model_constant(m.get(), nullptr), -9);
    EXPECT_EQ(dalo_model_term_count(m.get(), 0), 0u);
    EXPECT_EQ(dalo_model_term_vars(m.get(), 0), nullptr);
    EXPECT_EQ(dalo_model_coeff_array(m.get(), 0), nullptr);
}

TEST_F(ModelTest, DenseIndicesAndFlatArrays) {
    ExprPtr e = raw(3, {x1, x3}, 4);
    add(e, -2, {x0});
    ModelPtr m(dalo_model_create(binary(e).get()));
    ASSERT_EQ(dalo_model_var_count(m.get()), 3u);
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(dalo_model_var(m.get(), i), (std::array{x0, x1, x3})[i]);
    EXPECT_EQ(dalo_model_var_index(m.get(), x3), 2u);
    EXPECT_EQ(dalo_model_var_index(m.get(), x3 | DALO_NEG_BIT), 2u);
    EXPECT_EQ(dalo_model_var_index(m.get(), x2), 0xFFFFFFFFu);
    EXPECT_EQ(dalo_model_has(m.get(), x4), 0);
    dalo_var later = dalo_new_var("later");  // beyond the registry at compile time
    EXPECT_EQ(dalo_model_var_index(m.get(), later), 0xFFFFFFFFu);
    // Identifiers on either side of a Model's first and last variables.
    ModelPtr inner(dalo_model_create(binary(raw(5, {x2, x3}, 2)).get()));
    for (const auto& [v, index] : {std::pair{x0, ~0u}, {x1, ~0u}, {x2, 0u}, {x3, 1u}, {x4, ~0u}})
        EXPECT_EQ(dalo_model_var_index(inner.get(), v), index);
    EXPECT_EQ(dalo_model_max_degree(m.get()), 2u);
    EXPECT_EQ(words(m.get(), 1), (std::vector<uint32_t>{0}));
    EXPECT_EQ(words(m.get(), 2), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(coeffs(m.get(), 1), (std::vector<int32_t>{-2}));
    EXPECT_EQ(coeffs(m.get(), 2), (std::vector<int32_t>{3}));
    EXPECT_EQ(dalo_model_coeff_at(m.get(), 2, 0, nullptr), 3);
    EXPECT_EQ(dalo_model_constant(m.get(), nullptr), 4);
    EXPECT_EQ(dalo_model_has_negated_literals(m.get()), 0);
    // Handles share the Model.
    dalo_model* copy = dalo_model_clone(m.get());
    m.reset();
    EXPECT_EQ(dalo_model_var(copy, 2), x3);
    dalo_model_destroy(copy);
    dalo_model_destroy(nullptr);
    ModelPtr scaled(dalo_model_create_scaled(binary(e).get(), 3.5));
    EXPECT_EQ(dalo_model_scale(scaled.get()), 1.0);
}

TEST_F(ModelTest, LiteralsInHigherDegreeTermsAndIntegerAtoms) {
    ExprPtr e = raw(2, {x0, x1 | DALO_NEG_BIT, x4});
    ModelPtr m(dalo_model_create(e.get()));
    EXPECT_EQ(words(m.get(), 3), (std::vector<uint32_t>{0, 1u | 0x80000000u, 2}));
    EXPECT_EQ(dalo_model_has_negated_literals(m.get()), 1);
    // Atoms appear in ascending integer-variable order, whatever the order of appearance.
    dalo_var a = dalo_new_int_var("a", -1, 3), b = dalo_new_int_var("b", 0, 7);
    ExprPtr f = raw(1, {x2, b, b});
    add(f, 5, {a});
    ModelPtr g(dalo_model_create(f.get()));
    ASSERT_EQ(dalo_model_int_var_count(g.get()), 2u);
    EXPECT_EQ(dalo_model_int_var_orig(g.get(), 0), a);
    EXPECT_EQ(dalo_model_int_var_orig(g.get(), 1), b);
    std::pair<int64_t, int64_t> bounds;
    dalo_model_int_var_bounds(g.get(), 0, &bounds.first, &bounds.second);
    EXPECT_EQ(bounds, std::make_pair(int64_t{-1}, int64_t{3}));
    // The degree-1 term a was added after the cubic one: input order within each degree.
    EXPECT_EQ(words(g.get(), 1), (std::vector<uint32_t>{0x40000000u}));
    EXPECT_EQ(words(g.get(), 3), (std::vector<uint32_t>{0, 0x40000001u, 0x40000001u}));
}

TEST_F(ModelTest, NativeRecordsLinearFirstThenNonlinear) {
    ExprPtr obj = raw(1, {x0});
    ExprPtr nl_body = binary(from_terms(1, {{2, {x1, x2}}, {3, {x3}}}));
    ExprPtr lin_body(dalo_expr_create_add_var_var(x2, x4));
    dalo_expr_iadd_int(lin_body.get(), -1);
    ExprPtr c1 = between(nl_body, 0, 4);
    dalo_expr_imul_int(c1.get(), 3);
    int64_t alo[2] = {0, 5}, ahi[2] = {1, 9};
    ExprPtr c2(dalo_cons_equal(lin_body.get(), alo, ahi, 2));
    ExprPtr c3(dalo_abs_term(var(x4).get(), 1));
    for (const ExprPtr* c : {&c1, &c2, &c3}) add(obj, *c);
    ModelPtr m(dalo_model_create(obj.get()));
    ASSERT_EQ(dalo_model_native_cons_count(m.get()), 3u);
    // Variables of the constraints are in the Model even where the objective lacks them.
    EXPECT_EQ(dalo_model_var_count(m.get()), 5u);
    auto bounds = [&](uint64_t i) {  // lower, upper, constant, weight
        std::array<int64_t, 4> b{};
        dalo_model_native_cons_bounds(m.get(), i, &b[0], &b[1], &b[2], &b[3]);
        return b;
    };
    std::pair<uint32_t, uint32_t> shape;
    EXPECT_EQ(bounds(0), (std::array<int64_t, 4>{0, 9, -1, 1}));  // the allowed set
    EXPECT_EQ(dalo_model_native_cons_vars(m.get(), 0)[1], 4u);
    dalo_model_native_cons_shape(m.get(), 1, &shape.first, &shape.second);  // the abs shape
    EXPECT_EQ(shape, std::make_pair(1u, 1u));
    EXPECT_EQ(dalo_model_native_cons_nterms(m.get(), 1), 1u);
    EXPECT_EQ(dalo_model_native_cons_coeffs(m.get(), 1)[0], 1);
    EXPECT_EQ(bounds(2), (std::array<int64_t, 4>{0, 4, 1, 3}));  // the nonlinear body
    EXPECT_EQ(dalo_model_native_cons_vars(m.get(), 2)[0], 3u);
    EXPECT_EQ(dalo_model_has_penalty_shapes(m.get()), 1);
    EXPECT_EQ(dalo_model_has_remainder(m.get()), 0);
    // Only the objective is in the flat arrays; the constraints are native.
    EXPECT_EQ(words(m.get(), 1), (std::vector<uint32_t>{0}));
    EXPECT_EQ(dalo_model_max_degree(m.get()), 1u);
    // A plain constraint record with the default shape is no penalty shape.
    ExprPtr plain = raw(1, {x0});
    add(plain, between(lin_body, 1, 1));
    EXPECT_EQ(dalo_model_has_penalty_shapes(ModelPtr(dalo_model_create(plain.get())).get()), 0);
}

TEST_F(ModelTest, FreeFormPenaltyBecomesTermsAndRemainder) {
    ExprPtr obj = raw(2, {x0});
    ExprPtr pen = raw(1, {x1, x3}, 7);
    add(pen, -1, {x0});
    add(obj, marked(pen));
    ModelPtr m(dalo_model_create(obj.get()));
    EXPECT_EQ(dalo_model_constant(m.get(), nullptr), 7);
    EXPECT_EQ(coeffs(m.get(), 1), (std::vector<int32_t>{1}));  // 2 x0 - x0
    EXPECT_EQ(words(m.get(), 2), (std::vector<uint32_t>{1, 2}));
    ASSERT_EQ(dalo_model_has_remainder(m.get()), 1);
    int64_t rc = 0;
    uint64_t count = 0;
    EXPECT_EQ(dalo_model_remainder_info(m.get(), &rc, &count), 2u);
    EXPECT_EQ(rc, 7);
    EXPECT_EQ(vec(dalo_model_remainder_head(m.get()), 3), (std::vector<uint64_t>{0, 1, 3}));
    EXPECT_EQ(vec(dalo_model_remainder_vars(m.get()), 3), (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(vec(dalo_model_remainder_coeffs(m.get()), 2), (std::vector<int32_t>{-1, 1}));
}

// Builds large enough for their arrays to be reused from one build to the next, of sizes
// that grow and shrink: every Model holds exactly its own square.
TEST(ModelBlocks, LargeBuildsInARowHoldExactArrays) {
    for (const uint64_t n : {2000u, 2600u, 1500u, 2000u}) {
        const std::vector<dalo_var> x = new_vars("b", n);
        ExprPtr sum(dalo_expr_create());
        for (uint64_t i = 0; i < n; ++i) add(sum, 1 + static_cast<int64_t>(i % 5), {x[i]});
        const ModelArrays a = arrays_of(
            ModelPtr(dalo_model_create_simplified(ExprPtr(dalo_expr_sqr(sum.get())).get())).get());
        ASSERT_EQ(a.vars.size(), n);
        ASSERT_EQ(a.coeffs[1].size(), n * (n - 1) / 2);
        for (uint64_t i = 0, at = 0; i < n; ++i) {
            const int32_t wi = 1 + static_cast<int32_t>(i % 5);
            ASSERT_EQ(a.coeffs[0][i], wi * wi);
            for (uint64_t j = i + 1; j < n; ++j, ++at) {
                ASSERT_EQ(a.words[1][2 * at], i);
                ASSERT_EQ(a.words[1][2 * at + 1], j);
                ASSERT_EQ(a.coeffs[1][at], 2 * wi * (1 + static_cast<int32_t>(j % 5)));
            }
        }
    }
}

TEST_F(ModelTest, BitVectorEvaluation) {
    ExprPtr e = raw(3, {x0, x2}, 1);
    add(e, -5, {x1});
    add(e, 7, {x0, x1 | DALO_NEG_BIT, x2});
    ModelPtr m(dalo_model_create(binary(e).get()));
    // Model indices: x0 -> 0, x1 -> 1, x2 -> 2.
    for (uint64_t bits = 0; bits < 8; ++bits) {
        int64_t b0 = bits & 1, b1 = (bits >> 1) & 1, b2 = (bits >> 2) & 1;
        int64_t want = 1 + 3 * b0 * b2 - 5 * b1 + 7 * b0 * (1 - b1) * b2;
        int64_t out = 0;
        EXPECT_EQ(dalo_model_eval(m.get(), &bits, &out), want);
        EXPECT_EQ(out, want);
        EXPECT_EQ(dalo_expr_eval_with_model(e.get(), m.get(), &bits, nullptr), want);
    }
    // A variable outside the Model drops its term.
    ExprPtr f = raw(2, {x0, x3}, 6);
    uint64_t all = 7;
    EXPECT_EQ(dalo_expr_eval_with_model(f.get(), m.get(), &all, nullptr), 6);
    // Native constraints are not part of the objective value.
    ExprPtr g = raw(0, {}, 5);
    add(g, between(var(x4), 1, 1));
    ModelPtr h(dalo_model_create(g.get()));
    uint64_t zero = 0;
    EXPECT_EQ(dalo_model_eval(h.get(), &zero, nullptr), 5);
}

TEST_F(ModelTest, ProfileLinesPerPhase) {
    ExprPtr e = raw(1, {x0, x1});
    add(e, 1, {x2});
    EXPECT_EXIT(
        {
            setenv("DALO_MODEL_PROFILE", "1", 1);
            dalo_model_destroy(dalo_model_create(binary(e).get()));
            std::exit(0);
        },
        testing::ExitedWithCode(0),
        "^  \\[Model\\] Phase 1a \\(parallel count \\+ validate \\+ var_flags\\): [0-9.e+-]+s\n"
        "  \\[Model\\] Phase 1b \\(merge counts \\+ allocate flat arrays\\): [0-9.e+-]+s\n"
        "  \\[Model\\] Phase 1c \\(parallel fill flat arrays\\): [0-9.e+-]+s\n"
        "  \\[Model\\] Phase 2 \\(parallel prefix-sum var_flags scan \\+ dense index_map\\): "
        "[0-9.e+-]+s\n"
        "  \\[Model\\] Phase 3 \\(parallel remap\\): [0-9.e+-]+s\n$");
}

using ModelDeathTest = ModelTest;

TEST_F(ModelDeathTest, ExpressionNotInBinaryForm) {
    EXPECT_FATAL(dalo_model_create(raw(1, {x1, x1}).get()),  // a duplicate
                 "Model: expression not simplified as binary (unsorted/duplicate vars). Call "
                 "simplify_as_binary() first.");
    EXPECT_FATAL(
        dalo_model_create(raw(1, {x0, x1 | DALO_NEG_BIT}).get()),
        "Model: expression not simplified as binary (negated literal in degree 1-2 term). Call "
        "simplify_as_binary() first.");
    EXPECT_FATAL(dalo_model_create(raw(1, {x0, DALO_INT_BIT | 999}).get()),
                 "Model: unknown integer variable index.");
    EXPECT_FATAL(dalo_model_create(raw(1, {x0, 0x3FFFFFF0u}).get()),
                 "Model: unknown binary variable index.");
}

TEST_F(ModelDeathTest, UnusableConstraintRecords) {
    auto create = [](const ExprPtr& c) {  // a Model of an objective of c alone
        ExprPtr obj(dalo_expr_create());
        add(obj, c);
        dalo_model_destroy(dalo_model_create(obj.get()));
    };
    // A classic ExprExpr without bounds, declared.
    ExprPtr ee(dalo_exprexprelem_create(ExprPtr(dalo_expr_create()).get(), raw(1, {x0}).get()));
    EXPECT_FATAL(create(marked(ee)), "Model: constraint carries no bounds");
    // The refusals of an unsimplified body share their frame.
    auto unsimplified = [](const std::string& why) {
        return "Model: constraint body not simplified as binary (" + why +
               "). Call simplify_as_binary() on the model expression first.";
    };
    EXPECT_FATAL(create(between(raw(1, {x2, x1}), 0, 1)), unsimplified("unsorted/duplicate vars"));
    EXPECT_FATAL(create(between(raw(1, {x2 | DALO_NEG_BIT}), 0, 1)),
                 unsimplified("negated literal in degree 1-2 term"));
    ExprPtr twice(dalo_expr_create_add_var_var(x1, x1));
    EXPECT_FATAL(create(between(twice, 0, 1)), unsimplified("duplicate variable across terms"));
    EXPECT_FATAL(
        create(ExprPtr(dalo_abs_term(raw(1, {x0, x1}).get(), 2))),
        "dalo::abs/relu: nonlinear bodies are not supported yet (the body must be linear)");
    ExprPtr constant_term = raw(3, {});
    dalo_expr_iadd_var(constant_term.get(), x0);
    EXPECT_FATAL(create(between(constant_term, 0, 1)),
                 "Model: native constraints require a linear body (degree >= 2 term found)");
    EXPECT_FATAL(create(between(raw(1, {x0, x1, x2 | DALO_NEG_BIT}), 0, 1)),
                 "Model: unexpected negated literal in constraint body");
    dalo_var k = dalo_new_int_var("k", 0, 2);
    EXPECT_FATAL(create(marked(raw(1, {k}))),
                 "Model: native integer variables (int_var) in a free-form penalty remainder are "
                 "not supported yet.");
}

TEST_F(ModelDeathTest, AccessorsRejectIndicesOutsideTheArrays) {
    ModelPtr m(dalo_model_create(raw(1, {x0, x1}).get()));
    const dalo_model* p = m.get();
    int64_t a, b, c, d;
    uint32_t u, v;
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[&] { dalo_model_var(p, 2); }, "dalo_model_var: index"},
        {[&] { dalo_model_term_vars(p, 3); }, "dalo_model_term_vars: degree"},
        {[&] { dalo_model_coeff_array(p, 3); }, "dalo_model_coeff_array: degree"},
        {[&] { dalo_model_coeff_at(p, 0, 0, nullptr); }, "dalo_model_coeff_at: degree"},
        {[&] { dalo_model_coeff_at(p, 2, 1, nullptr); }, "dalo_model_coeff_at: index"},
        {[&] { dalo_model_int_var_bounds(p, 0, &a, &b); }, "dalo_model_int_var_bounds: index"},
        {[&] { dalo_model_int_var_orig(p, 0); }, "dalo_model_int_var_orig: index"},
        {[&] { dalo_model_native_cons_nterms(p, 0); }, "dalo_model_native_cons_nterms: index"},
        {[&] { dalo_model_native_cons_vars(p, 0); }, "dalo_model_native_cons_vars: index"},
        {[&] { dalo_model_native_cons_coeffs(p, 0); }, "dalo_model_native_cons_coeffs: index"},
        {[&] { dalo_model_native_cons_bounds(p, 0, &a, &b, &c, &d); },
         "dalo_model_native_cons_bounds: index"},
        {[&] { dalo_model_native_cons_shape(p, 0, &u, &v); },
         "dalo_model_native_cons_shape: index"},
    };
    for (const auto& [call, what] : cases)
        EXPECT_FATAL(call(), std::string(what) + " out of range");
}

TEST_F(ModelDeathTest, LinearSolversRefuseSomeRecords) {
    ExprPtr obj(dalo_expr_create());
    ExprPtr nl = raw(1, {x0, x1});
    int64_t lo[1] = {2}, hi[1] = {3};
    add(obj, ExprPtr(dalo_cons_equal(var(x2).get(), lo, hi, 1)));
    add(obj, between(nl, 0, 1));
    ModelPtr m(dalo_model_create(obj.get()));
    EXPECT_FATAL(dalo_model_native_cons_nterms(m.get(), 0),
                 "MIP/ILP solvers do not support allowed-value set constraints (equal{...}) inside "
                 "cons(). Use a bundled heuristic solver (BriskSolver/SweepSolver/KELPSolver).");
}

TEST_F(ModelDeathTest, EvaluatorsRefuse) {
    dalo_var k = dalo_new_int_var("k", 0, 2);
    ModelPtr m(dalo_model_create(raw(1, {x0, k}).get()));
    uint64_t bits = 0;
    EXPECT_FATAL(dalo_model_eval(m.get(), &bits, nullptr),
                 "Model eval: native integer variables (int_var) are not supported yet.");
    EXPECT_FATAL(dalo_expr_eval_with_model(raw(1, {k}).get(), m.get(), &bits, nullptr),
                 "eval_with_model: native integer variables (int_var) are not supported yet (bit "
                 "assignments cannot value integer atoms).");
    ExprPtr d(dalo_cons_between(raw(1, {x0}).get(), 0, 1));
    EXPECT_FATAL(dalo_expr_eval_with_model(d.get(), m.get(), &bits, nullptr),
                 "dalo::cons: 'eval_with_model (evaluate against a Sol instead)' is not allowed on "
                 "an expression with declared constraints");
}

}  // namespace
