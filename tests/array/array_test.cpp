// Array containers: shapes, selections (copies), concatenation, conversions and texts.
#include "support/suite.hpp"

using dalo_test::ArrayIntPtr, dalo_test::ExprPtr;
using namespace dalo_test::build;

namespace {

std::vector<uint64_t> shape_of(const dalo_array_int* a) {
    return std::vector<uint64_t>(dalo_array_int_shape(a),
                                 dalo_array_int_shape(a) + dalo_array_int_ndim(a));
}
// Takes the array, so that a call's result reads in one line.
std::string str(dalo_array_int* a) { return dalo_array_int_str(ArrayIntPtr(a).get()); }
// 0, 1, 2, ... in the given shape.
dalo_array_int* iota(std::vector<uint64_t> shape) {
    const uint64_t n = dalo_test::count_of(shape);
    std::vector<int32_t> v(n);
    for (uint64_t i = 0; i < n; ++i) v[i] = static_cast<int32_t>(i);
    return dalo_array_int_create_data(v.data(), shape.data(), shape.size());
}

TEST(Array, ShapesSubarraysAndViews) {
    ArrayIntPtr a(iota({2, 3, 4}));
    EXPECT_EQ(dalo_array_int_size(a.get()), 24u);
    EXPECT_EQ(dalo_array_int_shape_at(a.get(), 2), 4u);
    ArrayIntPtr s(dalo_array_int_subarray(a.get(), 1));
    EXPECT_EQ(shape_of(s.get()), (std::vector<uint64_t>{3, 4}));
    ArrayIntPtr row(dalo_array_int_subarray(s.get(), 2));
    EXPECT_EQ(values(row.get()), (std::vector<int32_t>{20, 21, 22, 23}));
    ArrayIntPtr scalar(dalo_array_int_subarray(row.get(), 2));
    EXPECT_EQ(dalo_array_int_ndim(scalar.get()), 0u);
    EXPECT_EQ(values(scalar.get()), std::vector<int32_t>{22});
    EXPECT_EQ(dalo_array_int_subarray(scalar.get(), 0), nullptr);
    EXPECT_STREQ(dalo_array_int_str(scalar.get()), "{}");
    dalo_array_int_destroy(nullptr);

    ArrayIntPtr m(iota({4, 5}));
    uint64_t start[2] = {1, 2}, stop[2] = {3, 5}, empty_stop[2] = {1, 5};
    uint8_t keep[2] = {0, 0}, drop_first[2] = {1, 0}, drop_all[2] = {1, 1};
    ArrayIntPtr v(dalo_array_int_view(m.get(), start, stop, keep, 2));
    EXPECT_EQ(shape_of(v.get()), (std::vector<uint64_t>{2, 3}));
    EXPECT_EQ(values(v.get()), (std::vector<int32_t>{7, 8, 9, 12, 13, 14}));
    ArrayIntPtr w(dalo_array_int_view(m.get(), start, stop, drop_first, 2));
    EXPECT_EQ(shape_of(w.get()), (std::vector<uint64_t>{3}));
    ArrayIntPtr p(dalo_array_int_view(m.get(), start, stop, drop_all, 2));
    EXPECT_EQ(dalo_array_int_ndim(p.get()), 0u);
    EXPECT_EQ(values(p.get()), (std::vector<int32_t>{7}));
    ArrayIntPtr e(dalo_array_int_view(m.get(), start, empty_stop, keep, 2));
    EXPECT_EQ(dalo_array_int_size(e.get()), 0u);
}

TEST(Array, ConcatAndSubviews) {
    ArrayIntPtr a(iota({2, 3})), big(iota({3, 3}));
    int32_t bv[2] = {90, 91};
    uint64_t bs[2] = {2, 1};
    ArrayIntPtr b(dalo_array_int_create_data(bv, bs, 2));
    EXPECT_EQ(str(dalo_array_int_concat(a.get(), b.get(), 1)), "{{0,1,2,90},{3,4,5,91}}");
    EXPECT_EQ(str(dalo_array_int_concat(a.get(), a.get(), 0)), "{{0,1,2},{3,4,5},{0,1,2},{3,4,5}}");
    EXPECT_EQ(values(ArrayIntPtr(dalo_array_int_clone_subview(big.get(), 6, 1)).get()),
              (std::vector<int32_t>{6, 7, 8}));
}

TEST(Array, LargeCopiesMatchTheSource) {
    ArrayIntPtr a(iota({120, 100}));
    uint64_t start[2] = {10, 3}, stop[2] = {118, 99};
    uint8_t keep[2] = {0, 0};
    const auto got = values(ArrayIntPtr(dalo_array_int_view(a.get(), start, stop, keep, 2)).get());
    ASSERT_EQ(got.size(), 108u * 96u);
    for (uint64_t i = 0; i < 108; ++i)
        for (uint64_t j = 0; j < 96; ++j)
            ASSERT_EQ(got[i * 96 + j], static_cast<int32_t>((i + 10) * 100 + j + 3));
    std::vector<int32_t> cv = values(ArrayIntPtr(dalo_array_int_concat(a.get(), a.get(), 1)).get());
    for (uint64_t i = 0; i < 120; ++i)
        ASSERT_EQ(cv[i * 200 + 150], static_cast<int32_t>(i * 100 + 50));
}

TEST(Array, VariablesTermsAndExpressions) {
    uint64_t two = 2, shape[2] = {2, 2};
    dalo_test::ArrayVarPtr x(dalo_array_var_create_named("x", &two, 1));
    dalo_test::ArrayVarPtr inv(dalo_array_var_invert(x.get()));
    EXPECT_STREQ(dalo_array_var_str(inv.get()), "{~x[0],~x[1]}");
    dalo_test::ArrayVarPtr back(dalo_array_var_invert(inv.get()));
    EXPECT_STREQ(dalo_array_var_str(back.get()), "{x[0],x[1]}");
    ArrayIntPtr ints(iota({2, 2}));
    dalo_array_int_set(ints.get(), 0, 1);
    EXPECT_STREQ(dalo_array_int_str(ints.get()), "{{1,1},{2,3}}");
    const dalo_var x0 = dalo_array_var_get(x.get(), 0);
    dalo_test::TermPtr t(dalo_term_create_var(-3, x0));
    dalo_test::ArrayTermPtr terms(dalo_array_term_create(&two, 1));
    dalo_array_term_set(terms.get(), 1, t.get());
    EXPECT_STREQ(dalo_array_term_str(terms.get()), "{0,-3*x[0]}");
    dalo_test::ArrayExprPtr ex(dalo_array_expr_create_constant_var(shape, 2, x0));
    ExprPtr five(dalo_expr_create_int(5));
    dalo_array_expr_set(ex.get(), 3, five.get());
    // Expression texts share one buffer.
    const char* s = dalo_array_expr_str(ex.get());
    EXPECT_STREQ(s, "{{x[0],x[0]},{x[0],5}}");
    dalo_expr_str(five.get());
    EXPECT_STREQ(s, "5");
    dalo_test::ArrayExprPtr k(dalo_array_expr_create_constant_int(&two, 1, -7));
    EXPECT_STREQ(dalo_array_expr_str(k.get()), "{-7,-7}");
    dalo_test::ArrayExprPtr copy(dalo_array_expr_from_expr(ex.get()));
    dalo_array_expr_set(ex.get(), 0, five.get());
    EXPECT_STREQ(dalo_array_expr_str(copy.get()), "{{x[0],x[0]},{x[0],5}}");
}

TEST(Array, ValuesFromASol) {
    uint64_t three = 3;
    dalo_test::ArrayVarPtr x(dalo_array_var_create_named("x", &three, 1));
    const dalo_var* ids = dalo_array_var_data(x.get());
    dalo_test::SolPtr s = sol_of(model_of(ExprPtr(dalo_expr_create_add_var_var(ids[0], ids[1]))));
    dalo_sol_set(s.get(), ids[1], 1);
    dalo_var lits[3] = {ids[1], ids[0] | DALO_NEG_BIT, ids[2]};
    dalo_test::ArrayVarPtr mixed(dalo_array_var_create_data(lits, &three, 1));
    ArrayIntPtr v(dalo_array_int_from_sol(s.get(), mixed.get()));
    EXPECT_EQ(values(v.get()), (std::vector<int32_t>{1, 1, 0}));  // x2 is outside the Model
}

TEST(ArrayDeathTest, IndexesAndShapesAreChecked) {
    ArrayIntPtr a(iota({2, 3})), b(iota({3, 3}));
    EXPECT_FATAL(dalo_array_int_get(a.get(), 6, nullptr),
                 "dalo_array_int_get: index 6 out of range (size 6)");
    EXPECT_FATAL(dalo_array_int_subarray(a.get(), 2),
                 "Array subarray: index 2 out of range (size 2)");
    EXPECT_FATAL(dalo_array_int_shape_at(a.get(), 2),
                 "dalo_array_int_shape_at: axis 2 out of range (2 axes)");
    uint64_t start[2] = {0, 1}, stop[2] = {2, 4};
    uint8_t keep[2] = {0, 0};
    EXPECT_FATAL(dalo_array_int_view(a.get(), start, stop, keep, 2),
                 "Array view: range 1..4 outside axis 1 of shape (2,3)");
    EXPECT_FATAL(dalo_array_int_view(a.get(), start, stop, keep, 1),
                 "Array view: 1 axes given for shape (2,3)");
    EXPECT_FATAL(dalo_array_int_concat(a.get(), b.get(), 1),
                 "Array concat: shapes (2,3) and (3,3) differ off axis 1");
    EXPECT_FATAL(dalo_array_int_clone_subview(a.get(), 4, 1),
                 "Array clone_subview: elements 4..7 outside size 6");
    EXPECT_THROW(dalo_array_int_clone_subview(a.get(), 0, 3), std::length_error);
}

}  // namespace
