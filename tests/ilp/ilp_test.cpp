// ILP export: columns, objective, rows and their implied sides, every rejection, decoding,
// names, and a round trip through two MIP solvers against exhaustive search.
#include "support/suite.hpp"

#include <fstream>
#include <iterator>
#include <numeric>

#include "support/mip.hpp"
#include "support/model_util.hpp"

using namespace dalo_test;
using namespace dalo_test::build;

namespace {

struct Built {
    ModelPtr model;
    IlpPtr ilp;
};
Built build_ilp(const ExprPtr& e) {
    Built b{compile(e), nullptr};
    b.ilp.reset(dalo_model_ilp_build(b.model.get()));
    return b;
}

struct Col {
    uint32_t kind, model_var;
    int64_t lo, hi;
    uint32_t nbits;
    std::string name;
    bool operator==(const Col&) const = default;
};
Col col(const dalo_ilp* p, uint32_t c) {
    Col out{dalo_ilp_col_kind(p, c),  dalo_ilp_col_model_var(p, c), 0, 0,
            dalo_ilp_col_nbits(p, c), dalo_ilp_col_name(p, c)};
    dalo_ilp_col_bounds(p, c, &out.lo, &out.hi);
    return out;
}

struct Row {
    std::vector<uint32_t> cols;
    std::vector<int64_t> coeffs;
    int64_t lower, upper;
    uint32_t lower_implied, upper_implied;
    bool operator==(const Row&) const = default;
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

TEST(IlpBuild, PenaltyTermsAreHardRowsKeepingLiteralOrderAndNegation) {
    dalo_var a = dalo_new_var("a"), b = dalo_new_var("b"), c = dalo_new_var("c");
    for (bool negate : {false, true}) {
        ExprPtr e = raw(1, {a});
        add(e, marked(raw(5, {a, b, negate ? (c | DALO_NEG_BIT) : c})));
        auto [m, p] = build_ilp(e);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(dalo_ilp_obj(p.get(), 0, nullptr), 1);
        EXPECT_EQ(dalo_ilp_obj(p.get(), 1, nullptr), 0);
        ASSERT_EQ(dalo_ilp_nrows(p.get()), 1u);
        EXPECT_EQ(row(p.get(), 0),
                  (Row{{0, 1, 2}, {1, 1, negate ? -1 : 1}, 0, negate ? 1 : 2, 1, 0}));
    }
}

TEST(IlpBuild, RejectionsComeInBuildOrderAndTheErrorIsPerThread) {
    dalo_var x = dalo_new_var("x"), y = dalo_new_var("y");
    const char* shape_msg =
        "dalo::abs/relu terms are not supported in ILP mode yet; use the QUBO mode (drop the ilp "
        "option) or a bundled heuristic solver.";
    ExprPtr diff = raw(1, {x});
    add(diff, -1, {y});
    ExprPtr negative = between(diff, 0, 0);
    dalo_expr_imul_int(negative.get(), -2);
    const std::pair<ExprPtr, std::string> cases[] = {
        {raw(2, {x, y}),
         "not an ILP: the objective has a degree-2 term (only free-form penalty terms enforced to "
         "0 by their hard rows are allowed). Keep the objective linear, or solve without the ILP "
         "option."},
        // An abs shape, even with a degree-2 objective term after it.
        {ExprPtr(dalo_abs_term(diff.get(), 1)), shape_msg},
        {ExprPtr(dalo_relu_term(diff.get(), 2)), shape_msg},
        {std::move(negative),
         "a cons() constraint carries a NEGATIVE weight; ILP mode enforces constraints as hard "
         "rows and ignores weights, so a negative weight (rewarding violation) cannot be "
         "expressed. Use a bundled heuristic solver (BriskSolver/SweepSolver/KELPSolver)."},
        {marked(raw(1, {x, y}, 1)),
         "not an ILP: the free-form penalty carries a constant term, so 'penalty == 0' cannot be "
         "enforced; remove the constant."},
        {marked(raw(-3, {x, y})),
         "not an ILP: free-form penalty terms must have positive coefficients to be enforced as "
         "hard constraints."},
    };
    for (const auto& [part, msg] : cases) {
        ExprPtr e = raw(1, {x});
        add(e, part);
        if (msg == shape_msg) add(e, 1, {x, y});
        EXPECT_EQ(build_ilp(e).ilp, nullptr) << msg;
        EXPECT_EQ(std::string(dalo_ilp_last_error()), msg);
    }
    // Another thread's build leaves this thread's text alone; a success here empties it.
    const std::string before = dalo_ilp_last_error();
    std::thread([&] {
        EXPECT_STREQ(dalo_ilp_last_error(), "");
        EXPECT_NE(build_ilp(raw(1, {x})).ilp, nullptr);
    }).join();
    EXPECT_EQ(std::string(dalo_ilp_last_error()), before);
    EXPECT_NE(build_ilp(raw(1, {x})).ilp, nullptr);
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
    auto [m, p] = build_ilp(e);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(dalo_ilp_ncols(p.get()), 2u);  // x, then the folded column
    EXPECT_EQ(dalo_ilp_col_kind(p.get(), 0), 0u);
    EXPECT_EQ(col(p.get(), 1), (Col{1, 0xFFFFFFFFu, 10, 17, 3, "n"}));
    EXPECT_EQ(dalo_ilp_obj(p.get(), 1, nullptr), 3);
    EXPECT_EQ(dalo_ilp_obj_constant(p.get(), nullptr), dalo_model_constant(m.get(), nullptr) - 30);
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
    EXPECT_FATAL(dalo_ilp_col_decode(p.get(), 1, 9, bits),  // below the range
                 "dalo_ilp_col_decode: integer value out of the encoded range");

    // Objective coefficients out of proportion (3, 6, 11): the bits stay binary columns.
    ExprPtr f(dalo_expr_clone(n.get()));
    dalo_expr_imul_int(f.get(), 3);
    add(f, -1, {dalo_varintelem_var(n.get(), 2)});
    auto [m2, p2] = build_ilp(f);
    ASSERT_NE(p2, nullptr);
    EXPECT_EQ(dalo_ilp_ncols(p2.get()), 3u);
    for (uint32_t c = 0; c < 3; ++c) EXPECT_EQ(dalo_ilp_col_kind(p2.get(), c), 0u);

    // The second bit of a two-bit integer inside a free-form penalty term keeps it from
    // folding, though the first bit and the variable before it are in proportion.
    dalo_var before = dalo_new_var("before");
    ExprPtr two(dalo_varintelem_create("two", 0, 3));
    ExprPtr g(dalo_expr_clone(two.get()));
    dalo_expr_imul_int(g.get(), 3);
    add(g, 6, {before});
    add(g, marked(raw(1, {dalo_varintelem_var(two.get(), 1), before})));
    auto [m3, p3] = build_ilp(g);
    ASSERT_NE(p3, nullptr);
    EXPECT_EQ(dalo_ilp_ncols(p3.get()), 3u);
    for (uint32_t c = 0; c < 3; ++c) EXPECT_EQ(dalo_ilp_col_nbits(p3.get(), c), 0u);
}

TEST(IlpNames, LegalAndDistinct) {
    dalo_var v[6] = {dalo_new_var("a b"), dalo_new_var("a_b"), dalo_new_var("1st"),
                     dalo_new_var("e1"),  dalo_new_var("a b"), dalo_new_var("dalo_constant")};
    dalo_var arr = new_vars("q", 2)[0];
    ExprPtr e = raw(1, {v[0]}, 4);
    for (int i = 1; i < 6; ++i) add(e, i + 1, {v[i]});
    add(e, 1, {arr + 1});
    auto [m, p] = build_ilp(e);
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
    auto [m, p] = build_ilp(raw(1, {dalo_new_var("x")}));
    ASSERT_NE(p, nullptr);
    for (const std::string ext : {"lp", "mps"}) {
        const std::string bad = "/nonexistent-dir/a." + ext;
        auto write = ext == "lp" ? dalo_ilp_write_lp : dalo_ilp_write_mps;
        EXPECT_EQ(write(p.get(), bad.c_str()), -1);
        EXPECT_EQ(std::string(dalo_ilp_last_error()),
                  "cannot open '" + bad + "' for writing: No such file or directory");
        const std::string path = scratch("ok." + ext);
        EXPECT_EQ(write(p.get(), path.c_str()), 0);
        EXPECT_STREQ(dalo_ilp_last_error(), "");
        std::remove(path.c_str());
    }
}

TEST(IlpDeath, BadIndices) {
    // The refusals of nonlinear bodies and allowed sets are the Model's, checked there.
    dalo_var x = dalo_new_var("x");
    auto [m3, p] = build_ilp(raw(1, {x}));
    ASSERT_NE(p, nullptr);
    EXPECT_FATAL(dalo_ilp_col_kind(p.get(), 1), "dalo_ilp_col_kind: index out of range");
    EXPECT_FATAL(dalo_ilp_col_bit_var(p.get(), 0, 0), "dalo_ilp_col_bit_var: index out of range");
    EXPECT_FATAL(dalo_ilp_row_nnz(p.get(), 0), "dalo_ilp_row_nnz: index out of range");
}

// ---- round trip through CBC and GLPK ----

struct Instance {
    ExprPtr expr;  // simplified, what the Model is compiled from
    ModelPtr model;
    int64_t best = INT64_MAX;
};

// An objective c0 plus random linear terms over 6 bits, an integer atom k in [-2, 3] and a
// bit-encoded n in [-2, 5]; an equality row over n and three more rows, all made feasible by
// a random point, and free-form penalty terms. best is the exhaustive optimum.
Instance random_instance(std::mt19937_64& rng, int64_t c0) {
    const std::vector<dalo_var> x = new_vars("x", 6);
    const dalo_var k = dalo_new_int_var("k", -2, 3);
    ExprPtr n(dalo_varintelem_create("n", -2, 5));  // bits 1, 2, 4
    auto coef = [&](int span) { return static_cast<int64_t>(rng() % (2 * span + 1)) - span; };
    auto dot = [](const std::vector<int64_t>& w, const std::vector<int64_t>& b) {
        return std::inner_product(w.begin(), w.end(), b.begin(), int64_t{0});
    };
    std::vector<int64_t> point(6), c(6);
    for (auto& b : point) b = static_cast<int64_t>(rng() % 2);
    point[0] = 0;
    point[1] = 1;
    const int64_t kp = coef(2), np = coef(3) + 1, ck = coef(5), cn = coef(4);
    ExprPtr e(dalo_expr_clone(n.get()));
    dalo_expr_imul_int(e.get(), cn);
    dalo_expr_iadd_int(e.get(), c0);
    add(e, ck, {k});
    for (int i = 0; i < 6; ++i) add(e, c[i] = coef(9), {x[i]});
    struct Cons {
        std::vector<int64_t> a;
        int64_t ak, an, lo, hi;
    };
    std::vector<Cons> all;
    for (int r = 0; r < 4; ++r) {
        Cons t{std::vector<int64_t>(6), coef(3), r == 0 ? 1 : 0, 0, 0};
        ExprPtr body(r == 0 ? dalo_expr_clone(n.get()) : dalo_expr_create_int(0));
        add(body, t.ak, {k});
        for (int i = 0; i < 6; ++i) add(body, t.a[i] = coef(4), {x[i]});
        const int64_t at = t.ak * kp + t.an * np + dot(t.a, point);
        // An equality, a range, and rows whose lower or upper side the activity implies.
        const int64_t below = static_cast<int64_t>(rng() % 2);
        const int64_t above = static_cast<int64_t>(rng() % 2);
        t.lo = r == 0 ? at : r == 1 ? at - 1 - below : r == 2 ? -100 : at - below;
        t.hi = r == 0 ? at : r == 1 ? at + 1 + above : r == 3 ? 100 : at + above;
        add(e, between(body, t.lo, t.hi));
        all.push_back(t);
    }
    // Penalty terms that the point satisfies: x0 is 0 there, x1 is 1.
    const std::vector<std::vector<dalo_var>> penalties = {{x[0], x[2 + rng() % 4]},
                                                          {x[3], x[1] | DALO_NEG_BIT, x[5]}};
    ExprPtr pen(dalo_expr_create_int(0));
    for (const auto& lits : penalties) add(pen, 1 + static_cast<int64_t>(rng() % 4), lits);
    add(e, marked(pen));

    Instance out;
    out.expr = binary(e);
    out.model = model_of(out.expr);
    std::vector<int64_t> value(x[5] + 1, 0), bit(6);  // by identifier and by position
    for (uint32_t mask = 0; mask < 64; ++mask) {
        for (int i = 0; i < 6; ++i) value[x[i]] = bit[i] = (mask >> i) & 1;
        bool ok = true;
        for (const auto& lits : penalties) {
            int64_t prod = 1;
            for (dalo_var l : lits) {
                const int64_t b = value[l & ~DALO_NEG_BIT];
                prod *= (l & DALO_NEG_BIT) ? 1 - b : b;
            }
            ok &= prod == 0;
        }
        for (int64_t kv = -2; kv <= 3 && ok; ++kv) {
            for (int64_t nv = -2; nv <= 5; ++nv) {
                bool feasible = true;
                for (const Cons& t : all) {
                    const int64_t s = t.ak * kv + t.an * nv + dot(t.a, bit);
                    feasible &= s >= t.lo && s <= t.hi;
                }
                if (feasible) out.best = std::min(out.best, c0 + ck * kv + cn * nv + dot(c, bit));
            }
        }
    }
    return out;
}

// The Sol of a solver's column values: binary columns set their variable, folded columns
// decode into their bits, integer atoms take the value.
SolPtr sol_of_columns(const dalo_model* m, const dalo_ilp* p,
                      const std::function<double(uint32_t)>& value_at) {
    SolPtr s(dalo_sol_create(m));
    for (uint32_t c = 0; c < dalo_ilp_ncols(p); ++c) {
        const int64_t v = std::llround(value_at(c));
        std::vector<uint8_t> bits(dalo_ilp_col_nbits(p, c));
        if (!bits.empty()) {
            dalo_ilp_col_decode(p, c, v, bits.data());
            for (uint32_t k = 0; k < bits.size(); ++k)
                dalo_sol_set(s.get(), dalo_model_var(m, dalo_ilp_col_bit_var(p, c, k)), bits[k]);
        } else if (dalo_ilp_col_kind(p, c) == 0) {
            dalo_sol_set(s.get(), dalo_model_var(m, dalo_ilp_col_model_var(p, c)),
                         static_cast<uint32_t>(v));
        } else {
            dalo_sol_set_int(s.get(), dalo_model_int_var_orig(m, dalo_ilp_col_model_var(p, c)), v);
        }
    }
    return s;
}

TEST(IlpRoundTrip, MipSolversReachTheExhaustiveOptimumThroughBothFormats) {
    ASSERT_TRUE(have_mip_solvers()) << "cbc and glpsol are installed by scripts/deps.sh";
    std::mt19937_64 rng(20261206);
    for (int round = 0; round < 6; ++round) {
        Instance in = random_instance(rng, round % 2 == 0 ? 3 + round : 0);  // constant or none
        ASSERT_LT(in.best, INT64_MAX);
        IlpPtr p(dalo_model_ilp_build(in.model.get()));
        ASSERT_NE(p, nullptr) << dalo_ilp_last_error();
        uint32_t folded = 0;
        for (uint32_t c = 0; c < dalo_ilp_ncols(p.get()); ++c)
            folded += dalo_ilp_col_nbits(p.get(), c) > 0 ? 1 : 0;
        EXPECT_EQ(folded, 1u);
        for (const std::string format : {"lp", "mps"}) {
            SCOPED_TRACE(format + " round " + std::to_string(round));
            const std::string file = scratch(std::to_string(round) + "." + format);
            auto write = format == "lp" ? dalo_ilp_write_lp : dalo_ilp_write_mps;
            ASSERT_EQ(write(p.get(), file.c_str()), 0);
            const MipAnswer cbc = solve_with_cbc(file, file + ".cbc");
            const MipAnswer glpk =
                solve_with_glpk(file, format == "lp" ? "lp" : "freemps", file + ".glpk");
            for (const MipAnswer* a : {&cbc, &glpk}) {
                ASSERT_TRUE(a->optimal);
                EXPECT_EQ(std::llround(a->objective), in.best);
                SolPtr s = sol_of_columns(in.model.get(), p.get(), [&](uint32_t c) {
                    auto it = a->values.find(a == &cbc ? std::string(dalo_ilp_col_name(p.get(), c))
                                                       : "#" + std::to_string(c + 1));
                    return it == a->values.end() ? 0.0 : it->second;
                });
                EXPECT_EQ(dalo_cons_violation_count(in.expr.get(), s.get()), 0u);
                EXPECT_EQ(dalo_sol_compute_energy(s.get(), nullptr), in.best);
            }
            if (std::getenv("DALO_KEEP_FILES") == nullptr)
                for (const std::string& f : {file, file + ".cbc", file + ".glpk"})
                    std::remove(f.c_str());
        }
    }
}

}  // namespace
