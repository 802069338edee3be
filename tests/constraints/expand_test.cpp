// Penalty expansion of declared constraints, and bulk classic range penalties.
#include "support/suite.hpp"

#include "support/model_util.hpp"

using dalo_test::ExprPtr;
using dalo_test::str;
using namespace dalo_test::build;

namespace {

ExprPtr times(const dalo_expr* e, int64_t k) { return ExprPtr(dalo_expr_clone_mul_int(e, k)); }
ExprPtr minus(const dalo_expr* e, int64_t k) { return ExprPtr(dalo_expr_clone_sub_int(e, k)); }
ExprPtr product(const dalo_expr* a, const dalo_expr* b) {
    return ExprPtr(dalo_expr_mul_expr(a, b));
}
ExprPtr expand(const dalo_expr* e) { return ExprPtr(dalo_expr_expand_cons(e)); }
ExprPtr declared(const dalo_expr* f, int64_t lo, int64_t hi, int64_t weight = 1) {
    ExprPtr c(dalo_cons_between(f, lo, hi));
    return weight == 1 ? std::move(c) : times(c.get(), weight);
}

// (f - s)(f - s - 1) for a one-bit slack s over [0, 1].
ExprPtr range_form(const dalo_expr* f, dalo_var s) {
    ExprPtr gap(dalo_expr_clone_sub_var(f, s));
    return product(gap.get(), minus(gap.get(), 1).get());
}

// The number N of a slack name "{sN}" or "{sN}[j]".
uint64_t slack_number(dalo_var v) {
    const std::string name = dalo_var_str(v);
    EXPECT_EQ(name.rfind("{s", 0), 0u) << name;
    return std::stoull(name.substr(2));
}

// min over the slack bits [first, first + n) of e, with the body variables set to xv.
int64_t min_over_slack(const dalo_expr* e, dalo_test::Values a, dalo_var first, uint32_t n) {
    int64_t best = INT64_MAX;
    for (uint64_t mask = 0; mask < (uint64_t{1} << n); ++mask) {
        for (uint32_t j = 0; j < n; ++j) a[first + j] = (mask >> j) & 1;
        best = std::min(best, dalo_test::eval_map(e, a));
    }
    return best;
}

class ExpandTest : public testing::Test {
  protected:
    std::vector<dalo_var> xs = dalo_test::new_vars("ex", 4);
    ExprPtr sum01() { return ExprPtr(dalo_expr_create_add_var_var(xs[0], xs[1])); }
    // x0 + 2 x1 + 3 x2 - x3, reaching -1 .. 6
    ExprPtr linear() {
        ExprPtr f = var(xs[0]);
        for (auto [c, j] : {std::pair{2, 1}, {3, 2}, {-1, 3}}) add(f, c, {xs[j]});
        return f;
    }
    // 1 + 2 x0 x1 - x0 x2 x3 + 3 ~x1 + x2 x2: a negated literal and a repeated variable
    ExprPtr nonlinear() {
        ExprPtr f = raw(2, {xs[0], xs[1]}, 1);
        add(f, -1, {xs[0], xs[2], xs[3]});
        add(f, 3, {xs[1] | DALO_NEG_BIT});
        add(f, 1, {xs[2], xs[2]});
        return f;
    }
};

}  // namespace

TEST_F(ExpandTest, ValuesWithoutDeclaredConstraintsAreCopied) {
    ExprPtr vi(dalo_varintelem_create("ev", 0, 5));
    ExprPtr v = expand(vi.get());
    EXPECT_EQ(dalo_expr_attr(v.get()), dalo_expr_attr(vi.get()));
    EXPECT_EQ(str(v.get()), "ev[0] +2*ev[1] +2*ev[2]");

    // Classic values: the penalties are already the polynomial; the bookkeeping goes.
    ExprPtr ee = classic_of(sum01());
    ExprPtr classic(dalo_expr_clone_add_expr(ee.get(), ee.get()));
    ASSERT_GE(dalo_expr_attr(classic.get()), 0xC0000000u);
    ASSERT_EQ(dalo_expr_is_declared(classic.get()), 0);
    ExprPtr plain = linear();
    for (const dalo_expr* e : {plain.get(), ee.get(), classic.get()}) {
        ExprPtr x = expand(e);
        EXPECT_EQ(dalo_expr_attr(x.get()), DALO_ATTR_PLAIN);
        EXPECT_EQ(str(x.get()), str(e));
    }
}

