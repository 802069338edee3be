// Bit-encoded integers: the encoding, the registry readers, uniform arrays, one-hot decoding.
#include "support/suite.hpp"

using dalo_test::ExprPtr;
using dalo_test::str;

namespace {

using ArrayPtr = dalo_test::ArrayExprPtr;

bool is_varint(const dalo_expr* e) { return dalo_expr_attr(e) <= 0x7FFFFFFFu; }

std::vector<int64_t> coeffs_of(const dalo_expr* e) {
    std::vector<int64_t> out;
    for (uint64_t j = 0; j < dalo_varintelem_var_count(e); ++j)
        out.push_back(dalo_varintelem_coeff(e, j, nullptr));
    return out;
}

std::string overflow(const std::string& lo, const std::string& hi) {
    return "VarInt range [" + lo + ", " + hi +
           "] too large: binary coefficient 2147483648 overflows the coefficient type; use a "
           "wider INTEGER_TYPE variant";
}

}  // namespace

TEST(VarInt, EncodingNamesAndPolynomial) {
    const uint64_t before = dalo_var_count();
    ExprPtr a(dalo_varintelem_create("vi_a", 0, 10));
    EXPECT_TRUE(is_varint(a.get()));
    EXPECT_EQ(coeffs_of(a.get()), (std::vector<int64_t>{1, 2, 4, 3}));
    for (uint64_t j = 0; j < 4; ++j) EXPECT_EQ(dalo_varintelem_var(a.get(), j), before + j);
    EXPECT_EQ(str(a.get()), "vi_a[0] +2*vi_a[1] +4*vi_a[2] +3*vi_a[3]");
    int64_t lo = -1, hi = -1;
    int32_t c = 0;
    EXPECT_EQ(dalo_varintelem_min(a.get(), &lo), 0);
    EXPECT_EQ(dalo_varintelem_max(a.get(), &hi), 10);
    EXPECT_EQ(dalo_varintelem_coeff(a.get(), 3, &c), 3);
    EXPECT_EQ((std::vector<int64_t>{lo, hi, c}), (std::vector<int64_t>{0, 10, 3}));
    // One coefficient: a single variable carrying exactly the name.
    ExprPtr one(dalo_varintelem_create("vi_one", 5, 6));
    EXPECT_EQ(str(one.get()), "5 +vi_one");
    // A null name draws one automatic name for the bits.
    ExprPtr unnamed(dalo_varintelem_create(nullptr, 0, 3));
    const std::string first = dalo_var_str(dalo_varintelem_var(unnamed.get(), 0));
    EXPECT_EQ(first.front(), '{');
    EXPECT_EQ(dalo_var_str(dalo_varintelem_var(unnamed.get(), 1)),
              first.substr(0, first.size() - 3) + "[1]");
    // No bits: the constant lo, and the record keeps the range as given.
    const uint64_t no_bits = dalo_var_count();
    ExprPtr back(dalo_varintelem_create("vi_back", 5, 2));
    EXPECT_EQ(dalo_var_count(), no_bits);
    EXPECT_EQ(str(back.get()), "5");
    EXPECT_EQ(dalo_varintelem_var_count(back.get()), 0u);
    EXPECT_EQ(dalo_varintelem_max(back.get(), nullptr), 2);
    // The widest range that fits ends on the largest coefficient.
    ExprPtr widest(dalo_varintelem_create("vi_wide", 0, 4294967294));
    EXPECT_EQ(dalo_varintelem_coeff(widest.get(), 31, nullptr), 2147483647);
}

TEST(VarIntDeathTest, CoefficientOverflowNamesTheRangeAndTheCoefficient) {
    EXPECT_FATAL(dalo_varintelem_create("vi_big", 0, 4294967295), overflow("0", "4294967295"));
    EXPECT_FATAL(dalo_varintelem_create("vi_big", INT64_MIN, INT64_MAX),
                 overflow("-9223372036854775808", "9223372036854775807"));
    const uint64_t shape[1] = {2};
    EXPECT_FATAL(dalo_array_varint_create_uniform("vi_big", shape, 1, -1, 4294967294),
                 overflow("-1", "4294967294"));
}

TEST(VarInt, CreateWithVarsTakesTheBitsAsGiven) {
    const dalo_var x = dalo_new_var("wx"), y = dalo_new_var("wy");
    const int32_t coeffs[2] = {3, -2};
    const dalo_var vars[2] = {x, y | DALO_NEG_BIT};
    ExprPtr v(dalo_varintelem_create_with_vars("vi_given", 1, 9, coeffs, vars, 2));
    EXPECT_EQ(str(v.get()), "1 +3*wx -2*~wy");
    EXPECT_EQ(dalo_varintelem_var(v.get(), 1), y | DALO_NEG_BIT);
    // Greedy over the given coefficients: r = 3; -2 <= 3 leaves 5; 3 <= 5 leaves 2.
    uint64_t bits[2];
    EXPECT_EQ(dalo_varintelem_decompose(v.get(), 4, nullptr, bits), 2u);
    EXPECT_EQ(std::vector<uint64_t>(bits, bits + 2), (std::vector<uint64_t>{1, 1}));
    ExprPtr none(dalo_varintelem_create_with_vars("vi_none", -6, 0, nullptr, nullptr, 0));
    EXPECT_EQ(str(none.get()), "-6");
}

