// Simplification: canonical order, the plain, binary and spin rules, and large inputs.
#include "support/suite.hpp"

using dalo_test::ExprPtr;
using dalo_test::str;
using dalo_test::build::add;
using dalo_test::build::raw;

namespace {

class SimplifyTest : public testing::Test {
  protected:
    // Created in this order, so a < b < c and x < y.
    dalo_var a = dalo_new_var("a"), b = dalo_new_var("b"), c = dalo_new_var("c"),
             x = dalo_new_var("x"), y = dalo_new_var("y");
    static constexpr dalo_var N = DALO_NEG_BIT;

    static std::string plain(const ExprPtr& e) {
        return str(ExprPtr(dalo_expr_simplify(e.get())).get());
    }
};

TEST_F(SimplifyTest, CanonicalTermOrder) {
    ExprPtr e = raw(1, {y}, 7);
    add(e, 1, {x, y});
    add(e, 1, {x});
    EXPECT_EQ(plain(e), "7 +x +y +x*y");
    ExprPtr f = raw(2, {c, a, b});
    add(f, 1, {b, a});
    add(f, 4, {});
    add(f, 1, {c});
    add(f, 1, {a, c});
    add(f, -2, {});
    EXPECT_EQ(plain(f), "2 +c +a*b +a*c +2*a*b*c");
    // Negated literals sort right after their variable; integer atoms after all binaries.
    dalo_var k = dalo_new_int_var("k", 0, 3);
    ExprPtr g = raw(1, {k, b});
    add(g, 1, {b | N, a});
    add(g, 1, {b, a});
    EXPECT_EQ(plain(g), "a*b +a*~b +b*k");
}

}  // namespace
