// Constraint-carrying values: records, constructors, and the attribute word under arithmetic.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "dalo.h"
#include "support/expr_util.hpp"
#include "support/fatal.hpp"

using dalo_test::ExprPtr;
using dalo_test::str;

namespace {

constexpr uint32_t kTag = 0xC0000000u;
bool is_sum(const dalo_expr* e) {
    return dalo_expr_attr(e) != DALO_ATTR_PLAIN && (dalo_expr_attr(e) & kTag) == kTag;
}
bool is_exprexpr(const dalo_expr* e) { return (dalo_expr_attr(e) & kTag) == 0x80000000u; }

constexpr const char* kMixed =
    "dalo::cons: cannot mix declared constraints with classic penalty-style constraints in one "
    "expression; wrap the classic part with dalo::cons(...) as well";

std::string refused(const std::string& what) {
    return "dalo::cons: '" + what + "' is not allowed on an expression with declared constraints";
}

std::string holds(int n, bool penalty) {
    return "body() requires exactly one constraint, but this value holds " + std::to_string(n) +
           " constraint(s)" + (penalty ? " and a free-form penalty" : "") +
           "; use violations(sol) instead.";
}

class ConsTest : public testing::Test {
  protected:
    dalo_var x = dalo_new_var("x"), y = dalo_new_var("y"), z = dalo_new_var("z");
    ExprPtr var(dalo_var v) { return ExprPtr(dalo_expr_create_var(v)); }
    ExprPtr sum_xy() { return ExprPtr(dalo_expr_create_add_var_var(x, y)); }
    ExprPtr declared(int64_t lo = 0, int64_t hi = 1) {
        return ExprPtr(dalo_cons_between(sum_xy().get(), lo, hi));
    }
    // A classic ExprExpr: penalty (x + y - 1)^2 with body x + y.
    ExprPtr classic() {
        ExprPtr body = sum_xy();
        ExprPtr f(dalo_expr_clone_sub_int(body.get(), 1));
        ExprPtr pen(dalo_expr_sqr(f.get()));
        ExprPtr ee(dalo_exprexprelem_create(pen.get(), body.get()));
        dalo_exprexpr_set_bounds(ee.get(), 1, 1);
        return ee;
    }
};

TEST_F(ConsTest, DeclaredConstructorsGiveAZeroPolynomial) {
    ExprPtr c = declared(0, 1);
    EXPECT_TRUE(is_sum(c.get()));
    EXPECT_EQ(str(c.get()), "0");
    EXPECT_EQ(str(dalo_exprexprelem_get_body(c.get())), "x +y");
    EXPECT_EQ(dalo_expr_all_objective_only(c.get()), 0);
    ExprPtr backwards(dalo_cons_between(var(z).get(), 5, 3));  // stored as given
    EXPECT_EQ(str(dalo_exprexprelem_get_body(backwards.get())), "z");
    int64_t lo[3] = {7, 1, 4}, hi[3] = {7, 1, 5};
    ExprPtr eq(dalo_cons_equal(var(z).get(), lo, hi, 3));
    EXPECT_TRUE(is_sum(eq.get()));
    EXPECT_NE(dalo_expr_attr(eq.get()), dalo_expr_attr(backwards.get()));
    // Shapes are objective-only; a sum of shapes is too, until a real constraint joins.
    ExprPtr shapes(dalo_abs_term(var(x).get(), 1));
    ExprPtr relu(dalo_relu_term(sum_xy().get(), 2));
    dalo_expr_iadd_expr(shapes.get(), relu.get());
    EXPECT_EQ(dalo_expr_all_objective_only(shapes.get()), 1);
    dalo_expr_iadd_expr(shapes.get(), c.get());
    EXPECT_EQ(dalo_expr_all_objective_only(shapes.get()), 0);
    EXPECT_EQ(dalo_expr_all_objective_only(var(x).get()), 0);
}

TEST_F(ConsTest, ClassicExprExprRecordsBounds) {
    ExprPtr body = sum_xy();
    ExprPtr pen(dalo_expr_create_int(3));
    ExprPtr ee(dalo_exprexprelem_create(pen.get(), body.get()));
    EXPECT_TRUE(is_exprexpr(ee.get()));
    EXPECT_EQ(str(ee.get()), "3");
    EXPECT_EQ(str(dalo_exprexprelem_get_body(ee.get())), "x +y");
    int64_t lo = -9, hi = -9;
    EXPECT_EQ(dalo_exprexpr_get_bounds(ee.get(), &lo, &hi), 0);
    EXPECT_EQ(lo, -9);
    dalo_exprexpr_set_bounds(ee.get(), -2, 6);
    EXPECT_EQ(dalo_exprexpr_get_bounds(ee.get(), &lo, &hi), 1);
    EXPECT_EQ(lo, -2);
    EXPECT_EQ(hi, 6);
    int64_t alo[3] = {7, 1, 4}, ahi[3] = {7, 1, 5};
    dalo_exprexpr_set_allowed(ee.get(), alo, ahi, 3);
    EXPECT_EQ(dalo_exprexpr_get_bounds(ee.get(), &lo, &hi), 1);
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 7);
    // Clones share the record.
    ExprPtr copy(dalo_exprexprelem_clone(ee.get()));
    EXPECT_EQ(dalo_expr_attr(copy.get()), dalo_expr_attr(ee.get()));
    EXPECT_EQ(dalo_exprexpr_get_bounds(var(x).get(), &lo, &hi), 0);
    dalo_exprexprelem_destroy(nullptr);
}