TEST(VarInt, UniformArrayLayout) {
    const uint64_t before = dalo_var_count();
    const uint64_t shape[2] = {2, 3};
    ArrayPtr a(dalo_array_varint_create_uniform("vu", shape, 2, 0, 10));
    ASSERT_EQ(dalo_array_expr_size(a.get()), 6u);
    EXPECT_EQ(dalo_var_count(), before + 24);
    // Element 4 sits at (1, 1) and owns base + 16 ... base + 19 of one (2, 3, 4) array.
    const dalo_expr* e4 = dalo_array_expr_ref(a.get(), 4);
    EXPECT_EQ(str(e4), "vu[1][1][0] +2*vu[1][1][1] +4*vu[1][1][2] +3*vu[1][1][3]");
    EXPECT_EQ(dalo_varintelem_var(e4, 3), before + 19);
    EXPECT_EQ(dalo_varintelem_max(e4, nullptr), 10);
    ExprPtr plain(dalo_array_varint_get_expr(a.get(), 4));
    EXPECT_EQ(dalo_expr_attr(plain.get()), DALO_ATTR_PLAIN);
    EXPECT_EQ(str(plain.get()), str(e4));
    // One bit per element still forms one array, of shape (3, 1); no axis gives shape (B).
    const uint64_t three[1] = {3};
    ArrayPtr bits(dalo_array_varint_create_uniform("vb", three, 1, 4, 5));
    EXPECT_EQ(str(dalo_array_expr_ref(bits.get(), 2)), "4 +vb[2][0]");
    ArrayPtr scalar(dalo_array_varint_create_uniform("vs", nullptr, 0, -1, 2));
    EXPECT_EQ(str(dalo_array_expr_ref(scalar.get(), 0)), "-1 +vs[0] +2*vs[1]");
    // No bits, or no elements: no variables at all.
    const uint64_t n0 = dalo_var_count();
    ArrayPtr fixed(dalo_array_varint_create_uniform("vf", three, 1, 7, 7));
    const uint64_t empty_shape[2] = {2, 0};
    ArrayPtr empty(dalo_array_varint_create_uniform("ve", empty_shape, 2, 0, 10));
    EXPECT_EQ(dalo_var_count(), n0);
    EXPECT_EQ(dalo_array_expr_size(empty.get()), 0u);
    EXPECT_TRUE(is_varint(dalo_array_expr_ref(fixed.get(), 2)));
    EXPECT_EQ(str(dalo_array_expr_ref(fixed.get(), 2)), "7");
}

TEST(VarIntParallel, LargeUniformArrayLayoutIsTheSameOnAnyThreadCount) {
    const uint64_t shape[2] = {100, 120};
    const uint64_t before = dalo_var_count();
    ArrayPtr a(dalo_array_varint_create_uniform("vp", shape, 2, -2, 3));
    ASSERT_EQ(dalo_array_expr_size(a.get()), 12000u);
    const uint32_t w0 = dalo_expr_attr(dalo_array_expr_ref(a.get(), 0));
    for (uint64_t i = 0; i < 12000; ++i) {
        const dalo_expr* e = dalo_array_expr_ref(a.get(), i);
        ASSERT_EQ(dalo_expr_attr(e), w0 + i);
        ASSERT_EQ(dalo_expr_constant(e, nullptr), -2);
        ASSERT_EQ(dalo_expr_term_count(e), 3u);
        for (uint64_t j = 0; j < 3; ++j) {
            ASSERT_EQ(dalo_varintelem_var(e, j), before + i * 3 + j);
            ASSERT_EQ(dalo_term_var_at(dalo_expr_term_at(e, j), 0), before + i * 3 + j);
        }
    }
}

TEST(VarIntDeathTest, ReadersRefuseValuesThatAreNotVarInts) {
    const char* kNot =
        "VarInt accessor called on a value that is not a VarInt (plain Expr or ExprExpr).";
    ExprPtr plain(dalo_expr_create_var(dalo_new_var("rx")));
    ExprPtr ee(dalo_exprexprelem_create(plain.get(), plain.get()));
    ExprPtr vi(dalo_varintelem_create("rv", 0, 10));
    ExprPtr moved(dalo_expr_clone_add_int(vi.get(), 1));  // arithmetic drops the link
    // An ExprExpr's word lies just above the VarInt range.
    EXPECT_FATAL(dalo_varintelem_max(ee.get(), nullptr), kNot);
    EXPECT_FATAL(dalo_varintelem_var(moved.get(), 0), kNot);
    EXPECT_FATAL(dalo_varintelem_var(vi.get(), 4),
                 "dalo_varintelem_var: index 4 out of range (4 bits)");
    EXPECT_FATAL(dalo_varintelem_coeff(vi.get(), 7, nullptr),
                 "dalo_varintelem_coeff: index 7 out of range (4 bits)");
    const uint64_t two[1] = {2};
    ArrayPtr a(dalo_array_varint_create_uniform("rvu", two, 1, 0, 3));
    EXPECT_FATAL(dalo_array_varint_get_expr(a.get(), 2),
                 "dalo_array_varint_get_expr: index 2 out of range (size 2)");
}

TEST(VarInt, ReplaceAndCloneKeepTheLink) {
    ExprPtr vi(dalo_varintelem_create("kv", 2, 5));
    const uint32_t word = dalo_expr_attr(vi.get());
    ExprPtr clone(dalo_varintelem_clone(vi.get()));
    EXPECT_EQ(dalo_expr_attr(clone.get()), word);
    ExprPtr source(dalo_expr_create_add_var_var(dalo_new_var("kx"), dalo_new_var("ky")));
    dalo_varintelem_replace_expr(vi.get(), source.get());
    dalo_varintelem_replace_expr(vi.get(), vi.get());
    EXPECT_EQ(str(vi.get()), "kx +ky");
    EXPECT_EQ(dalo_expr_attr(vi.get()), word);
    EXPECT_EQ(dalo_varintelem_max(vi.get(), nullptr), 5);
    dalo_varintelem_destroy(nullptr);
}