TEST_F(ExpandTest, PenaltyFormsOfEqualitiesAndRanges) {
    ExprPtr f = sum01();
    const uint64_t before = dalo_var_count();
    // An equality is the weighted square for either sign of the weight.
    ExprPtr square(dalo_expr_sqr(minus(f.get(), 3).get()));
    EXPECT_EQ(str(expand(declared(f.get(), 3, 3, 5).get()).get()),
              "45 +5*ex[0]*ex[0] -30*ex[0] +10*ex[0]*ex[1] +5*ex[1]*ex[1] -30*ex[1]");
    for (int64_t w : {5, -5, 1})
        EXPECT_EQ(str(expand(declared(f.get(), 3, 3, w).get()).get()),
                  str(times(square.get(), w).get()));
    // [0, 1] with weight 2: 2 f (f - 1).
    EXPECT_EQ(str(expand(declared(f.get(), 0, 1, 2).get()).get()),
              str(times(product(f.get(), minus(f.get(), 1).get()).get(), 2).get()));
    EXPECT_EQ(dalo_var_count(), before);

    // [0, 5]: one slack array "{sN}" of two bits with coefficients 2, 2.
    ExprPtr w = expand(declared(f.get(), 0, 5).get());
    ASSERT_EQ(dalo_var_count(), before + 2);
    const dalo_var s0 = static_cast<dalo_var>(before), s1 = s0 + 1;
    const uint64_t n = slack_number(s0);
    EXPECT_EQ(dalo_var_str(s0), "{s" + std::to_string(n) + "}[0]");
    EXPECT_EQ(dalo_var_str(s1), "{s" + std::to_string(n) + "}[1]");
    ExprPtr slack(dalo_expr_create_raw_term(2, &s0, 1, 0));
    dalo_expr_iadd_raw_term(slack.get(), 2, &s1, 1);
    ExprPtr gap(dalo_expr_clone_sub_expr(f.get(), slack.get()));
    EXPECT_EQ(str(w.get()), str(product(gap.get(), minus(gap.get(), 1).get()).get()));
    // [0, 2]: a single slack bit, named with the next number.
    ExprPtr narrow = expand(declared(f.get(), 0, 2).get());
    EXPECT_EQ(dalo_var_str(s0 + 2), "{s" + std::to_string(n + 1) + "}");
    EXPECT_EQ(str(narrow.get()), str(range_form(f.get(), s0 + 2).get()));

    // hi < lo: no penalty at all, only the objective.
    ExprPtr objective = linear();
    dalo_expr_iadd_expr(objective.get(), declared(f.get(), 5, 3, 4).get());
    EXPECT_EQ(str(expand(objective.get()).get()), str(linear().get()));
    EXPECT_EQ(dalo_var_count(), before + 3);
}

using ExpandDeathTest = ExpandTest;

