// ILP export: columns, objective, rows and their implied sides, every rejection, decoding,
// names, and a round trip through two MIP solvers against exhaustive search.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dalo.h"
#include "support/expr_util.hpp"
#include "support/fatal.hpp"
#include "support/mip.hpp"

using dalo_test::ExprPtr;

namespace {

struct ModelDeleter {
    void operator()(dalo_model* m) const { dalo_model_destroy(m); }
};
using ModelPtr = std::unique_ptr<dalo_model, ModelDeleter>;
struct IlpDeleter {
    void operator()(dalo_ilp* p) const { dalo_ilp_destroy(p); }
};
using IlpPtr = std::unique_ptr<dalo_ilp, IlpDeleter>;
struct SolDeleter {
    void operator()(dalo_sol* s) const { dalo_sol_destroy(s); }
};
using SolPtr = std::unique_ptr<dalo_sol, SolDeleter>;

ExprPtr raw(int64_t coeff, std::vector<dalo_var> vs, int64_t constant = 0) {
    return ExprPtr(dalo_expr_create_raw_term(coeff, vs.data(), vs.size(), constant));
}
void add(const ExprPtr& e, int64_t coeff, std::vector<dalo_var> vs) {
    dalo_expr_iadd_raw_term(e.get(), coeff, vs.data(), vs.size());
}
void add(const ExprPtr& e, const ExprPtr& f) { dalo_expr_iadd_expr(e.get(), f.get()); }
ModelPtr compile(const ExprPtr& e) {
    ExprPtr b(dalo_expr_simplify_as_binary(e.get()));
    return ModelPtr(dalo_model_create(b.get()));
}
ExprPtr cons(const ExprPtr& body, int64_t lo, int64_t hi) {
    return ExprPtr(dalo_cons_between(body.get(), lo, hi));
}
ExprPtr mark(const ExprPtr& e) { return ExprPtr(dalo_cons_mark(e.get())); }

struct Row {
    std::vector<uint32_t> cols;
    std::vector<int64_t> coeffs;
    int64_t lower, upper;
    uint32_t lower_implied, upper_implied;
};
Row row(const dalo_ilp* p, uint64_t i) {
    Row r{};
    for (uint64_t k = 0; k < dalo_ilp_row_nnz(p, i); ++k) {
        r.cols.push_back(dalo_ilp_row_col(p, i, k));
        r.coeffs.push_back(dalo_ilp_row_coeff(p, i, k, nullptr));
    }
    dalo_ilp_row_bounds(p, i, &r.lower, &r.upper, &r.lower_implied, &r.upper_implied);
    return r;
}

std::string scratch(const std::string& name) {
    return testing::TempDir() + "dalo_ilp_" + std::to_string(getpid()) + "_" + name;
}

TEST(IlpBuild, LinearModelGivesBinaryColumnsAndNoRows) {
    dalo_var x = dalo_new_var("x"), y = dalo_new_var("y"), z = dalo_new_var("z");
    (void)y;
    ExprPtr e = raw(3, {x}, 7);
    add(e, -2, {z});
    ModelPtr m = compile(e);
    IlpPtr p(dalo_model_ilp_build(m.get()));
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(dalo_ilp_last_error(), "");
    ASSERT_EQ(dalo_ilp_ncols(p.get()), 2u);
    for (uint32_t c = 0; c < 2; ++c) {
        int64_t lo = -1, hi = -1;
        dalo_ilp_col_bounds(p.get(), c, &lo, &hi);
        EXPECT_EQ(dalo_ilp_col_kind(p.get(), c), 0u);
        EXPECT_EQ(dalo_ilp_col_model_var(p.get(), c), c);
        EXPECT_EQ(lo, 0);
        EXPECT_EQ(hi, 1);
        EXPECT_EQ(dalo_ilp_col_nbits(p.get(), c), 0u);
    }
    int64_t out = 0;
    EXPECT_EQ(dalo_ilp_obj(p.get(), 0, &out), 3);
    EXPECT_EQ(out, 3);
    EXPECT_EQ(dalo_ilp_obj(p.get(), 1, nullptr), -2);
    EXPECT_EQ(dalo_ilp_obj_constant(p.get(), &out), 7);
    EXPECT_EQ(dalo_ilp_nrows(p.get()), 0u);
    EXPECT_STREQ(dalo_ilp_col_name(p.get(), 0), "x");
    EXPECT_STREQ(dalo_ilp_col_name(p.get(), 1), "z");
}

TEST(IlpBuild, HigherDegreeObjectiveTermsMustBePenaltyTerms) {
    dalo_var x = dalo_new_var("x"), y = dalo_new_var("y");
    ExprPtr e = raw(1, {x});
    add(e, 2, {x, y});
    ModelPtr m = compile(e);
    EXPECT_EQ(dalo_model_ilp_build(m.get()), nullptr);
    EXPECT_STREQ(dalo_ilp_last_error(),
                 "not an ILP: the objective has a degree-2 term (only free-form penalty terms "
                 "enforced to 0 by their hard rows are allowed). Keep the objective linear, or "
                 "solve without the ILP option.");

    // The same product as a free-form penalty term is a hard row instead.
    ExprPtr f = raw(1, {x});
    add(f, mark(raw(5, {x, y})));
    ModelPtr m2 = compile(f);
    IlpPtr p(dalo_model_ilp_build(m2.get()));
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(dalo_ilp_last_error(), "");
    EXPECT_EQ(dalo_ilp_obj(p.get(), 0, nullptr), 1);
    EXPECT_EQ(dalo_ilp_obj(p.get(), 1, nullptr), 0);
    ASSERT_EQ(dalo_ilp_nrows(p.get()), 1u);
    Row r = row(p.get(), 0);
    EXPECT_EQ(r.cols, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(r.coeffs, (std::vector<int64_t>{1, 1}));
    EXPECT_EQ(r.lower, 0);
    EXPECT_EQ(r.lower_implied, 1u);
    EXPECT_EQ(r.upper, 1);
    EXPECT_EQ(r.upper_implied, 0u);
}

TEST(IlpBuild, PenaltyRowsKeepLiteralOrderAndNegation) {
    dalo_var a = dalo_new_var("a"), b = dalo_new_var("b"), c = dalo_new_var("c");
    for (bool negate : {false, true}) {
        ExprPtr e(dalo_expr_create_int(0));
        add(e, mark(raw(5, {a, b, negate ? (c | DALO_NEG_BIT) : c})));
        ModelPtr m = compile(e);
        IlpPtr p(dalo_model_ilp_build(m.get()));
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(dalo_ilp_nrows(p.get()), 1u);
        Row r = row(p.get(), 0);
        EXPECT_EQ(r.cols, (std::vector<uint32_t>{0, 1, 2}));
        EXPECT_EQ(r.coeffs, (std::vector<int64_t>{1, 1, negate ? -1 : 1}));
        EXPECT_EQ(r.upper, negate ? 1 : 2);
        EXPECT_EQ(r.lower, 0);
        EXPECT_EQ(r.lower_implied, 1u);
        EXPECT_EQ(r.upper_implied, 0u);
    }
}

TEST(IlpBuild, NativeRowsShiftByTheBodyConstantAndFlagImpliedSides) {
    dalo_var x = dalo_new_var("x"), y = dalo_new_var("y");
    dalo_var k = dalo_new_int_var("k", -2, 3);
    struct Case {
        int64_t lo, hi, constant;
        int64_t row_lo, row_hi;
        uint32_t lo_implied, hi_implied;
    };
    for (Case t : {Case{1, 4, 0, 1, 4, 0, 0}, Case{0, 5, 0, 0, 5, 1, 1}, Case{1, 4, 1, 0, 3, 1, 0},
                   Case{-3, 9, 0, -3, 9, 1, 1}}) {
        ExprPtr body = raw(2, {x}, t.constant);
        add(body, 3, {y});
        ExprPtr e = raw(1, {x});
        add(e, cons(body, t.lo, t.hi));
        ModelPtr m = compile(e);
        IlpPtr p(dalo_model_ilp_build(m.get()));
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(dalo_ilp_nrows(p.get()), 1u);
        Row r = row(p.get(), 0);
        EXPECT_EQ(r.cols, (std::vector<uint32_t>{0, 1}));
        EXPECT_EQ(r.coeffs, (std::vector<int64_t>{2, 3}));
        EXPECT_EQ(r.lower, t.row_lo);
        EXPECT_EQ(r.upper, t.row_hi);
        EXPECT_EQ(r.lower_implied, t.lo_implied) << t.lo << " " << t.hi << " " << t.constant;
        EXPECT_EQ(r.upper_implied, t.hi_implied) << t.lo << " " << t.hi << " " << t.constant;
    }

    // An integer atom: its own column, and its bounds in the activity (-2x - 4 .. 2x + 6).
    ExprPtr body = raw(-1, {x});
    add(body, 2, {k});
    ExprPtr e = raw(3, {k});
    add(e, cons(body, -5, 5));
    ModelPtr m = compile(e);
    IlpPtr p(dalo_model_ilp_build(m.get()));
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(dalo_ilp_ncols(p.get()), 2u);
    EXPECT_EQ(dalo_ilp_col_kind(p.get(), 1), 1u);
    EXPECT_EQ(dalo_ilp_col_model_var(p.get(), 1), 0u);
    int64_t lo = 0, hi = 0;
    dalo_ilp_col_bounds(p.get(), 1, &lo, &hi);
    EXPECT_EQ(lo, -2);
    EXPECT_EQ(hi, 3);
    EXPECT_EQ(dalo_ilp_obj(p.get(), 0, nullptr), 0);
    EXPECT_EQ(dalo_ilp_obj(p.get(), 1, nullptr), 3);
    EXPECT_STREQ(dalo_ilp_col_name(p.get(), 1), "k");
    Row r = row(p.get(), 0);
    EXPECT_EQ(r.cols, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(r.coeffs, (std::vector<int64_t>{-1, 2}));
    EXPECT_EQ(r.lower_implied, 1u);  // minimum activity -5
    EXPECT_EQ(r.upper_implied, 0u);  // maximum activity 6
}

TEST(IlpBuild, RejectionsComeInBuildOrderAndTheErrorIsPerThread) {
    dalo_var x = dalo_new_var("x"), y = dalo_new_var("y");
    const char* shape_msg =
        "dalo::abs/relu terms are not supported in ILP mode yet; use the QUBO mode (drop the ilp "
        "option) or a bundled heuristic solver.";
    auto fails_with = [](const ExprPtr& e, const std::string& msg) {
        ModelPtr m = compile(e);
        EXPECT_EQ(dalo_model_ilp_build(m.get()), nullptr) << msg;
        EXPECT_EQ(std::string(dalo_ilp_last_error()), msg);
    };
    ExprPtr diff = raw(1, {x});
    add(diff, -1, {y});
    {  // An abs shape, even with a degree-2 objective term after it.
        ExprPtr e = raw(1, {x, y});
        add(e, ExprPtr(dalo_abs_term(diff.get(), 1)));
        fails_with(e, shape_msg);
        ExprPtr f = raw(1, {x});
        add(f, ExprPtr(dalo_relu_term(diff.get(), 2)));
        fails_with(f, shape_msg);
    }
    {
        ExprPtr c = cons(diff, 0, 0);
        dalo_expr_imul_int(c.get(), -2);
        ExprPtr e = raw(1, {x});
        add(e, c);
        fails_with(e,
                   "a cons() constraint carries a NEGATIVE weight; ILP mode enforces constraints "
                   "as hard rows and ignores weights, so a negative weight (rewarding violation) "
                   "cannot be expressed. Use a bundled heuristic solver "
                   "(BriskSolver/SweepSolver/KELPSolver).");
    }
    {
        ExprPtr e = raw(1, {x});
        add(e, mark(raw(1, {x, y}, 1)));
        fails_with(e,
                   "not an ILP: the free-form penalty carries a constant term, so 'penalty == 0' "
                   "cannot be enforced; remove the constant.");
    }
    {
        ExprPtr e = raw(1, {x});
        add(e, mark(raw(-3, {x, y})));
        fails_with(e,
                   "not an ILP: free-form penalty terms must have positive coefficients to be "
                   "enforced as hard constraints.");
    }
    // Another thread's build leaves this thread's text alone; a success here empties it.
    const std::string before = dalo_ilp_last_error();
    std::thread([&] {
        EXPECT_STREQ(dalo_ilp_last_error(), "");
        ModelPtr m = compile(raw(1, {x}));
        IlpPtr p(dalo_model_ilp_build(m.get()));
        EXPECT_NE(p, nullptr);
    }).join();
    EXPECT_EQ(std::string(dalo_ilp_last_error()), before);
    ModelPtr m = compile(raw(1, {x}));
    IlpPtr p(dalo_model_ilp_build(m.get()));
    EXPECT_NE(p, nullptr);
    EXPECT_STREQ(dalo_ilp_last_error(), "");
}

TEST(IlpBuild, VarIntsFoldIntoIntegerColumnsWhenUsedOnlyAsEncoded) {
    // n in [10, 17] over bits with coefficients 1, 2, 4; objective 3n = 30 + 3b0 + 6b1 + 12b2.
    ExprPtr n(dalo_varintelem_create("n", 10, 17));
    ASSERT_EQ(dalo_varintelem_var_count(n.get()), 3u);
    dalo_var x = dalo_new_var("x");
    ExprPtr e(dalo_expr_clone(n.get()));
    dalo_expr_imul_int(e.get(), 3);
    add(e, 1, {x});
    ModelPtr m = compile(e);
    IlpPtr p(dalo_model_ilp_build(m.get()));
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(dalo_ilp_ncols(p.get()), 2u);  // x, then the folded column
    EXPECT_EQ(dalo_ilp_col_kind(p.get(), 0), 0u);
    EXPECT_EQ(dalo_ilp_col_kind(p.get(), 1), 1u);
    EXPECT_EQ(dalo_ilp_col_model_var(p.get(), 1), 0xFFFFFFFFu);
    int64_t lo = 0, hi = 0;
    dalo_ilp_col_bounds(p.get(), 1, &lo, &hi);
    EXPECT_EQ(lo, 10);
    EXPECT_EQ(hi, 17);
    EXPECT_EQ(dalo_ilp_obj(p.get(), 1, nullptr), 3);
    EXPECT_EQ(dalo_ilp_obj_constant(p.get(), nullptr), dalo_model_constant(m.get(), nullptr) - 30);
    EXPECT_STREQ(dalo_ilp_col_name(p.get(), 1), "n");
    ASSERT_EQ(dalo_ilp_col_nbits(p.get(), 1), 3u);
    for (uint32_t k = 0; k < 3; ++k) {
        EXPECT_EQ(dalo_ilp_col_bit_var(p.get(), 1, k),
                  dalo_model_var_index(m.get(), dalo_varintelem_var(n.get(), k)));
        EXPECT_EQ(dalo_ilp_col_bit_coeff(p.get(), 1, k, nullptr), int64_t{1} << k);
    }
    uint8_t bits[3];
    dalo_ilp_col_decode(p.get(), 1, 15, bits);
    EXPECT_EQ(std::vector<int>(bits, bits + 3), (std::vector<int>{1, 0, 1}));
    dalo_ilp_col_decode(p.get(), 1, 10, bits);
    EXPECT_EQ(std::vector<int>(bits, bits + 3), (std::vector<int>{0, 0, 0}));
    EXPECT_FATAL(dalo_ilp_col_decode(p.get(), 1, 18, bits),
                 "dalo_ilp_col_decode: integer value out of the encoded range");
    EXPECT_FATAL(dalo_ilp_col_decode(p.get(), 1, 9, bits),
                 "dalo_ilp_col_decode: integer value out of the encoded range");

    // Objective coefficients out of proportion (3, 6, 11): the bits stay binary columns.
    ExprPtr f(dalo_expr_clone(n.get()));
    dalo_expr_imul_int(f.get(), 3);
    add(f, -1, {dalo_varintelem_var(n.get(), 2)});
    ModelPtr m2 = compile(f);
    IlpPtr p2(dalo_model_ilp_build(m2.get()));
    ASSERT_NE(p2, nullptr);
    EXPECT_EQ(dalo_ilp_ncols(p2.get()), 3u);
    for (uint32_t c = 0; c < 3; ++c) EXPECT_EQ(dalo_ilp_col_kind(p2.get(), c), 0u);

    // A bit inside a free-form penalty term keeps the record from folding too.
    ExprPtr g(dalo_expr_clone(n.get()));
    add(g, mark(raw(1, {dalo_varintelem_var(n.get(), 0), x})));
    ModelPtr m3 = compile(g);
    IlpPtr p3(dalo_model_ilp_build(m3.get()));
    ASSERT_NE(p3, nullptr);
    EXPECT_EQ(dalo_ilp_ncols(p3.get()), 4u);
}

TEST(IlpNames, LegalAndDistinct) {
    dalo_var v[6] = {dalo_new_var("a b"), dalo_new_var("a_b"), dalo_new_var("1st"),
                     dalo_new_var("e1"),  dalo_new_var("a b"), dalo_new_var("dalo_constant")};
    uint64_t two = 2;
    dalo_var arr = dalo_new_var_array("q", &two, 1);
    ExprPtr e = raw(1, {v[0]}, 4);
    for (int i = 1; i < 6; ++i) add(e, i + 1, {v[i]});
    add(e, 1, {arr + 1});
    ModelPtr m = compile(e);
    IlpPtr p(dalo_model_ilp_build(m.get()));
    ASSERT_NE(p, nullptr);
    std::vector<std::string> names;
    for (uint32_t c = 0; c < dalo_ilp_ncols(p.get()); ++c)
        names.push_back(dalo_ilp_col_name(p.get(), c));
    EXPECT_EQ(names, (std::vector<std::string>{"a_b", "a_b_2", "v_1st", "v_e1", "a_b_3",
                                               "dalo_constant", "q_1_"}));
    // The constant column takes the next free name.
    const std::string path = scratch("names.lp");
    ASSERT_EQ(dalo_ilp_write_lp(p.get(), path.c_str()), 0);
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("+4 dalo_constant_2"), std::string::npos) << text;
    EXPECT_NE(text.find(" dalo_constant_2 = 1"), std::string::npos) << text;
    std::remove(path.c_str());
}

TEST(IlpWrite, UnwritablePathsFailWithTheReason) {
    dalo_var x = dalo_new_var("x");
    ModelPtr m = compile(raw(1, {x}));
    IlpPtr p(dalo_model_ilp_build(m.get()));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(dalo_ilp_write_lp(p.get(), "/nonexistent-dir/a.lp"), -1);
    EXPECT_STREQ(dalo_ilp_last_error(),
                 "cannot open '/nonexistent-dir/a.lp' for writing: No such file or directory");
    EXPECT_EQ(dalo_ilp_write_mps(p.get(), "/nonexistent-dir/a.mps"), -1);
    EXPECT_STREQ(dalo_ilp_last_error(),
                 "cannot open '/nonexistent-dir/a.mps' for writing: No such file or directory");
    const std::string path = scratch("ok.mps");
    EXPECT_EQ(dalo_ilp_write_mps(p.get(), path.c_str()), 0);
    EXPECT_STREQ(dalo_ilp_last_error(), "");
    std::remove(path.c_str());
}

TEST(IlpDeath, NonlinearBodiesAllowedSetsAndBadIndices) {
    dalo_var x = dalo_new_var("x"), y = dalo_new_var("y"), z = dalo_new_var("z");
    ExprPtr body = raw(1, {x, y});
    add(body, 1, {z});
    ExprPtr e = raw(1, {x});
    add(e, cons(body, 0, 1));
    ModelPtr m = compile(e);
    EXPECT_FATAL(dalo_model_ilp_build(m.get()),
                 "MIP/ILP solvers do not support nonlinear (degree>=2) constraint bodies inside "
                 "cons(). Call expand_cons() on the expression to get the classic penalty form, "
                 "or use a bundled heuristic solver (BriskSolver/SweepSolver/KELPSolver).");
    int64_t lo[2] = {0, 2}, hi[2] = {0, 2};
    ExprPtr sum = raw(1, {x});
    add(sum, 1, {y});
    ExprPtr f = raw(1, {x});
    add(f, ExprPtr(dalo_cons_equal(sum.get(), lo, hi, 2)));
    ModelPtr m2 = compile(f);
    EXPECT_FATAL(dalo_model_ilp_build(m2.get()),
                 "MIP/ILP solvers do not support allowed-value set constraints (equal{...}) "
                 "inside cons(). Use a bundled heuristic solver "
                 "(BriskSolver/SweepSolver/KELPSolver).");

    ModelPtr m3 = compile(raw(1, {x}));
    IlpPtr p(dalo_model_ilp_build(m3.get()));
    ASSERT_NE(p, nullptr);
    EXPECT_FATAL(dalo_ilp_col_kind(p.get(), 1), "dalo_ilp_col_kind: index out of range");
    EXPECT_FATAL(dalo_ilp_col_bit_var(p.get(), 0, 0), "dalo_ilp_col_bit_var: index out of range");
    EXPECT_FATAL(dalo_ilp_row_nnz(p.get(), 0), "dalo_ilp_row_nnz: index out of range");
    uint8_t bits[1];
    EXPECT_FATAL(dalo_ilp_col_decode(p.get(), 0, 1, bits),
                 "dalo_ilp_col_decode: integer value out of the encoded range");
}

// ---- round trip through CBC and GLPK ----

struct Instance {
    ExprPtr expr;  // simplified, what the Model is compiled from
    ModelPtr model;
    int64_t best = 0;
    bool feasible = false;
};

// A random linear objective over 6 bits and one integer in [-2, 3], two declared
// constraints made feasible by a random point, and free-form penalty terms.
Instance random_instance(std::mt19937_64& rng) {
    uint64_t six = 6;
    const dalo_var x = dalo_new_var_array("x", &six, 1);
    const dalo_var k = dalo_new_int_var("k", -2, 3);
    auto coef = [&](int span) { return static_cast<int64_t>(rng() % (2 * span + 1)) - span; };
    std::vector<int64_t> point(6);
    for (auto& b : point) b = static_cast<int64_t>(rng() % 2);
    const int64_t kp = static_cast<int64_t>(rng() % 6) - 2;

    ExprPtr e(dalo_expr_create_int(coef(9)));
    for (int i = 0; i < 6; ++i) add(e, coef(9), {x + static_cast<dalo_var>(i)});
    add(e, coef(5), {k});
    struct Cons {
        std::vector<int64_t> a;
        int64_t ak, lo, hi;
    };
    std::vector<Cons> all;
    for (int c = 0; c < 2; ++c) {
        Cons t{std::vector<int64_t>(6), coef(3), 0, 0};
        ExprPtr body(dalo_expr_create_int(0));
        int64_t at = t.ak * kp;
        for (int i = 0; i < 6; ++i) {
            t.a[i] = coef(4);
            add(body, t.a[i], {x + static_cast<dalo_var>(i)});
            at += t.a[i] * point[i];
        }
        add(body, t.ak, {k});
        t.lo = c == 0 ? at : at - static_cast<int64_t>(rng() % 3);
        t.hi = c == 0 ? at : at + static_cast<int64_t>(rng() % 3);
        add(e, cons(body, t.lo, t.hi));
        all.push_back(t);
    }
    // Penalty terms that the random point satisfies.
    std::vector<std::vector<dalo_var>> penalties;
    while (penalties.size() < 2) {
        std::vector<dalo_var> lits;
        bool zero = false;
        const int degree = 2 + static_cast<int>(rng() % 2);
        for (int i = 0; i < 6 && static_cast<int>(lits.size()) < degree; ++i) {
            if (rng() % 2) continue;
            const bool neg = degree == 3 && rng() % 3 == 0;
            lits.push_back(neg ? ((x + static_cast<dalo_var>(i)) | DALO_NEG_BIT)
                               : x + static_cast<dalo_var>(i));
            zero |= neg ? point[i] == 1 : point[i] == 0;
        }
        if (static_cast<int>(lits.size()) == degree && zero) penalties.push_back(lits);
    }
    ExprPtr pen(dalo_expr_create_int(0));
    for (const auto& lits : penalties) add(pen, 1 + static_cast<int64_t>(rng() % 4), lits);
    add(e, mark(pen));

    Instance out;
    out.expr = ExprPtr(dalo_expr_simplify_as_binary(e.get()));
    out.model = ModelPtr(dalo_model_create(out.expr.get()));
    // Exhaustive search over the feasible points: the objective is e's linear part.
    std::vector<int64_t> value(x + 6, 0);
    for (uint32_t mask = 0; mask < 64; ++mask) {
        for (int i = 0; i < 6; ++i) value[x + i] = (mask >> i) & 1;
        for (int64_t kv = -2; kv <= 3; ++kv) {
            bool ok = true;
            for (const Cons& t : all) {
                int64_t s = t.ak * kv;
                for (int i = 0; i < 6; ++i) s += t.a[i] * value[x + i];
                ok &= s >= t.lo && s <= t.hi;
            }
            for (const auto& lits : penalties) {
                int64_t prod = 1;
                for (dalo_var l : lits) {
                    const int64_t b = value[l & ~DALO_NEG_BIT];
                    prod *= (l & DALO_NEG_BIT) ? 1 - b : b;
                }
                ok &= prod == 0;
            }
            if (!ok) continue;
            SolPtr s(dalo_sol_create(out.model.get()));
            for (int i = 0; i < 6; ++i) {
                if (dalo_model_has(out.model.get(), x + i))
                    dalo_sol_set(s.get(), x + i, static_cast<uint32_t>(value[x + i]));
            }
            if (dalo_model_int_var_count(out.model.get()) > 0) dalo_sol_set_int(s.get(), k, kv);
            const int64_t energy = dalo_sol_compute_energy(s.get(), nullptr);
            if (!out.feasible || energy < out.best) out.best = energy;
            out.feasible = true;
        }
    }
    return out;
}

// The Sol of a solver's column values: binary columns set their variable, atoms their
// integer; returns its energy after checking that it violates nothing.
int64_t energy_of(const Instance& in, const dalo_ilp* p,
                  const std::function<double(uint32_t)>& value_of) {
    SolPtr s(dalo_sol_create(in.model.get()));
    for (uint32_t c = 0; c < dalo_ilp_ncols(p); ++c) {
        const int64_t v = std::llround(value_of(c));
        const uint32_t mv = dalo_ilp_col_model_var(p, c);
        if (dalo_ilp_col_kind(p, c) == 0) {
            dalo_sol_set(s.get(), dalo_model_var(in.model.get(), mv), static_cast<uint32_t>(v));
        } else {
            dalo_sol_set_int(s.get(), dalo_model_int_var_orig(in.model.get(), mv), v);
        }
    }
    EXPECT_EQ(dalo_cons_violation_count(in.expr.get(), s.get()), 0u);
    return dalo_sol_compute_energy(s.get(), nullptr);
}

TEST(IlpRoundTrip, MipSolversReachTheExhaustiveOptimumThroughBothFormats) {
    ASSERT_TRUE(dalo_test::have_mip_solvers()) << "cbc and glpsol are installed by scripts/deps.sh";
    std::mt19937_64 rng(20261206);
    for (int round = 0; round < 4; ++round) {
        Instance in = random_instance(rng);
        ASSERT_TRUE(in.feasible);
        IlpPtr p(dalo_model_ilp_build(in.model.get()));
        ASSERT_NE(p, nullptr) << dalo_ilp_last_error();
        for (const char* format : {"lp", "mps"}) {
            SCOPED_TRACE(std::string(format) + " round " + std::to_string(round));
            const std::string file = scratch(std::to_string(round) + "." + format);
            ASSERT_EQ(std::string(format) == "lp" ? dalo_ilp_write_lp(p.get(), file.c_str())
                                                  : dalo_ilp_write_mps(p.get(), file.c_str()),
                      0);
            dalo_test::MipAnswer cbc = dalo_test::solve_with_cbc(file, file + ".cbc");
            ASSERT_TRUE(cbc.optimal);
            EXPECT_EQ(std::llround(cbc.objective), in.best);
            EXPECT_EQ(
                energy_of(in, p.get(),
                          [&](uint32_t c) { return cbc.values[dalo_ilp_col_name(p.get(), c)]; }),
                in.best);
            dalo_test::MipAnswer glpk = dalo_test::solve_with_glpk(
                file, std::string(format) == "lp" ? "lp" : "freemps", file + ".glpk");
            ASSERT_TRUE(glpk.optimal);
            EXPECT_EQ(std::llround(glpk.objective), in.best);
            EXPECT_EQ(
                energy_of(in, p.get(),
                          [&](uint32_t c) { return glpk.values["#" + std::to_string(c + 1)]; }),
                in.best);
            if (std::getenv("DALO_KEEP_FILES") == nullptr)
                for (const std::string& f : {file, file + ".cbc", file + ".glpk"})
                    std::remove(f.c_str());
        }
    }
}

// A bit-encoded integer in the objective and in a declared row folds into one integer
// column; the solvers' value decodes back into its bits.
TEST(IlpRoundTrip, FoldedVarIntDecodesToBitsAtTheOptimum) {
    ASSERT_TRUE(dalo_test::have_mip_solvers());
    std::mt19937_64 rng(77);
    int solved = 0;
    for (int round = 0; round < 3; ++round) {
        ExprPtr n(dalo_varintelem_create("n", -2, 5));  // bits 1, 2, 4
        uint64_t four = 4;
        const dalo_var x = dalo_new_var_array("w", &four, 1);
        auto coef = [&](int span) { return static_cast<int64_t>(rng() % (2 * span + 1)) - span; };
        const int64_t cn = coef(4);
        std::vector<int64_t> c(4), a(4);
        ExprPtr e(dalo_expr_clone(n.get()));
        dalo_expr_imul_int(e.get(), cn);
        ExprPtr body(dalo_expr_clone(n.get()));
        for (int i = 0; i < 4; ++i) {
            c[i] = coef(6);
            a[i] = coef(3);
            add(e, c[i], {x + static_cast<dalo_var>(i)});
            add(body, a[i], {x + static_cast<dalo_var>(i)});
        }
        const int64_t lo = coef(3), hi = lo + 2;
        add(e, cons(body, lo, hi));
        add(e, mark(raw(2, {x, x + 1})));
        ExprPtr expr(dalo_expr_simplify_as_binary(e.get()));
        ModelPtr model(dalo_model_create(expr.get()));

        // Exhaustive: every value of n and every x.
        bool feasible = false;
        int64_t best = 0;
        for (int64_t nv = -2; nv <= 5; ++nv) {
            for (uint32_t mask = 0; mask < 16; ++mask) {
                int64_t s = nv, obj = cn * nv;
                for (int i = 0; i < 4; ++i) {
                    const int64_t b = (mask >> i) & 1;
                    s += a[i] * b;
                    obj += c[i] * b;
                }
                if (s < lo || s > hi || ((mask & 3) == 3)) continue;
                if (!feasible || obj < best) best = obj;
                feasible = true;
            }
        }
        if (!feasible) continue;
        IlpPtr p(dalo_model_ilp_build(model.get()));
        ASSERT_NE(p, nullptr) << dalo_ilp_last_error();
        uint32_t folded = 0;
        for (uint32_t col = 0; col < dalo_ilp_ncols(p.get()); ++col) {
            folded += dalo_ilp_col_nbits(p.get(), col) > 0 ? 1 : 0;
        }
        EXPECT_EQ(folded, 1u);
        ++solved;
        for (const char* format : {"lp", "mps"}) {
            const std::string file = scratch("fold" + std::to_string(round) + "." + format);
            ASSERT_EQ(std::string(format) == "lp" ? dalo_ilp_write_lp(p.get(), file.c_str())
                                                  : dalo_ilp_write_mps(p.get(), file.c_str()),
                      0);
            dalo_test::MipAnswer cbc = dalo_test::solve_with_cbc(file, file + ".cbc");
            dalo_test::MipAnswer glpk = dalo_test::solve_with_glpk(
                file, std::string(format) == "lp" ? "lp" : "freemps", file + ".glpk");
            for (dalo_test::MipAnswer* answer : {&cbc, &glpk}) {
                ASSERT_TRUE(answer->optimal);
                EXPECT_EQ(std::llround(answer->objective), best);
                SolPtr s(dalo_sol_create(model.get()));
                for (uint32_t col = 0; col < dalo_ilp_ncols(p.get()); ++col) {
                    const double v = answer == &cbc
                                         ? answer->values[dalo_ilp_col_name(p.get(), col)]
                                         : answer->values["#" + std::to_string(col + 1)];
                    const uint32_t nbits = dalo_ilp_col_nbits(p.get(), col);
                    if (nbits == 0) {
                        dalo_sol_set(
                            s.get(),
                            dalo_model_var(model.get(), dalo_ilp_col_model_var(p.get(), col)),
                            static_cast<uint32_t>(std::llround(v)));
                        continue;
                    }
                    std::vector<uint8_t> bits(nbits);
                    dalo_ilp_col_decode(p.get(), col, std::llround(v), bits.data());
                    for (uint32_t k = 0; k < nbits; ++k) {
                        dalo_sol_set(
                            s.get(),
                            dalo_model_var(model.get(), dalo_ilp_col_bit_var(p.get(), col, k)),
                            bits[k]);
                    }
                }
                EXPECT_EQ(dalo_cons_violation_count(expr.get(), s.get()), 0u);
                EXPECT_EQ(dalo_sol_compute_energy(s.get(), nullptr), best);
            }
            if (std::getenv("DALO_KEEP_FILES") == nullptr)
                for (const std::string& f : {file, file + ".cbc", file + ".glpk"})
                    std::remove(f.c_str());
        }
    }
    EXPECT_GE(solved, 2);
}

}  // namespace
