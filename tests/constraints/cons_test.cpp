// Constraint-carrying values: records, constructors, and the attribute word under arithmetic.
#include "support/suite.hpp"

#include "support/model_util.hpp"

using dalo_test::ExprPtr;
using dalo_test::str;
using namespace dalo_test::build;

namespace {

constexpr uint32_t kTag = 0xC0000000u;
bool is_sum(const dalo_expr* e) {
    return dalo_expr_attr(e) != DALO_ATTR_PLAIN && (dalo_expr_attr(e) & kTag) == kTag;
}
bool is_exprexpr(const dalo_expr* e) { return (dalo_expr_attr(e) & kTag) == 0x80000000u; }
uint32_t attr(const ExprPtr& e) { return dalo_expr_attr(e.get()); }
std::string body(const ExprPtr& e) { return str(dalo_exprexprelem_get_body(e.get())); }

class ConsTest : public testing::Test {
  protected:
    dalo_var x = dalo_new_var("x"), y = dalo_new_var("y"), z = dalo_new_var("z");
    ExprPtr sum_xy() { return ExprPtr(dalo_expr_create_add_var_var(x, y)); }
    ExprPtr declared(int64_t lo = 0, int64_t hi = 1) { return between(sum_xy(), lo, hi); }
    // A classic ExprExpr: penalty (x + y - 1)^2 with body x + y.
    ExprPtr classic() { return classic_of(sum_xy()); }
};

TEST_F(ConsTest, DeclaredConstructorsGiveAZeroPolynomial) {
    ExprPtr c = declared(0, 1);
    EXPECT_TRUE(is_sum(c.get()));
    EXPECT_EQ(str(c.get()), "0");
    EXPECT_EQ(body(c), "x +y");
    EXPECT_EQ(body(between(var(z), 5, 3)), "z");  // stored as given
    // Shapes are objective-only; a sum of shapes is too, until a real constraint joins.
    ExprPtr shapes(dalo_abs_term(var(x).get(), 1));
    add(shapes, ExprPtr(dalo_relu_term(sum_xy().get(), 2)));
    EXPECT_EQ(dalo_expr_all_objective_only(shapes.get()), 1);
    add(shapes, c);
    EXPECT_EQ(dalo_expr_all_objective_only(shapes.get()), 0);
    EXPECT_EQ(dalo_expr_all_objective_only(var(x).get()), 0);
}

TEST_F(ConsTest, ClassicExprExprRecordsBounds) {
    ExprPtr ee(dalo_exprexprelem_create(ExprPtr(dalo_expr_create_int(3)).get(), sum_xy().get()));
    EXPECT_TRUE(is_exprexpr(ee.get()));
    EXPECT_EQ(body(ee), "x +y");
    int64_t lo = -9, hi = -9;
    EXPECT_EQ(dalo_exprexpr_get_bounds(ee.get(), &lo, &hi), 0);
    EXPECT_EQ(lo, -9);
    int64_t alo[3] = {7, 1, 4}, ahi[3] = {7, 1, 5};
    dalo_exprexpr_set_allowed(ee.get(), alo, ahi, 3);
    EXPECT_EQ(dalo_exprexpr_get_bounds(ee.get(), &lo, &hi), 1);
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(int64_t{1}, int64_t{7}));
    ExprPtr copy(dalo_exprexprelem_clone(ee.get()));  // clones share the record
    EXPECT_EQ(attr(copy), attr(ee));
    EXPECT_EQ(dalo_exprexpr_get_bounds(var(x).get(), &lo, &hi), 0);
    dalo_exprexprelem_destroy(nullptr);
}