TEST_F(ConsTest, RangePenalties) {
    ExprPtr f = var(x);
    EXPECT_EQ(str(ExprPtr(dalo_between(f.get(), 4, 3)).get()), "0");
    EXPECT_EQ(str(ExprPtr(dalo_between(f.get(), 2, 2)).get()), "4 +x*x -4*x");
    EXPECT_EQ(str(ExprPtr(dalo_between(f.get(), 2, 3)).get()), "6 -2*x -3*x +x*x");
    EXPECT_EQ(dalo_expr_attr(ExprPtr(dalo_between(declared().get(), 2, 3)).get()), DALO_ATTR_PLAIN);
}

TEST_F(ConsTest, RangePenaltyWithSlackIsZeroExactlyInRange) {
    // f = b0 + 2 b1 + 4 b2 takes every value 0..7. Slack coefficients for R = hi - 1 - lo:
    // R = 3 gives 2, 1; R = 4 gives 2, 2; R = 1 gives 1; R = 6 gives 2, 4.
    uint64_t three = 3;
    dalo_var b = dalo_new_var_array("b", &three, 1);
    ExprPtr f(dalo_expr_create());
    for (int i = 0; i < 3; ++i) {
        dalo_var v = b + i;
        dalo_expr_iadd_raw_term(f.get(), 1 << i, &v, 1);
    }
    uint64_t before = dalo_var_count();
    for (auto [lo, hi, bits] :
         std::vector<std::tuple<int, int, uint64_t>>{{1, 5, 2}, {0, 5, 2}, {2, 4, 1}, {0, 7, 2}}) {
        uint64_t first = dalo_var_count();
        ExprPtr pen(dalo_between(f.get(), lo, hi));
        ASSERT_EQ(dalo_var_count(), first + bits);
        std::string name = dalo_var_str(static_cast<dalo_var>(first));
        EXPECT_EQ(name.substr(0, 2), "{s");
        std::vector<dalo_var> all = {b, b + 1, b + 2};
        for (uint64_t s = first; s < first + bits; ++s) all.push_back(static_cast<dalo_var>(s));
        for (int fv = 0; fv < 8; ++fv) {
            int64_t best = INT64_MAX;
            for (uint64_t sm = 0; sm < (1u << bits); ++sm) {
                std::vector<int64_t> vals = {fv & 1, (fv >> 1) & 1, (fv >> 2) & 1};
                for (uint64_t k = 0; k < bits; ++k) vals.push_back((sm >> k) & 1);
                int64_t v = 0;
                dalo_expr_eval_map(pen.get(), all.data(), vals.data(), all.size(), &v);
                EXPECT_GE(v, 0);
                best = std::min(best, v);
            }
            EXPECT_EQ(best == 0, lo <= fv && fv <= hi)
                << "f = " << fv << " in [" << lo << ", " << hi << "]";
        }
    }
    EXPECT_GT(dalo_var_count(), before);
}

