// Terms: variable lists with inline slots and a heap tail, coefficients, text.
#include "support/suite.hpp"

using dalo_test::Term;
using dalo_test::term_of;
using dalo_test::TermPtr;

namespace {

uint64_t pack(dalo_var a, dalo_var b) { return uint64_t{a} | (uint64_t{b} << 32); }

class TermTest : public testing::Test {
  protected:
    dalo_var x = dalo_new_var("x"), y = dalo_new_var("y"), z = dalo_new_var("z"),
             w = dalo_new_var("w"), u = dalo_new_var("u");
};

TEST_F(TermTest, ProductsAndClonesAreIndependent) {
    TermPtr a(dalo_term_create_var_var(3, x, y));
    dalo_term_mul_var(a.get(), z);
    TermPtr b(dalo_term_create_var_var(-2, w, u));
    TermPtr p(dalo_term_mul_term(a.get(), b.get()));
    EXPECT_EQ(term_of(p.get()), (Term{-6, {x, y, z, w, u}}));

    TermPtr c(dalo_term_clone(a.get()));
    dalo_term_mul_var(c.get(), u);
    EXPECT_EQ(term_of(a.get()), (Term{3, {x, y, z}}));
    EXPECT_EQ(term_of(c.get()), (Term{3, {x, y, z, u}}));

    dalo_term_mul_term_move(a.get(), b.get());
    EXPECT_EQ(term_of(a.get()), (Term{-6, {x, y, z, w, u}}));
    EXPECT_EQ(term_of(b.get()), (Term{-2, {w, u}}));
}

TEST_F(TermTest, CoefficientArithmeticWrapsIn32Bits) {
    TermPtr t(dalo_term_create_var(0x40000000, x));
    dalo_term_mul_coeff(t.get(), 4);
    EXPECT_EQ(dalo_term_coeff(t.get(), nullptr), 0);
    TermPtr m(dalo_term_create_var(INT32_MAX, x));
    dalo_term_mul_coeff(m.get(), 2);
    int64_t out = 0;
    EXPECT_EQ(dalo_term_coeff(m.get(), &out), -2);
    EXPECT_EQ(out, -2);
    dalo_term_negate(m.get());
    EXPECT_EQ(dalo_term_coeff(m.get(), nullptr), 2);
    TermPtr lo(dalo_term_create(INT32_MIN));
    dalo_term_negate(lo.get());
    EXPECT_EQ(dalo_term_coeff(lo.get(), nullptr), INT32_MIN);
    dalo_term_div_coeff(lo.get(), -1);
    EXPECT_EQ(dalo_term_coeff(lo.get(), nullptr), INT32_MIN);
    TermPtr d(dalo_term_create_var(12, x));
    dalo_term_div_coeff(d.get(), -4);
    EXPECT_EQ(dalo_term_coeff(d.get(), nullptr), -3);
}

TEST_F(TermTest, Text) {
    auto text = [](dalo_term* t) { return std::string(dalo_term_str(TermPtr(t).get())); };
    EXPECT_EQ(text(dalo_term_create_var_var(3, x, y)), "3*x*y");
    EXPECT_EQ(text(dalo_term_create_var(-1, x)), "-x");
    EXPECT_EQ(text(dalo_term_create(5)), "5");
    EXPECT_EQ(text(dalo_term_create_var(0, x)), "0*x");
    EXPECT_EQ(text(dalo_term_create_var_var(-1, x | DALO_NEG_BIT, y)), "-~x*y");
    dalo_var tail[2] = {z, DALO_NO_VAR};
    EXPECT_EQ(text(dalo_term_create_vararray(2, pack(x, y | DALO_NEG_BIT), tail)), "2*x*~y*z");
    // No "*" follows a name that ends in "-".
    dalo_var odd = dalo_new_var("a-");
    EXPECT_EQ(text(dalo_term_create_var_var(2, odd, y)), "2*a-y");
}

using TermDeathTest = TermTest;

TEST_F(TermDeathTest, DivisionFailures) {
    TermPtr t(dalo_term_create_var(7, x));
    EXPECT_FATAL(dalo_term_div_coeff(t.get(), 0), "Division by zero");
    EXPECT_FATAL(dalo_term_div_coeff(t.get(), 2), "Indivisible division in Term");
}

TEST_F(TermDeathTest, IndexBeyondTheDegreeIsFatal) {
    TermPtr t(dalo_term_create_var_var(1, x, y));
    EXPECT_FATAL(dalo_term_var_at(t.get(), 2), "dalo_term_var_at: index 2 out of range (degree 2)");
    TermPtr c(dalo_term_create(4));
    EXPECT_FATAL(dalo_term_var_at(c.get(), 0), "dalo_term_var_at: index 0 out of range (degree 0)");
}

}  // namespace
