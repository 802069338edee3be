// Large expressions, where the per-term loops run on several threads: every result must equal
// a term-by-term reference built here. ctest runs this suite with 1, 4 and the default threads.
#include "support/suite.hpp"

#include "support/model_util.hpp"

using namespace dalo_test;

namespace {

class ExprParallel : public testing::Test {
  protected:
    std::mt19937_64 rng{12345};
    std::vector<dalo_var> pool;

    void SetUp() override { pool = new_vars("v", 40); }

    // Random terms of degree 0..3 (negated literals included), coefficients in [-50, 50].
    std::vector<Term> random_terms(size_t n) {
        std::vector<Term> out;
        for (size_t i = 0; i < n; ++i) {
            Term t{static_cast<int64_t>(rng() % 101) - 50, {}};
            size_t d = rng() % 8 == 0 ? 3 : rng() % 3;
            for (size_t k = 0; k < d; ++k) {
                dalo_var v = pool[rng() % pool.size()];
                t.vars.push_back(rng() % 5 == 0 ? (v | DALO_NEG_BIT) : v);
            }
            out.push_back(t);
        }
        return out;
    }

    static Term product(int64_t c, const Term& a, const Term& b) {
        Term t{static_cast<int32_t>(static_cast<uint32_t>(c * a.coeff * b.coeff)), a.vars};
        t.vars.insert(t.vars.end(), b.vars.begin(), b.vars.end());
        return t;
    }
};

TEST_F(ExprParallel, ProductEqualsReferenceInBothOrientations) {
    // Zero coefficients may not stand first: they would vanish into the inline slot.
    std::vector<Term> a = random_terms(300), b = random_terms(70);
    a[0].coeff = 7;
    b[0].coeff = -3;
    ExprPtr ea = from_terms(3, a), eb = from_terms(-2, b);
    for (bool swap : {false, true}) {
        const auto& l = swap ? b : a;
        const auto& r = swap ? a : b;
        int64_t lc = swap ? -2 : 3, rc = swap ? 3 : -2;
        std::vector<Term> want;
        for (const Term& t : r) want.push_back(product(lc, Term{1, {}}, t));
        for (const Term& t : l) want.push_back(product(rc, t, Term{1, {}}));
        for (const Term& s : l)
            for (const Term& t : r) want.push_back(product(1, s, t));
        ExprPtr p(swap ? dalo_expr_mul_expr(eb.get(), ea.get())
                       : dalo_expr_mul_expr(ea.get(), eb.get()));
        EXPECT_EQ(dalo_expr_constant(p.get(), nullptr), -6);
        EXPECT_EQ(terms_of(p.get()), want);
    }
}

TEST_F(ExprParallel, SquareEqualsReference) {
    std::vector<Term> a = random_terms(260);
    a[0].coeff = 5;
    for (int64_t c : {0, 4}) {
        ExprPtr e = from_terms(c, a);
        std::vector<Term> want;
        for (size_t i = 0; i < a.size(); ++i) {
            want.push_back(product(1, a[i], a[i]));
            if (c != 0) want.push_back(product(2 * c, a[i], Term{1, {}}));
            for (size_t j = i + 1; j < a.size(); ++j) want.push_back(product(2, a[i], a[j]));
        }
        ExprPtr s(dalo_expr_sqr(e.get()));
        EXPECT_EQ(dalo_expr_constant(s.get(), nullptr), c * c);
        EXPECT_EQ(terms_of(s.get()), want);
    }
}

// Products of linear expressions too large for the caches, written past them.
TEST_F(ExprParallel, LargeLinearProductsEqualReference) {
    std::vector<Term> a, b;
    for (uint32_t i = 0; i < 1200; ++i)
        a.push_back(Term{static_cast<int64_t>(rng() % 2001) - 1000, {pool[i % 40]}});
    a[0].coeff = 9;
    b.assign(a.begin(), a.begin() + 600);
    ExprPtr ea = from_terms(0, a), eb = from_terms(0, b);
    std::vector<Term> want;
    for (const Term& s : a)
        for (const Term& t : b) want.push_back(product(1, s, t));
    EXPECT_EQ(terms_of(ExprPtr(dalo_expr_mul_expr(ea.get(), eb.get())).get()), want);
    want.clear();
    for (size_t i = 0; i < a.size(); ++i) {
        want.push_back(product(1, a[i], a[i]));
        for (size_t j = i + 1; j < a.size(); ++j) want.push_back(product(2, a[i], a[j]));
    }
    EXPECT_EQ(terms_of(ExprPtr(dalo_expr_sqr(ea.get())).get()), want);
}

TEST_F(ExprParallel, BulkEqualsTermByTerm) {
    std::vector<Term> ts = random_terms(30000);
    std::vector<int32_t> coeffs;
    std::vector<uint32_t> degrees;
    std::vector<dalo_var> vars;
    for (const Term& t : ts) {
        coeffs.push_back(static_cast<int32_t>(t.coeff));
        degrees.push_back(static_cast<uint32_t>(t.vars.size()));
        vars.insert(vars.end(), t.vars.begin(), t.vars.end());
    }
    ExprPtr e(dalo_expr_create_from_bulk(9, ts.size(), coeffs.data(), degrees.data(), vars.data()));
    EXPECT_EQ(dalo_expr_constant(e.get(), nullptr), 9);
    EXPECT_EQ(terms_of(e.get()), ts);
}

}  // namespace