TEST_F(ConsTest, SlackNamesAndCoefficients) {
    // [0, 5]: R = 4, coefficients 2, 2 over an array named {sN}.
    uint64_t first = dalo_var_count();
    ExprPtr pen(dalo_between(var(x).get(), 0, 5));
    EXPECT_EQ(dalo_var_count(), first + 2);
    std::string e0 = dalo_var_str(static_cast<dalo_var>(first));
    std::string e1 = dalo_var_str(static_cast<dalo_var>(first + 1));
    ASSERT_EQ(e0.substr(0, 2), "{s");
    std::string base = e0.substr(0, e0.size() - 3);
    EXPECT_EQ(e0, base + "[0]");
    EXPECT_EQ(e1, base + "[1]");
    // The slack enters as x - 2 s0 - 2 s1: the product's first block is x times the factor.
    ExprPtr one(dalo_between(var(x).get(), 0, 2));  // R = 1: one plain variable
    std::string single = dalo_var_str(static_cast<dalo_var>(first + 2));
    EXPECT_EQ(single.front(), '{');
    EXPECT_EQ(single.back(), '}');
}

TEST_F(ConsTest, CombineIntoDeclaredSum) {
    ExprPtr obj = var(z);
    ExprPtr c1 = declared();
    dalo_expr_iadd_expr(obj.get(), c1.get());  // new declared sum: plain z contributes no item
    EXPECT_TRUE(is_sum(obj.get()));
    EXPECT_NE(dalo_expr_attr(obj.get()), dalo_expr_attr(c1.get()));
    EXPECT_EQ(str(obj.get()), "z");
    uint32_t word = dalo_expr_attr(obj.get());
    ExprPtr c2 = declared(1, 2);
    dalo_expr_iadd_expr(obj.get(), c2.get());  // appended in place: the word stays
    EXPECT_EQ(dalo_expr_attr(obj.get()), word);
    // Plain terms added in place keep the declared word and stay out of the record.
    dalo_expr_iadd_var(obj.get(), x);
    dalo_expr_iadd_int(obj.get(), 3);
    dalo_expr_isub_var(obj.get(), y);
    EXPECT_EQ(dalo_expr_attr(obj.get()), word);
    EXPECT_EQ(str(obj.get()), "3 +z +x -y");
    // A copying addition makes a new record and leaves both operands' records alone.
    ExprPtr sum(dalo_expr_clone_add_expr(c1.get(), c2.get()));
    EXPECT_TRUE(is_sum(sum.get()));
    EXPECT_NE(dalo_expr_attr(sum.get()), dalo_expr_attr(c1.get()));
    EXPECT_EQ(str(dalo_exprexprelem_get_body(c1.get())), "x +y");
}

TEST_F(ConsTest, AdoptionMarksTheRecordShared) {
    ExprPtr c = declared();
    ExprPtr empty(dalo_expr_create());
    dalo_expr_iadd_expr(empty.get(), c.get());
    EXPECT_EQ(dalo_expr_attr(empty.get()), dalo_expr_attr(c.get()));
    // A further in-place addition to either creates a new record; the shared one keeps one item.
    ExprPtr more = declared(0, 2);
    dalo_expr_iadd_expr(empty.get(), more.get());
    EXPECT_NE(dalo_expr_attr(empty.get()), dalo_expr_attr(c.get()));
    dalo_expr_iadd_expr(c.get(), more.get());
    EXPECT_NE(dalo_expr_attr(c.get()), dalo_expr_attr(empty.get()));
    ExprPtr original = declared();
    ExprPtr holder(dalo_expr_create());
    dalo_expr_iadd_expr(holder.get(), original.get());
    EXPECT_EQ(str(dalo_exprexprelem_get_body(original.get())), "x +y");
}

TEST_F(ConsTest, ClonesDoNotSeeLaterInPlaceAdditions) {
    ExprPtr a = var(z);
    dalo_expr_iadd_expr(a.get(), declared().get());
    ExprPtr b(dalo_expr_clone(a.get()));
    dalo_expr_iadd_expr(a.get(), declared(3, 4).get());
    EXPECT_NE(dalo_expr_attr(a.get()), dalo_expr_attr(b.get()));
    EXPECT_EQ(str(dalo_exprexprelem_get_body(b.get())), "x +y");  // still exactly one constraint
}