TEST_F(ExpandDeathTest, UnusableItemsAreFatal) {
    const char* kNegative =
        "expand_cons: a one-sided/range constraint carries a NEGATIVE weight; its slack-based "
        "penalty form is only valid for positive weights. Keep the expression in cons() form "
        "and use a bundled solver.";
    const char* kShape =
        "expand_cons: dalo::abs/relu terms have no classic penalty form (|f|^k is not a "
        "polynomial)";
    ExprPtr f = sum01();
    EXPECT_FATAL(expand(declared(f.get(), 4, 3, -2).get()), kNegative);  // empty, still a range
    // The shape check comes before the weight check.
    EXPECT_FATAL(expand(times(ExprPtr(dalo_abs_term(f.get(), 1)).get(), -1).get()), kShape);
    EXPECT_FATAL(expand(ExprPtr(dalo_relu_term(f.get(), 2)).get()), kShape);
    // relu(x0 - x1) has the range bounds [-1, 0]: under a negative weight the shape still
    // decides the message.
    ExprPtr diff(dalo_expr_clone_sub_var(var(xs[0]).get(), xs[1]));
    ExprPtr relu(dalo_relu_term(diff.get(), 1));
    EXPECT_FATAL(expand(times(relu.get(), -3).get()), kShape);
    // Items are taken in order: a good range before a bad one has made its slack, the bad
    // one stops the expansion.
    ExprPtr both = declared(f.get(), 0, 2);
    dalo_expr_iadd_expr(both.get(), declared(f.get(), 1, 1).get());
    dalo_expr_iadd_expr(both.get(), relu.get());
    dalo_expr_iadd_expr(both.get(), declared(f.get(), 0, 3, -1).get());
    EXPECT_FATAL(expand(both.get()), kShape);
}

// The 24-byte term record of the interface.
struct TermRecord {
    int32_t coeff;
    uint32_t unused;
    dalo_var slot0, slot1;
    const dalo_var* tail;
};
static_assert(sizeof(TermRecord) == 24);

TEST_F(ExpandTest, ArrayBetweenBuildsOnePenaltyPerItem) {
    // Kind 0: expression handles, each copied; a VarInt's word does not travel.
    ExprPtr vi(dalo_varintelem_create("eb", 0, 3)), f = sum01();
    const dalo_expr* exprs[2] = {f.get(), vi.get()};
    dalo_expr* out[3] = {nullptr, nullptr, nullptr};
    dalo_array_between(exprs, 0, 2, 3, out, 2);
    EXPECT_EQ(out[2], nullptr);
    for (int i = 0; i < 2; ++i) {
        ExprPtr got(out[i]);
        EXPECT_EQ(dalo_expr_attr(got.get()), DALO_ATTR_PLAIN);
        EXPECT_EQ(str(got.get()),
                  str(product(minus(exprs[i], 2).get(), minus(exprs[i], 3).get()).get()));
    }

    // Kind 1: variables, each 1*x; a wide range gives each its own slack, in order.
    const uint64_t before = dalo_var_count();
    dalo_array_between(xs.data(), 1, 0, 5, out, 3);
    ASSERT_EQ(dalo_var_count(), before + 6);
    const dalo_var s = dalo_var(before);
    for (int i = 0; i < 3; ++i) {
        ExprPtr got(out[i]);
        EXPECT_EQ(slack_number(s + 2 * i), slack_number(s) + i);
        for (int64_t x = 0; x <= 1; ++x)
            EXPECT_EQ(min_over_slack(got.get(), {{xs[i], x}}, s + 2 * i, 2), 0);
    }

    // Kind 2: term records of degree 1 to 3.
    const dalo_var tail[2] = {xs[2], DALO_NO_VAR};
    const TermRecord terms[3] = {{3, 0, xs[0], DALO_NO_VAR, nullptr},
                                 {-2, 0, xs[0], xs[1], nullptr},
                                 {5, 0, xs[0], xs[1], tail}};
    dalo_array_between(terms, 2, 1, 1, out, 3);
    for (int i = 0; i < 3; ++i) {
        ExprPtr got(out[i]);
        ExprPtr term(dalo_expr_create_raw_term(terms[i].coeff, xs.data(), i + 1, 0));
        EXPECT_EQ(str(got.get()), str(ExprPtr(dalo_expr_sqr(minus(term.get(), 1).get())).get()));
    }

    // Nothing to do for n = 0, whatever the kind.
    dalo_array_between(nullptr, 9, 0, 1, nullptr, 0);
}