TEST_F(ConsTest, CombiningDeclaredValuesAndCopyOnWrite) {
    ExprPtr obj = var(z), c1 = declared(), c2 = declared(1, 2);
    add(obj, c1);  // new declared sum: plain z contributes no item
    EXPECT_TRUE(is_sum(obj.get()));
    EXPECT_NE(attr(obj), attr(c1));
    const uint32_t word = attr(obj);
    add(obj, c2);  // appended in place: the word stays
    dalo_expr_iadd_var(obj.get(), x);
    dalo_expr_isub_var(obj.get(), y);
    EXPECT_EQ(attr(obj), word);
    EXPECT_EQ(str(obj.get()), "z +x -y");
    // A copying addition makes a new record and leaves both operands' records alone.
    ExprPtr sum(dalo_expr_clone_add_expr(c1.get(), c2.get()));
    EXPECT_NE(attr(sum), attr(c1));
    EXPECT_EQ(body(c1), "x +y");
    // Subtraction negates the weights into a new record.
    ExprPtr diff = var(z);
    dalo_expr_isub_expr(diff.get(), c1.get());
    EXPECT_TRUE(is_sum(diff.get()));
    EXPECT_NE(attr(diff), attr(c1));
    EXPECT_TRUE(is_sum(ExprPtr(dalo_expr_clone_sub_expr(c1.get(), c2.get())).get()));
    // An adopted record is shared, so neither holder appends to it.
    ExprPtr empty(dalo_expr_create());
    add(empty, c1);
    EXPECT_EQ(attr(empty), attr(c1));
    add(empty, c2);
    EXPECT_NE(attr(empty), attr(c1));
    add(c1, c2);
    EXPECT_NE(attr(c1), attr(empty));
    ExprPtr copy(dalo_expr_clone(obj.get()));
    add(obj, declared(3, 4));
    EXPECT_NE(attr(obj), attr(copy));
}

TEST_F(ConsTest, ClassicCombineCollectsPenalties) {
    // x + c in place: a classic sum whose items are [(c, 1)] and whose penalty is x.
    ExprPtr c = classic();
    ExprPtr e = var(x);
    add(e, c);
    EXPECT_TRUE(is_sum(e.get()));
    EXPECT_EQ(str(e.get()), "1 +x +x*x -2*x +2*x*y +y*y -2*y");
    const uint32_t word = attr(e);
    dalo_expr_iadd_var(e.get(), y);  // joins the penalty, the word stays
    EXPECT_EQ(attr(e), word);
    // Constants, subtraction, products and negation drop classic constraints.
    ExprPtr k(dalo_expr_clone(c.get())), n(dalo_expr_clone(c.get()));
    dalo_expr_iadd_int(k.get(), 1);
    dalo_expr_negate(n.get());
    for (const ExprPtr& p :
         {std::move(k), std::move(n), ExprPtr(dalo_expr_clone_add_int(c.get(), 2)),
          ExprPtr(dalo_expr_clone_sub_var(c.get(), x)), ExprPtr(dalo_expr_sqr(c.get())),
          ExprPtr(dalo_expr_mul_expr(c.get(), c.get())),
          ExprPtr(dalo_expr_clone_mul_int(c.get(), 0)),
          ExprPtr(dalo_expr_clone_mul_int(c.get(), -1))})
        EXPECT_EQ(attr(p), DALO_ATTR_PLAIN);
    EXPECT_EQ(attr(ExprPtr(dalo_expr_clone_add_int(c.get(), 0))), attr(c));
    // Subtracting a classic value from a declared sum keeps the declared word.
    ExprPtr d = declared();
    const uint32_t dw = attr(d);
    dalo_expr_isub_expr(d.get(), c.get());
    EXPECT_EQ(attr(d), dw);
}

TEST_F(ConsTest, ScaleRuleAndMarking) {
    ExprPtr twice(dalo_expr_clone_mul_int(classic().get(), 2));
    EXPECT_TRUE(is_sum(twice.get()));
    EXPECT_EQ(body(twice), "x +y");  // one item, no penalty
    EXPECT_EQ(attr(ExprPtr(dalo_expr_clone_mul_int(twice.get(), 3))) & kTag, kTag);
    EXPECT_EQ(attr(ExprPtr(dalo_expr_clone_mul_int(twice.get(), -3))), DALO_ATTR_PLAIN);
    ExprPtr d = declared();
    ExprPtr neg(dalo_expr_clone_mul_int(d.get(), -3));
    EXPECT_TRUE(is_sum(neg.get()));
    EXPECT_NE(attr(neg), attr(d));
    // Objective-only shapes may vanish under 0; real constraints may not.
    ExprPtr shapes(dalo_abs_term(var(x).get(), 1));
    ExprPtr gone(dalo_expr_clone_mul_int(shapes.get(), 0));
    EXPECT_EQ(attr(gone), DALO_ATTR_PLAIN);
    EXPECT_EQ(attr(ExprPtr(dalo_cons_mark(d.get()))), attr(d));
    ExprPtr mc(dalo_cons_mark(classic().get()));
    EXPECT_EQ(body(mc), "x +y");
    add(mc, d);  // combines with another declared value
    EXPECT_TRUE(is_sum(mc.get()));
}