TEST_F(ConsTest, ClassicCombineCollectsPenalties) {
    // x + c in place: a classic sum whose items are [(c, 1)] and whose penalty is x.
    ExprPtr c = classic();
    ExprPtr e = var(x);
    dalo_expr_iadd_expr(e.get(), c.get());
    EXPECT_TRUE(is_sum(e.get()));
    EXPECT_EQ(dalo_expr_all_objective_only(e.get()), 0);
    EXPECT_EQ(str(c.get()), "1 +x*x -2*x +2*x*y +y*y -2*y");
    EXPECT_EQ(str(e.get()), "1 +x +x*x -2*x +2*x*y +y*y -2*y");
    // Classic sum plus a variable in place: the variable joins the penalty, the word stays.
    uint32_t word = dalo_expr_attr(e.get());
    dalo_expr_iadd_var(e.get(), y);
    EXPECT_EQ(dalo_expr_attr(e.get()), word);
    // Constants, subtraction and products drop classic constraints.
    ExprPtr k(dalo_expr_clone(c.get()));
    dalo_expr_iadd_int(k.get(), 1);
    EXPECT_EQ(dalo_expr_attr(k.get()), DALO_ATTR_PLAIN);
    EXPECT_EQ(dalo_expr_attr(ExprPtr(dalo_expr_clone_add_int(c.get(), 0)).get()),
              dalo_expr_attr(c.get()));
    EXPECT_EQ(dalo_expr_attr(ExprPtr(dalo_expr_clone_add_int(c.get(), 2)).get()), DALO_ATTR_PLAIN);
    EXPECT_EQ(dalo_expr_attr(ExprPtr(dalo_expr_clone_sub_var(c.get(), x)).get()), DALO_ATTR_PLAIN);
    EXPECT_EQ(dalo_expr_attr(ExprPtr(dalo_expr_sqr(c.get())).get()), DALO_ATTR_PLAIN);
    EXPECT_EQ(dalo_expr_attr(ExprPtr(dalo_expr_mul_expr(c.get(), c.get())).get()), DALO_ATTR_PLAIN);
    ExprPtr n(dalo_expr_clone(c.get()));
    dalo_expr_negate(n.get());
    EXPECT_EQ(dalo_expr_attr(n.get()), DALO_ATTR_PLAIN);
    // Subtracting a classic value from a declared sum keeps the declared word.
    ExprPtr d = declared();
    uint32_t dw = dalo_expr_attr(d.get());
    dalo_expr_isub_expr(d.get(), c.get());
    EXPECT_EQ(dalo_expr_attr(d.get()), dw);
}

TEST_F(ConsTest, ScaleRule) {
    ExprPtr c = classic();
    ExprPtr twice(dalo_expr_clone_mul_int(c.get(), 2));
    EXPECT_TRUE(is_sum(twice.get()));
    EXPECT_EQ(str(dalo_exprexprelem_get_body(twice.get())), "x +y");  // one item, no penalty
    EXPECT_EQ(dalo_expr_attr(ExprPtr(dalo_expr_clone_mul_int(c.get(), 0)).get()), DALO_ATTR_PLAIN);
    EXPECT_EQ(dalo_expr_attr(ExprPtr(dalo_expr_clone_mul_int(c.get(), -1)).get()), DALO_ATTR_PLAIN);
    EXPECT_EQ(dalo_expr_attr(ExprPtr(dalo_expr_clone_mul_int(twice.get(), 3)).get()) & kTag, kTag);
    EXPECT_EQ(dalo_expr_attr(ExprPtr(dalo_expr_clone_mul_int(twice.get(), -3)).get()),
              DALO_ATTR_PLAIN);

    ExprPtr d = declared();
    ExprPtr neg(dalo_expr_clone_mul_int(d.get(), -3));
    EXPECT_TRUE(is_sum(neg.get()));
    EXPECT_NE(dalo_expr_attr(neg.get()), dalo_expr_attr(d.get()));
    ExprPtr n(dalo_expr_clone(d.get()));
    dalo_expr_negate(n.get());
    EXPECT_TRUE(is_sum(n.get()));
    // Objective-only shapes may vanish under 0; real constraints may not.
    ExprPtr shapes(dalo_abs_term(var(x).get(), 1));
    dalo_expr_iadd_expr(shapes.get(), ExprPtr(dalo_relu_term(var(y).get(), 2)).get());
    ExprPtr gone(dalo_expr_clone_mul_int(shapes.get(), 0));
    EXPECT_EQ(dalo_expr_attr(gone.get()), DALO_ATTR_PLAIN);
    EXPECT_EQ(str(gone.get()), "0");
}

TEST_F(ConsTest, SubtractingDeclaredConstraintsNegatesTheirWeights) {
    ExprPtr obj = var(z);
    ExprPtr d = declared();
    dalo_expr_isub_expr(obj.get(), d.get());
    EXPECT_TRUE(is_sum(obj.get()));
    EXPECT_NE(dalo_expr_attr(obj.get()), dalo_expr_attr(d.get()));
    EXPECT_EQ(str(obj.get()), "z");
    ExprPtr both(dalo_expr_clone_sub_expr(d.get(), d.get()));
    EXPECT_TRUE(is_sum(both.get()));
}

