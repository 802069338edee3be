// The C++ front end: each operator gives the same expression as the C function it wraps,
// value semantics, constraints, Models, Sols and searches.
#include "support/suite.hpp"

#include <iterator>
#include <sstream>

#include "dalo.hpp"

namespace {

using dalo::Expr;
using dalo::ExprArray;
using dalo::Shape;
using dalo::Term;
using dalo::Var;
using dalo::VarArray;
using dalo_test::thrown;

// The text of a result of the C interface, which the call releases.
std::string c_text(dalo_expr* e) { return dalo_expr_str(dalo_test::ExprPtr(e).get()); }
std::string c_text(dalo_term* t) { return dalo_term_str(dalo_test::TermPtr(t).get()); }
std::string c_text(dalo_array_expr* a) {
    return dalo_array_expr_str(dalo_test::ArrayExprPtr(a).get());
}

TEST(FrontEnd, OperatorsMatchTheCFunctions) {
    Var x = dalo::var("x"), y = dalo::var("y"), z = dalo::var("z");
    EXPECT_EQ((~x).name(), "~x");
    EXPECT_EQ(~~x, x);
    EXPECT_EQ(dalo::var().name().front(), '{');
    Var k = dalo::int_var("k", -2, 5);
    EXPECT_TRUE(k.is_int());
    EXPECT_EQ(k.bounds(), (std::pair<int64_t, int64_t>{-2, 5}));
    EXPECT_THROW(dalo::int_var("bad", 3, 3), std::invalid_argument);

    Term t1 = 2 * x, t2 = 5 * y * z;
    Expr e = x + 2 * y * z - 7, f = 3 * z - y;
    // e with a C function applied in place.
    auto on_e = [&](const std::function<void(dalo_expr*)>& op) {
        dalo_expr* c = dalo_expr_clone(e.get());
        op(c);
        return c_text(c);
    };
    dalo_term* xyz = dalo_term_create_var_var(2, x.id(), y.id());
    dalo_term_mul_var(xyz, z.id());
    dalo_term* half = dalo_term_create_var(4, x.id());
    dalo_term_div_coeff(half, 2);
    dalo_term* neg = dalo_term_create_var(3, y.id());
    dalo_term_negate(neg);
    const std::pair<std::string, std::string> rows[] = {
        {(x * y).str(), c_text(dalo_term_create_var_var(1, x.id(), y.id()))},
        {(x * 3).str(), c_text(dalo_term_create_var(3, x.id()))},
        {(-x).str(), c_text(dalo_term_create_var(-1, x.id()))},
        {(2 * x * y * z).str(), c_text(xyz)},
        {(Term(4, x) * Term(3, y)).str(), "12*x*y"},
        {(Term(4, x) / 2).str(), c_text(half)},
        {(-Term(3, y)).str(), c_text(neg)},
        {(x + y).str(), c_text(dalo_expr_create_add_var_var(x.id(), y.id()))},
        {(3 + x).str(), c_text(dalo_expr_create_add_var_int(x.id(), 3))},
        {(x - 3).str(), c_text(dalo_expr_create_add_var_int(x.id(), -3))},
        {(3 - x).str(), c_text(dalo_expr_create_sub_int_var(3, x.id()))},
        {(t1 + t2).str(), c_text(dalo_expr_create_add_term_term(t1.get(), t2.get()))},
        {(t1 - t2).str(), c_text(dalo_expr_create_sub_term_term(t1.get(), t2.get()))},
        {(t2 + x).str(), c_text(dalo_expr_create_add_term_var(t2.get(), x.id()))},
        {(4 + t2).str(), c_text(dalo_expr_create_add_term_int(t2.get(), 4))},
        {(4 - t2).str(), c_text(dalo_expr_create_sub_int_term(4, t2.get()))},
        {(e + f).str(), on_e([&](dalo_expr* c) { dalo_expr_iadd_expr(c, f.get()); })},
        {(e - f).str(), on_e([&](dalo_expr* c) { dalo_expr_isub_expr(c, f.get()); })},
        {(e * f).str(), on_e([&](dalo_expr* c) { dalo_expr_imul_expr(c, f.get()); })},
        {(e + z).str(), on_e([&](dalo_expr* c) { dalo_expr_iadd_var(c, z.id()); })},
        {(e - t2).str(), on_e([&](dalo_expr* c) { dalo_expr_isub_term(c, t2.get()); })},
        {(-3 * e).str(), on_e([&](dalo_expr* c) { dalo_expr_imul_int(c, -3); })},
        {(e * x).str(), on_e([&](dalo_expr* c) { dalo_expr_imul_var(c, x.id()); })},
        {(-e).str(), on_e([&](dalo_expr* c) { dalo_expr_negate(c); })},
        {e.sqr().str(), c_text(dalo_expr_sqr(e.get()))},
        {((4 * x + 8) / 4).str(), "2 +x"},
        // An operand made of a variable or term goes first.
        {(y + e).str(), (Expr(y) + e).str()},
        {(t1 * e).str(), (Expr(t1) * e).str()},
        {dalo::sum(std::vector<Var>{x, y, z}).str(), "x +y +z"},
    };
    for (size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(rows[i].first, rows[i].second) << i;
    EXPECT_EQ((2 * x * y).vars(), (std::vector<Var>{x, y}));
}

TEST(FrontEnd, ValueSemanticsAndTransforms) {
    Var x = dalo::var("x"), y = dalo::var("y"), z = dalo::var("z");
    Expr a = x + y;
    Expr b = a;  // a copy, not an alias
    b += z;
    EXPECT_EQ(a.str(), "x +y");
    Expr c = std::move(b);
    a = c;
    a *= 2;
    EXPECT_EQ(c.str(), "x +y +z");
    EXPECT_EQ(a.term(1).str(), "2*y");

    Expr e = x * y + y * x + 3 * x - 3 * x;
    EXPECT_EQ(e.simplify().str(), c_text(dalo_expr_simplify(e.get())));
    EXPECT_EQ(e.simplify_as_binary().str(), "2*x*y");
    EXPECT_EQ(e.eval({{x, 1}, {y, 1}}), 2);
    Expr handed = e;  // the consuming form rewrites its own terms and leaves no handle behind
    EXPECT_EQ(std::move(handed).simplify_as_binary().str(), "2*x*y");
    EXPECT_EQ(handed.get(), nullptr);  // NOLINT(bugprone-use-after-move): the documented state
    Expr cubic = x * y * z;
    // Auxiliary names differ per call; the shape does not.
    const dalo_test::ExprPtr reduced(dalo_expr_reduce(cubic.get()));
    EXPECT_EQ(cubic.reduce().term_count(), dalo_expr_term_count(reduced.get()));
    EXPECT_EQ(Expr(x).to_spin().str(), c_text(dalo_expr_binary_to_spin(Expr(x).get())));
    EXPECT_EQ(e.replace({{x, Expr(1)}}).simplify().str(), "2*y");
    EXPECT_EQ((2 * x - 3 * y + 1).neg_sum(), -2);
    std::ostringstream os;
    os << (x + 1) << " " << 2 * x << " " << ~y;
    EXPECT_EQ(os.str(), "1 +x 2*x ~y");
}

TEST(FrontEnd, ConstraintsModelAndSol) {
    Var x = dalo::var("x"), y = dalo::var("y"), z = dalo::var("z");
    Expr body = x + y + z;
    Expr f = 2 * x - y + dalo::cons(body, 1, 1) + dalo::cons(x + y, dalo::equal{0, 2});
    EXPECT_TRUE(f.is_declared());
    EXPECT_THROW(dalo::cons(body, dalo::equal(std::vector<std::pair<int64_t, int64_t>>{})),
                 std::invalid_argument);
    EXPECT_THROW(dalo::abs(body, 3), std::invalid_argument);
    EXPECT_EQ(dalo::cons(body, 0, 2).body().str(), "x +y +z");

    dalo::Model m(f.simplify_as_binary());
    EXPECT_EQ(m.native_cons_count(), 2u);
    dalo::Sol s(m);
    EXPECT_EQ(s.energy(), 1);  // all 0: the equality misses by 1
    s.set(x, 1);
    EXPECT_FALSE(s.energy_valid());
    EXPECT_EQ(s.comp_energy(), 2 + 1);  // 2x, and x + y = 1 is not allowed
    EXPECT_EQ(f.violations(s), 1u);
    s.set(y, 1);
    s.flip(x);
    EXPECT_EQ(s[~x], 1);
    EXPECT_EQ(s.comp_energy(), -1 + 1);
    dalo::Sol copy = s;
    copy.set(z, 1);
    EXPECT_EQ(s[z], 0);
    EXPECT_EQ(copy.comp_energy(), -1 + 1 + 1);
    EXPECT_EQ(s.model().var_count(), 3u);
    EXPECT_EQ(s.eval(2 * x - y), -1);
}

// Each misuse throws dalo::error with the library's line, leaves the objects as they were and
// keeps no error behind; a search in the same process works afterwards.
TEST(FrontEndErrors, MisuseThrowsAndChangesNothing) {
    Var x = dalo::var("x"), y = dalo::var("y");
    Expr declared = x + dalo::cons(x + y, 1, 1), e = 2 * x + 3, square = (x + y) * (x + y);
    VarArray a = dalo::var("a", {2}), wide = dalo::var("w", {60});
    dalo::Model line(x + y + 0), many(wide.sum());
    dalo::Sol sol(line);
    auto state = [&] {
        return declared.str() + e.str() + a.str() + std::to_string(dalo_var_count()) +
               std::to_string(dalo_int_var_count()) + sol.str();
    };
    const std::pair<const char*, std::function<void()>> rows[] = {
        {"dalo: int_var: bounds must satisfy lo < hi (got lo = 5, hi = 5)",
         [] { dalo::int_var("n", 5, 5); }},
        {"dalo: Indivisible division in Expr constant", [&] { e /= 2; }},
        {"dalo: Division by zero", [&] { e /= 0; }},
        {"dalo: dalo::cons: '*= expr' is not allowed on an expression with declared constraints",
         [&] { declared *= Expr(y); }},
        {"dalo: dalo_cons_equal: empty allowed-value set",
         [&] { dalo::cons(x + y, dalo::equal{}); }},
        {"dalo: Array +: shape mismatch (2) vs (60)", [&] { (void)(a + wide); }},
        {"dalo: Model: expression not simplified as binary (unsorted/duplicate vars). Call "
         "simplify_as_binary() first.",
         [&] { dalo::Model m(square); }},
        {"dalo: SweepSolver: 60 variables exceed the enumeration limit of 48 (2^48 states)",
         [&] { dalo::SweepSolver s(many); }},
    };
    for (const auto& [message, misuse] : rows) {
        const std::string before = state();
        EXPECT_EQ(thrown(misuse), message);
        EXPECT_EQ(state(), before) << message;
        EXPECT_EQ(dalo_last_error(), nullptr);
    }
    EXPECT_EQ(dalo::SweepSolver(line).search().energy(), 0);
}

TEST(FrontEndArrays, OperatorsMatchTheCMembers) {
    VarArray x = dalo::var("a", {2, 3});
    EXPECT_EQ(x(std::initializer_list<uint64_t>{1, 2}).name(), "a[1][2]");
    EXPECT_EQ(x[1].str(), "{a[1][0],a[1][1],a[1][2]}");
    dalo::IntArray c = dalo::ints({1, 2, 3, 4, 5, 6}, {2, 3});
    Var y = dalo::var("b");
    EXPECT_EQ((x + 1).str(), c_text(dalo_array_var_add_int(x.get(), 1)));
    EXPECT_EQ((x - y).str(), c_text(dalo_array_var_sub_var(x.get(), y.id())));
    EXPECT_EQ((x + c).str(), c_text(dalo_array_var_add_array_int(x.get(), c.get())));
    EXPECT_EQ((c * x).str(),
              dalo::TermArray::adopt(dalo_array_int_mul_array_var(c.get(), x.get())).str());
    ExprArray e = x * 2 + c;
    EXPECT_EQ(e.str(),
              c_text(dalo_array_term_add_array_int(dalo::TermArray(x * 2).get(), c.get())));
    e += y;
    e *= 3;
    ExprArray manual = dalo::TermArray(x * 2) + c;
    dalo_array_expr_add_eq_var(manual.get(), y.id());
    dalo_array_expr_mul_eq_int(manual.get(), 3);
    EXPECT_EQ(e.str(), manual.str());
    EXPECT_EQ((-x).str(), c_text(dalo_array_var_negate(x.get())));
    EXPECT_EQ(x.sum().str(), dalo::Expr::adopt(dalo_array_var_sum(x.get())).str());
    EXPECT_EQ(x.sum(0).str(), c_text(dalo_array_var_vector_sum(x.get(), 0)));
    EXPECT_EQ(dalo::einsum<0>("ij,ij->", c, c).at(0), 91);
    EXPECT_EQ(dalo::einsum<1>("ij,ij->i", c, x).shape(), (Shape{2}));

    // Shapes and sizes are checked before the call.
    VarArray z = dalo::var("z", {3, 2});
    EXPECT_EQ(thrown([&] { (void)(x * z); }), "dalo: Array *: shape mismatch (2,3) vs (3,2)");
    EXPECT_THROW(x.at(6), std::out_of_range);
    EXPECT_THROW(x.sum(2), std::out_of_range);
    EXPECT_THROW(dalo::ints({1, 2}, {3}), std::invalid_argument);
    VarArray m = dalo::var("m", {2});
    const std::vector<int32_t> q32 = {1, -2, 5, 0};
    EXPECT_EQ(dalo::quadratic(m, q32.data(), 1, 2).str(), "m[0] +3*m[0]*m[1]");
    const std::vector<int64_t> three = {1, 2, 3};
    EXPECT_EQ(thrown([&] { (void)dalo::quadratic(m, three); }),
              "dalo::quadratic: 3 values for 2 variables");
    const std::vector<int64_t> wide = {int64_t{1} << 32, 1, int64_t{1} << 31, 0};
    EXPECT_EQ(thrown([&] { (void)dalo::quadratic(m, wide); }),
              "dalo::quadratic: 2 coefficients do not fit in 32 bits");
}

TEST(FrontEndArrays, ClassicComparisonsSolValuesAndVarInts) {
    VarArray x = dalo::var("o", {3});
    dalo::Model m(Expr(2 * x.sum() + (x == 1).sum()).simplify_as_binary());
    dalo::Sol s(m);
    s.set(x.at(1), 1);
    EXPECT_EQ(s.values(x).str(), "{0,1,0}");

    dalo::VarInt n("n", 3, 13);  // coefficients 1, 2, 4, 3
    EXPECT_EQ(n.min(), 3);
    EXPECT_EQ(n.max(), 13);
    EXPECT_EQ(n.coeffs(), (std::vector<int64_t>{1, 2, 4, 3}));
    dalo::Model mn(Expr((n - 8).sqr()).simplify_as_binary());
    dalo::Result r = dalo::SweepSolver(mn).search();
    EXPECT_EQ(r.energy(), 0);
    EXPECT_EQ(n.value(r.sol()), 8);
    for (int64_t v = 3; v <= 13; ++v) {
        dalo::Sol t(mn);
        for (const auto& [bit, on] : n.encode(v)) t.set(bit, on);
        EXPECT_EQ(n.value(t), v);
    }
    EXPECT_EQ(dalo::varint("m", {2}, 0, 3).size(), 2u);
    Var a = dalo::var("a"), b = dalo::var("b");
    Expr classic = dalo::cons(a + b, 1, 1).expand_cons();
    EXPECT_FALSE(classic.is_declared());
    EXPECT_EQ(classic.simplify_as_binary().str(),
              Expr(((a + b) - 1).sqr()).simplify_as_binary().str());
}

}  // namespace