TEST_F(ConsTest, SimplificationCarriesRecordsWithSimplifiedBodies) {
    ExprPtr obj = raw(2, {y});
    add(obj, ExprPtr(dalo_cons_between(ExprPtr(dalo_expr_create_add_var_var(x, x)).get(), 0, 2)));
    ExprPtr s = binary(obj);
    EXPECT_EQ(str(s.get()), "2*y");
    EXPECT_NE(attr(s), attr(obj));
    EXPECT_EQ(body(s), "2*x");
    EXPECT_EQ(body(obj), "x +x");
    // An ExprExpr keeps its bounds in the new record.
    ExprPtr c = classic();
    ExprPtr sc(dalo_expr_simplify(c.get()));
    EXPECT_TRUE(is_exprexpr(sc.get()));
    EXPECT_NE(attr(sc), attr(c));
    int64_t lo = 0, hi = 0;
    EXPECT_EQ(dalo_exprexpr_get_bounds(sc.get(), &lo, &hi), 1);
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(int64_t{1}, int64_t{1}));
    EXPECT_EQ(attr(ExprPtr(dalo_expr_simplify(var(x).get()))), DALO_ATTR_PLAIN);
}

using ConsDeathTest = ConsTest;

TEST_F(ConsDeathTest, Messages) {
    ExprPtr d = declared(), p = var(z), c = classic();
    ExprPtr pen(dalo_cons_mark(var(x).get())), pen1(dalo_cons_mark(var(x).get()));
    add(pen1, declared());
    int64_t lo = 0, hi = 1;
    auto refused = [](const std::string& what) {
        return "dalo::cons: '" + what +
               "' is not allowed on an expression with declared constraints";
    };
    auto holds = [](int n) {  // n constraints and a free-form penalty
        return "body() requires exactly one constraint, but this value holds " + std::to_string(n) +
               " constraint(s) and a free-form penalty; use violations(sol) instead.";
    };
    const std::string mixed =
        "dalo::cons: cannot mix declared constraints with classic penalty-style constraints in "
        "one expression; wrap the classic part with dalo::cons(...) as well";
    const std::string compare = refused("== / <= (comparing declared constraints)");
    const std::string shape = refused("abs/relu body carrying declared constraints");
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { dalo_expr_sqr(d.get()); }, refused("sqr")},
        {[&] { dalo_expr_mul_expr(d.get(), p.get()); }, refused("* expr")},
        {[&] { dalo_expr_mul_expr(p.get(), d.get()); }, refused("* expr")},
        {[&] { dalo_expr_imul_expr(p.get(), d.get()); }, refused("* expr")},
        {[&] { dalo_expr_imul_expr(d.get(), p.get()); }, refused("*= expr")},
        {[&] { dalo_expr_imul_term_direct(d.get(), 2, 0xFFFFFFFF00000000ull | x, nullptr); },
         refused("*= term")},
        {[&] { dalo_expr_idiv_int(d.get(), 2); }, refused("/=")},
        {[&] { dalo_exprexprelem_create(d.get(), p.get()); }, compare},
        {[&] { dalo_cons_between(d.get(), 0, 1); },
         refused("cons(body, ...) on declared constraints")},
        {[&] { dalo_cons_equal(d.get(), &lo, &hi, 1); },
         refused("cons(body, equal=...) on declared constraints")},
        {[&] { dalo_abs_term(d.get(), 7); }, shape},
        {[&] { dalo_relu_term(d.get(), 1); }, shape},
        {[&] { dalo_expr_iadd_expr(d.get(), c.get()); }, mixed},
        {[&] { dalo_expr_iadd_expr(c.get(), d.get()); }, mixed},
        {[&] { dalo_cons_equal(p.get(), &lo, &hi, 0); },
         "dalo_cons_equal: empty allowed-value set"},
        {[&] { dalo_relu_term(p.get(), 0); }, "dalo::relu: the exponent k must be 1 or 2 (got 0)"},
        {[&] { dalo_exprexpr_set_allowed(p.get(), &lo, &hi, 1); },
         "dalo_exprexpr_set_allowed: not an ExprExpr"},
        {[&] { dalo_exprexprelem_get_body(p.get()); },
         "ExprExpr body access on a value that is not an ExprExpr (plain Expr, VarInt or "
         "constraint sum)."},
        {[&] { dalo_exprexprelem_get_body(pen.get()); }, holds(0)},
        {[&] { dalo_exprexprelem_get_body(pen1.get()); }, holds(1)},
    };
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_FATAL(cases[i].first(), cases[i].second) << i;
}

}  // namespace