TEST_F(ConsTest, MarkingMakesConstraintsDeclared) {
    ExprPtr p = sum_xy();
    ExprPtr m(dalo_cons_mark(p.get()));
    EXPECT_TRUE(is_sum(m.get()));
    EXPECT_EQ(str(m.get()), "0");
    ExprPtr d = declared();
    ExprPtr again(dalo_cons_mark(d.get()));
    EXPECT_EQ(dalo_expr_attr(again.get()), dalo_expr_attr(d.get()));
    ExprPtr c = classic();
    ExprPtr mc(dalo_cons_mark(c.get()));
    EXPECT_TRUE(is_sum(mc.get()));
    EXPECT_EQ(str(dalo_exprexprelem_get_body(mc.get())), "x +y");
    // A declared value combines with another declared one.
    dalo_expr_iadd_expr(mc.get(), d.get());
    EXPECT_TRUE(is_sum(mc.get()));
}

TEST_F(ConsTest, SimplificationCarriesRecordsWithSimplifiedBodies) {
    ExprPtr body(dalo_expr_create_add_var_var(x, x));
    ExprPtr obj = var(y);
    dalo_expr_iadd_var(obj.get(), y);
    dalo_expr_iadd_expr(obj.get(), ExprPtr(dalo_cons_between(body.get(), 0, 2)).get());
    ExprPtr s(dalo_expr_simplify_as_binary(obj.get()));
    EXPECT_EQ(str(s.get()), "2*y");
    EXPECT_TRUE(is_sum(s.get()));
    EXPECT_NE(dalo_expr_attr(s.get()), dalo_expr_attr(obj.get()));
    EXPECT_EQ(str(dalo_exprexprelem_get_body(s.get())), "2*x");
    EXPECT_EQ(str(dalo_exprexprelem_get_body(obj.get())), "x +x");
    // An ExprExpr keeps its bounds in the new record.
    ExprPtr c = classic();
    ExprPtr sc(dalo_expr_simplify(c.get()));
    EXPECT_TRUE(is_exprexpr(sc.get()));
    EXPECT_NE(dalo_expr_attr(sc.get()), dalo_expr_attr(c.get()));
    int64_t lo = 0, hi = 0;
    EXPECT_EQ(dalo_exprexpr_get_bounds(sc.get(), &lo, &hi), 1);
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 1);
    EXPECT_EQ(dalo_expr_attr(ExprPtr(dalo_expr_simplify(var(x).get())).get()), DALO_ATTR_PLAIN);
}

TEST_F(ConsTest, ConcurrentConstructionGetsDistinctRecords) {
    constexpr int kThreads = 4, kEach = 300;
    std::vector<std::vector<uint32_t>> words(kThreads);
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int k = 0; k < kEach; ++k) {
                ExprPtr body(dalo_expr_create_add_var_int(x, t * 1000 + k + 1));
                ExprPtr c(dalo_cons_between(body.get(), 0, k));
                words[t].push_back(dalo_expr_attr(c.get()));
                std::string want = std::to_string(t * 1000 + k + 1) + " +x";
                if (want != dalo_expr_str(dalo_exprexprelem_get_body(c.get()))) bad++;
            }
        });
    }
    for (auto& th : threads) th.join();
    std::set<uint32_t> all;
    for (auto& w : words) all.insert(w.begin(), w.end());
    EXPECT_EQ(all.size(), size_t{kThreads * kEach});
    EXPECT_EQ(bad.load(), 0);
}

using ConsDeathTest = ConsTest;

