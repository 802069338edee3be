// Simplification: canonical order, the plain, binary and spin rules, and large inputs.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "dalo.h"
#include "support/expr_util.hpp"
#include "support/fatal.hpp"

using dalo_test::ExprPtr;
using dalo_test::str;
using dalo_test::Term;
using dalo_test::terms_of;
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
    static std::string binary(const ExprPtr& e) {
        return str(ExprPtr(dalo_expr_simplify_as_binary(e.get())).get());
    }
    static std::string spin(const ExprPtr& e) {
        return str(ExprPtr(dalo_expr_simplify_as_spin(e.get())).get());
    }
};

TEST_F(SimplifyTest, MergesEqualProductsAndDropsZeros) {
    ExprPtr e = raw(3, {x, y});
    add(e, 2, {y, x});
    add(e, -5, {x, y});
    EXPECT_EQ(dalo_expr_term_count(ExprPtr(dalo_expr_simplify(e.get())).get()), 0u);
    EXPECT_EQ(str(e.get()), "3*x*y +2*y*x -5*x*y");  // the argument is left alone
}

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

TEST_F(SimplifyTest, SquaresUnderEachRule) {
    ExprPtr e = raw(1, {x, x});
    EXPECT_EQ(plain(e), "x*x");
    EXPECT_EQ(binary(e), "x");
    EXPECT_EQ(spin(e), "1");
    ExprPtr s = raw(1, {a, b, a});
    EXPECT_EQ(spin(s), "b");
    EXPECT_EQ(binary(raw(1, {x, y, x})), "x*y");
    EXPECT_EQ(spin(raw(3, {a, a, a})), "3*a");
}

TEST_F(SimplifyTest, BinaryRulesForNegatedLiterals) {
    EXPECT_EQ(binary(raw(4, {x | N})), "4 -4*x");
    EXPECT_EQ(spin(raw(4, {x | N})), "-4*x");
    EXPECT_EQ(binary(raw(3, {a | N, b | N})), "3 -3*a -3*b +3*a*b");
    EXPECT_EQ(binary(raw(2, {a, b | N})), "2*a -2*a*b");
    EXPECT_EQ(binary(raw(5, {x, x | N})), "0");
    EXPECT_EQ(binary(raw(5, {x | N, x | N})), "5 -5*x");
    EXPECT_EQ(binary(raw(5, {x, y, x | N})), "0");
    // A term that stays at degree 3 keeps its literal, sorted where its variable would be.
    EXPECT_EQ(binary(raw(2, {b, c, a | N})), "2*~a*b*c");
    // Degree 3 falling to 2 goes through the quadratic rules.
    EXPECT_EQ(binary(raw(3, {a | N, b | N, a | N})), "3 -3*a -3*b +3*a*b");
    // Integer atoms keep their repeats.
    dalo_var k = dalo_new_int_var("k", 0, 3);
    EXPECT_EQ(binary(raw(1, {k, k})), "k*k");
    EXPECT_EQ(binary(raw(1, {k, x, k, x})), "x*k*k");
    EXPECT_EQ(binary(raw(2, {k, x | N})), "2*k -2*x*k");
}

TEST_F(SimplifyTest, SideTermsMergeWithExistingTerms) {
    ExprPtr e = raw(3, {a | N, b | N});
    add(e, 3, {a});
    add(e, 1, {b});
    add(e, -1, {});
    EXPECT_EQ(binary(e), "2 -2*b +3*a*b");
}

TEST_F(SimplifyTest, ConstantsOnlyAndEmpty) {
    ExprPtr e(dalo_expr_create_int(-4));
    EXPECT_EQ(binary(e), "-4");
    ExprPtr k = raw(5, {}, 2);
    add(k, -3, {});
    EXPECT_EQ(plain(k), "4");
}

TEST_F(SimplifyTest, CoefficientSumsWrapIn32Bits) {
    ExprPtr e = raw(INT32_MAX, {x});
    add(e, 2, {x});
    EXPECT_EQ(plain(e), "-2147483647*x");
}

using SimplifyDeathTest = SimplifyTest;

TEST_F(SimplifyDeathTest, SpinRulesRefuseIntegerAtoms) {
    dalo_var k = dalo_new_int_var("k", 0, 3);
    ExprPtr e = raw(2, {x, k});
    EXPECT_FATAL(
        dalo_expr_simplify_as_spin(e.get()),
        "simplify_as_spin(): native integer variables (int_var) are not supported (spin rules "
        "do not apply to integer atoms).");
}

}  // namespace
