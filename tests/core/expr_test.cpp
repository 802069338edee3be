// Expressions: construction, appending, products, squares, division, queries and text.
#include "support/suite.hpp"

using dalo_test::ExprPtr;
using dalo_test::str;
using dalo_test::str_take;
using dalo_test::Term;
using dalo_test::TermPtr;
using dalo_test::terms_of;

namespace {

uint64_t pack(dalo_var a, dalo_var b) { return uint64_t{a} | (uint64_t{b} << 32); }

dalo_var* malloc_tail(std::initializer_list<dalo_var> ids) {
    auto* p = static_cast<dalo_var*>(std::malloc((ids.size() + 1) * sizeof(dalo_var)));
    *std::copy(ids.begin(), ids.end(), p) = DALO_NO_VAR;
    return p;
}

class ExprTest : public testing::Test {
  protected:
    dalo_var x = dalo_new_var("x"), y = dalo_new_var("y"), z = dalo_new_var("z"),
             w = dalo_new_var("w");
    // c + sum of coeff_i * v_i
    ExprPtr lin(int64_t c, std::initializer_list<std::pair<int64_t, dalo_var>> ts) {
        ExprPtr e(dalo_expr_create_int(c));
        for (auto [k, v] : ts) dalo_expr_iadd_raw_term(e.get(), k, &v, 1);
        return e;
    }
};

TEST_F(ExprTest, Constructors) {
    TermPtr t2x(dalo_term_create_var(2, x)), t3y(dalo_term_create_var(3, y));
    EXPECT_EQ(str_take(dalo_expr_create_var(x)), "x");
    EXPECT_EQ(str_take(dalo_expr_create_add_var_var(x, y)), "x +y");
    EXPECT_EQ(str_take(dalo_expr_create_add_var_int(x, -1)), "-1 +x");
    EXPECT_EQ(str_take(dalo_expr_create_sub_int_var(3, x)), "3 -x");
    EXPECT_EQ(str_take(dalo_expr_create_add_term_term(t2x.get(), t3y.get())), "2*x +3*y");
    EXPECT_EQ(str_take(dalo_expr_create_sub_term_term(t2x.get(), t3y.get())), "2*x -3*y");
    EXPECT_EQ(str_take(dalo_expr_create_add_term_var(t2x.get(), y)), "2*x +y");
    EXPECT_EQ(str_take(dalo_expr_create_add_term_int(t2x.get(), 5)), "5 +2*x");
    EXPECT_EQ(str_take(dalo_expr_create_sub_int_term(4, t2x.get())), "4 -2*x");
    dalo_var xyz[3] = {x, y, z};
    EXPECT_EQ(str_take(dalo_expr_create_raw_term(-4, xyz, 3, 9)), "9 -4*x*y*z");
    EXPECT_EQ(str_take(dalo_expr_create_add_raw_terms(2, xyz, 2, 1, xyz + 2, 1)), "2*x*y +z");
    // A zero term lands in the empty inline slot and is invisible.
    ExprPtr zero(dalo_expr_create_raw_term(0, xyz, 2, 6));
    EXPECT_EQ(dalo_expr_term_count(zero.get()), 0u);
    EXPECT_EQ(str(zero.get()), "6");
    // The Term handles used above are unchanged.
    EXPECT_STREQ(dalo_term_str(t2x.get()), "2*x");
}

TEST_F(ExprTest, MovedTermsAndTails) {
    {
        // The process's first tail is handed over: releasing the expression frees it.
        ExprPtr first(dalo_expr_create_move_term(1, pack(x, y), nullptr, 0));
        dalo_expr_iadd_move_term(first.get(), 3, pack(y, z), malloc_tail({x}));
    }
    ExprPtr e(dalo_expr_create_move_term(2, pack(x, y), malloc_tail({z, w}), 7));
    EXPECT_EQ(str(e.get()), "7 +2*x*y*z*w");
    dalo_expr_iadd_move_term(e.get(), 3, pack(y, z), malloc_tail({x}));
    dalo_expr_isub_move_term(e.get(), 5, pack(w, DALO_NO_VAR), nullptr);
    // A tail behind an unfilled second slot is taken and released all the same.
    dalo_expr_iadd_move_term(e.get(), 1, pack(x, DALO_NO_VAR), malloc_tail({y}));
    EXPECT_EQ(str(e.get()), "7 +2*x*y*z*w +3*y*z*x -5*w +x");

    int64_t c = 0;
    uint64_t slots = 0;
    const dalo_var* tail = nullptr;
    dalo_expr_term_at_data(e.get(), 0, &c, &slots, &tail);
    EXPECT_EQ(std::pair(c, slots), std::pair(int64_t{2}, pack(x, y)));
    ASSERT_NE(tail, nullptr);
    EXPECT_EQ(std::vector(tail, tail + 3), (std::vector<dalo_var>{z, w, DALO_NO_VAR}));
    dalo_expr_term_at_data(e.get(), 2, &c, &slots, &tail);
    EXPECT_EQ(std::pair(c, slots), std::pair(int64_t{-5}, pack(w, DALO_NO_VAR)));
    EXPECT_EQ(tail, nullptr);

    dalo_term* t = dalo_term_create_var_var(4, x, y);
    dalo_term_mul_var(t, z);
    EXPECT_EQ(str_take(dalo_expr_create_term(t, 1)), "4*x*y*z");  // t is released by the call
    TermPtr kept(dalo_term_create_var(-1, w));
    ExprPtr copied(dalo_expr_create_term(kept.get(), 0));
    EXPECT_EQ(str(copied.get()), "-w");
    EXPECT_STREQ(dalo_term_str(kept.get()), "-w");

    dalo_term* a = dalo_term_create_var(1, x);
    for (dalo_var v : {y, z}) dalo_term_mul_var(a, v);
    dalo_term* b = dalo_term_create_var(2, w);
    ExprPtr ml(dalo_expr_create_add_term_term_ml(a, b));
    EXPECT_EQ(str(ml.get()), "x*y*z +2*w");
    ExprPtr mm(dalo_expr_create_add_term_term_mm(b, dalo_term_create(3)));
    EXPECT_EQ(str(mm.get()), "2*w +3");
    dalo_expr_iadd_term_move(mm.get(), dalo_term_create_var_var(6, x, y));
    EXPECT_EQ(str(mm.get()), "2*w +3 +6*x*y");
}

TEST_F(ExprTest, AdditionAppendsWithoutMerging) {
    ExprPtr e(dalo_expr_create());
    dalo_expr_iadd_int(e.get(), 5);
    dalo_expr_iadd_raw_term(e.get(), 3, &x, 1);
    dalo_expr_isub_raw_term(e.get(), 2, &y, 1);
    dalo_var xy[2] = {x, y};
    dalo_expr_iadd_raw_term(e.get(), 1, xy, 2);
    EXPECT_EQ(str(e.get()), "5 +3*x -2*y +x*y");
    dalo_expr_iadd_var(e.get(), x);
    dalo_expr_isub_var(e.get(), x);
    dalo_expr_isub_int(e.get(), 8);
    TermPtr t(dalo_term_create_var(-4, z));
    dalo_expr_iadd_term(e.get(), t.get());
    dalo_expr_isub_term(e.get(), t.get());
    EXPECT_EQ(str(e.get()), "-3 +3*x -2*y +x*y +x -x -4*z +4*z");
    EXPECT_EQ(dalo_expr_term_count(e.get()), 7u);
}

TEST_F(ExprTest, AddAndSubtractExpressions) {
    ExprPtr a = lin(2, {{1, x}});
    ExprPtr b = lin(-3, {{1, y}, {-2, z}});
    dalo_expr_isub_expr(a.get(), b.get());
    EXPECT_EQ(str(a.get()), "5 +x -y +2*z");
    dalo_expr_iadd_expr(a.get(), b.get());
    EXPECT_EQ(str(a.get()), "2 +x -y +2*z +y -2*z");
    // Adding an expression to itself appends a copy of its own terms.
    ExprPtr s = lin(1, {{1, x}});
    dalo_expr_iadd_expr(s.get(), s.get());
    EXPECT_EQ(str(s.get()), "2 +x +x");
    dalo_expr_isub_expr(s.get(), s.get());
    EXPECT_EQ(str(s.get()), "x +x -x -x");
    // Into an empty expression the first term goes inline.
    ExprPtr e(dalo_expr_create());
    dalo_expr_iadd_expr(e.get(), b.get());
    EXPECT_EQ(terms_of(e.get()), (std::vector<Term>{{1, {y}}, {-2, {z}}}));
    EXPECT_EQ(str(b.get()), "-3 +y -2*z");
}

TEST_F(ExprTest, CopyingOperationsLeaveTheirSourceAlone) {
    ExprPtr a = lin(1, {{2, x}});
    ExprPtr b = lin(4, {{-1, y}});
    TermPtr t(dalo_term_create_var_var(3, x, y));
    EXPECT_EQ(str_take(dalo_expr_clone_add_int(a.get(), 2)), "3 +2*x");
    EXPECT_EQ(str_take(dalo_expr_clone_sub_int(a.get(), 2)), "-1 +2*x");
    EXPECT_EQ(str_take(dalo_expr_clone_add_var(a.get(), z)), "1 +2*x +z");
    EXPECT_EQ(str_take(dalo_expr_clone_sub_var(a.get(), z)), "1 +2*x -z");
    EXPECT_EQ(str_take(dalo_expr_clone_add_term(a.get(), t.get())), "1 +2*x +3*x*y");
    EXPECT_EQ(str_take(dalo_expr_clone_sub_term(a.get(), t.get())), "1 +2*x -3*x*y");
    EXPECT_EQ(str_take(dalo_expr_clone_add_expr(a.get(), b.get())), "5 +2*x -y");
    EXPECT_EQ(str_take(dalo_expr_clone_sub_expr(a.get(), b.get())), "-3 +2*x +y");
    EXPECT_EQ(str_take(dalo_expr_clone_mul_int(a.get(), -3)), "-3 -6*x");
    EXPECT_EQ(str_take(dalo_expr_clone(a.get())), "1 +2*x");
    EXPECT_EQ(str(a.get()), "1 +2*x");
    EXPECT_EQ(str(b.get()), "4 -y");
}

TEST_F(ExprTest, MultiplyByVariableAndTerm) {
    ExprPtr e = lin(2, {{1, x}});
    dalo_expr_imul_var(e.get(), y);
    EXPECT_EQ(str(e.get()), "2*y +x*y");
    dalo_var tail[2] = {w, DALO_NO_VAR};
    ExprPtr f = lin(3, {{-1, x}});
    dalo_expr_imul_term_direct(f.get(), 2, pack(y, z), tail);
    EXPECT_EQ(str(f.get()), "6*y*z*w -2*x*y*z*w");
    EXPECT_EQ(tail[0], w);  // the caller's tail is copied, not taken
    ExprPtr g = lin(0, {{4, x}});
    dalo_expr_imul_term_direct(g.get(), -1, pack(DALO_NO_VAR, DALO_NO_VAR), nullptr);
    EXPECT_EQ(str(g.get()), "-4*x");
}

TEST_F(ExprTest, Queries) {
    dalo_var xyz[3] = {x, y | DALO_NEG_BIT, z};
    ExprPtr e = lin(12, {{6, x}, {9, y}});
    dalo_expr_iadd_raw_term(e.get(), -3, xyz, 3);
    dalo_expr_iadd_raw_term(e.get(), 15, xyz + 1, 2);
    int64_t g = 0;
    EXPECT_EQ(dalo_expr_gcd(e.get(), &g), 3);
    EXPECT_EQ(g, 3);
    EXPECT_EQ(dalo_expr_term_count_degree(e.get(), 1), 2u);
    EXPECT_EQ(dalo_expr_term_count_degree(e.get(), 3), 1u);
    EXPECT_EQ(dalo_expr_max_degree(e.get()), 3u);
    EXPECT_EQ(dalo_expr_has(e.get(), z), 1);
    EXPECT_EQ(dalo_expr_has(e.get(), w), 0);
    EXPECT_EQ(dalo_expr_has_int_atom(e.get()), 0);
    dalo_var k = dalo_new_int_var("k", 0, 3);
    dalo_expr_iadd_var(e.get(), k);
    EXPECT_EQ(dalo_expr_has_int_atom(e.get()), 1);
    EXPECT_EQ(dalo_expr_gcd(e.get(), nullptr), 1);

    EXPECT_EQ(dalo_expr_gcd(ExprPtr(dalo_expr_create()).get(), nullptr), 0);
    EXPECT_EQ(dalo_expr_gcd(lin(0, {{-4, x}}).get(), nullptr), 4);
    ExprPtr zeros = lin(0, {{3, x}, {5, y}});
    dalo_expr_imul_int(zeros.get(), 0);
    EXPECT_EQ(dalo_expr_gcd(zeros.get(), nullptr), 0);
}

TEST_F(ExprTest, BulkTermsGoToTheTailAsGiven) {
    int32_t coeffs[4] = {0, 2, -3, 4};
    uint32_t degrees[4] = {1, 2, 0, 3};
    dalo_var vars[6] = {x, x, y, x, y, z};
    ExprPtr e(dalo_expr_create_from_bulk(5, 4, coeffs, degrees, vars));
    EXPECT_EQ(dalo_expr_term_count(e.get()), 4u);
    EXPECT_EQ(str(e.get()), "5 +0*x +2*x*y -3 +4*x*y*z");
    ExprPtr f = lin(1, {{1, w}});
    dalo_expr_iadd_terms_bulk(f.get(), -1, 4, coeffs, degrees, vars);
    EXPECT_EQ(str(f.get()), "w +0*x +2*x*y -3 +4*x*y*z");
    EXPECT_EQ(str_take(dalo_expr_create_from_bulk(3, 0, nullptr, nullptr, nullptr)), "3");
}

TEST_F(ExprTest, RangeCoefficients) {
    auto coeffs = [](int64_t lo, int64_t hi) {
        std::vector<int32_t> out(dalo_comp_coeffs_count(lo, hi));
        dalo_comp_coeffs(lo, hi, out.data());
        return out;
    };
    EXPECT_EQ(coeffs(0, 10), (std::vector<int32_t>{1, 2, 4, 3}));
    EXPECT_EQ(coeffs(0, 2), (std::vector<int32_t>{1, 1}));
    EXPECT_EQ(coeffs(-5, -4), (std::vector<int32_t>{1}));
    EXPECT_EQ(coeffs(-3, 3), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(dalo_comp_coeffs_count(5, 5), 0u);
    EXPECT_EQ(dalo_comp_coeffs_count(5, 3), 0u);
    // The largest range whose coefficients all fit: 2^30 is the last power, then 1.
    std::vector<int32_t> wide = coeffs(0, int64_t{1} << 31);
    ASSERT_EQ(wide.size(), 32u);
    EXPECT_EQ(std::vector(wide.begin() + 30, wide.end()), (std::vector<int32_t>{1 << 30, 1}));
}

using ExprDeathTest = ExprTest;

TEST_F(ExprDeathTest, DivisionFailures) {
    ExprPtr e = lin(3, {{2, x}});
    EXPECT_FATAL(dalo_expr_idiv_int(e.get(), 2), "Indivisible division in Expr constant");
    ExprPtr f = lin(4, {{3, x}});
    EXPECT_FATAL(dalo_expr_idiv_int(f.get(), 2), "Indivisible division in Expr term");
    EXPECT_FATAL(dalo_expr_idiv_int(f.get(), 0), "Division by zero");
}

TEST_F(ExprDeathTest, RangeCoefficientOverflow) {
    EXPECT_FATAL(dalo_comp_coeffs_count(0, 4294967295ll),
                 "VarInt range [0, 4294967295] too large: binary coefficient 2147483648 "
                 "overflows the coefficient type");
    int32_t out[64];
    EXPECT_FATAL(dalo_comp_coeffs(INT64_MIN, INT64_MAX, out),
                 "VarInt range [-9223372036854775808, 9223372036854775807] too large: binary "
                 "coefficient 2147483648 overflows the coefficient type");
}

}  // namespace