TEST_F(ConsDeathTest, RefusedOperationsOnDeclaredConstraints) {
    ExprPtr d = declared();
    ExprPtr p = var(z);
    dalo_var xy[2] = {x, y};
    EXPECT_FATAL(dalo_expr_sqr(d.get()), refused("sqr"));
    EXPECT_FATAL(dalo_expr_mul_expr(d.get(), p.get()), refused("* expr"));
    EXPECT_FATAL(dalo_expr_mul_expr(p.get(), d.get()), refused("* expr"));
    EXPECT_FATAL(dalo_expr_imul_expr(p.get(), d.get()), refused("* expr"));
    EXPECT_FATAL(dalo_expr_imul_expr(d.get(), p.get()), refused("*= expr"));
    EXPECT_FATAL(dalo_expr_imul_term_direct(d.get(), 2, 0xFFFFFFFF00000000ull | x, nullptr),
                 refused("*= term"));
    EXPECT_FATAL(dalo_expr_imul_var(d.get(), x), refused("*= var"));
    EXPECT_FATAL(dalo_expr_idiv_int(d.get(), 2), refused("/="));
    EXPECT_FATAL(dalo_exprexprelem_create(d.get(), p.get()),
                 refused("== / <= (comparing declared constraints)"));
    EXPECT_FATAL(dalo_exprexprelem_create(p.get(), d.get()),
                 refused("== / <= (comparing declared constraints)"));
    EXPECT_FATAL(dalo_cons_between(d.get(), 0, 1),
                 refused("cons(body, ...) on declared constraints"));
    int64_t lo = 0, hi = 1;
    EXPECT_FATAL(dalo_cons_equal(d.get(), &lo, &hi, 1),
                 refused("cons(body, equal=...) on declared constraints"));
    EXPECT_FATAL(dalo_abs_term(d.get(), 7), refused("abs/relu body carrying declared constraints"));
    EXPECT_FATAL(dalo_relu_term(d.get(), 1),
                 refused("abs/relu body carrying declared constraints"));
    EXPECT_FATAL(dalo_expr_imul_int(d.get(), 0),
                 "dalo::cons: multiplying declared constraints by 0 would silently drop them");
    (void)xy;
}

TEST_F(ConsDeathTest, DeclaredAndClassicDoNotMix) {
    ExprPtr d = declared();
    ExprPtr c = classic();
    EXPECT_FATAL(dalo_expr_iadd_expr(d.get(), c.get()), kMixed);
    EXPECT_FATAL(dalo_expr_iadd_expr(c.get(), d.get()), kMixed);
    EXPECT_FATAL(dalo_expr_clone_add_expr(c.get(), d.get()), kMixed);
    EXPECT_FATAL(dalo_expr_isub_expr(c.get(), d.get()), kMixed);
}

TEST_F(ConsDeathTest, ConstructorChecks) {
    int64_t none = 0;
    EXPECT_FATAL(dalo_cons_equal(var(x).get(), &none, &none, 0),
                 "dalo_cons_equal: empty allowed-value set");
    EXPECT_FATAL(dalo_abs_term(var(x).get(), 3),
                 "dalo::abs: the exponent k must be 1 or 2 (got 3)");
    EXPECT_FATAL(dalo_relu_term(var(x).get(), 0),
                 "dalo::relu: the exponent k must be 1 or 2 (got 0)");
    EXPECT_FATAL(dalo_relu_term(var(x).get(), -5),
                 "dalo::relu: the exponent k must be 1 or 2 (got -5)");
    ExprPtr p = var(x);
    EXPECT_FATAL(dalo_exprexpr_set_bounds(p.get(), 0, 1),
                 "dalo_exprexpr_set_bounds: not an ExprExpr");
    int64_t lo = 0, hi = 1;
    EXPECT_FATAL(dalo_exprexpr_set_allowed(p.get(), &lo, &hi, 1),
                 "dalo_exprexpr_set_allowed: not an ExprExpr");
    ExprPtr c = classic();
    EXPECT_FATAL(dalo_exprexpr_set_allowed(c.get(), &lo, &hi, 0),
                 "ExprExprSet: set_allowed empty set");
    EXPECT_FATAL(
        dalo_between(var(x).get(), 0, 4294967300ll),
        "VarInt slack range [0, 4294967299] too large: binary coefficient 2147483648 overflows "
        "the coefficient type");
}

TEST_F(ConsDeathTest, BodyAccess) {
    EXPECT_FATAL(dalo_exprexprelem_get_body(var(x).get()),
                 "ExprExpr body access on a value that is not an ExprExpr (plain Expr, VarInt or "
                 "constraint sum).");
    ExprPtr two = declared();
    dalo_expr_iadd_expr(two.get(), declared(1, 2).get());
    EXPECT_FATAL(dalo_exprexprelem_get_body(two.get()), holds(2, false));
    ExprPtr pen(dalo_cons_mark(var(x).get()));
    EXPECT_FATAL(dalo_exprexprelem_get_body(pen.get()), holds(0, true));
    dalo_expr_iadd_expr(pen.get(), declared().get());
    EXPECT_FATAL(dalo_exprexprelem_get_body(pen.get()), holds(1, true));
}

}  // namespace
