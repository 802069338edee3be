// Constraint inspection: item numbering, records, evaluation under a Sol, violation counts.
#include "support/suite.hpp"

#include <tuple>

#include "support/model_util.hpp"

using dalo_test::ExprPtr;
using dalo_test::str;

namespace {

using dalo_test::SolPtr;
using namespace dalo_test::build;

ExprPtr scaled(ExprPtr e, int64_t k) {
    dalo_expr_imul_int(e.get(), k);
    return e;
}

// bounded, body, weight, lo, hi
using Info = std::tuple<int, std::string, int64_t, int64_t, int64_t>;
Info info(const ExprPtr& e, uint64_t i) {
    dalo_expr* body = nullptr;
    int64_t w = 77, lo = 77, hi = 77;
    int r = dalo_cons_item_info(e.get(), i, &body, &w, &lo, &hi);
    ExprPtr owned(body);
    EXPECT_EQ(dalo_expr_attr(body), DALO_ATTR_PLAIN);
    return {r, str(body), w, lo, hi};
}
// value, lo, hi, violation, weight
using Eval = std::tuple<int64_t, int64_t, int64_t, int64_t, int64_t>;

class InspectTest : public testing::Test {
  protected:
    dalo_var x = dalo_new_var("x"), y = dalo_new_var("y"), z = dalo_new_var("z");
    dalo_var n = dalo_new_int_var("n", 0, 10);
    SolPtr sol;

    // A Sol over x, y, z, n with x = 1, y = 0, z = 1, n = 4.
    void SetUp() override {
        ExprPtr e = raw(1, {x});
        for (dalo_var v : {y, z, n}) dalo_expr_iadd_var(e.get(), v);
        sol = sol_of(model_of(binary(e)));
        for (dalo_var v : {x, z}) dalo_sol_set(sol.get(), v, 1);
        dalo_sol_set_int(sol.get(), n, 4);
    }

    ExprPtr sum_xy() { return ExprPtr(dalo_expr_create_add_var_var(x, y)); }
    ExprPtr equal(const ExprPtr& body, std::vector<std::pair<int64_t, int64_t>> iv) {
        std::vector<int64_t> lo, hi;
        for (auto [a, b] : iv) lo.push_back(a), hi.push_back(b);
        return ExprPtr(dalo_cons_equal(body.get(), lo.data(), hi.data(), lo.size()));
    }
    // Classic penalty (x + y - 1)^2 with body x + y; bounds [1, 1] unless told otherwise.
    ExprPtr classic(bool bounds = true) { return classic_of(sum_xy(), bounds); }
    ExprPtr four_x() { return raw(4, {x}); }  // 4 under the Sol
    // z + 3 * (0 <= x + y <= 1) + (4x in {[0, 1], [6, 9]}) + (x - 3 = 0).
    ExprPtr full_sum() {
        ExprPtr e = var(z);
        add(e, scaled(between(sum_xy(), 0, 1), 3));
        add(e, equal(four_x(), {{0, 1}, {6, 9}}));
        add(e, marked(raw(1, {x}, -3)));
        return e;
    }
    // Two constraints, no free-form penalty.
    ExprPtr pair() {
        ExprPtr e = between(sum_xy(), 0, 1);
        add(e, between(four_x(), 1, 3));
        return e;
    }
    Eval eval(const ExprPtr& e, uint64_t i) {
        int64_t v = 77, lo = 77, hi = 77, viol = 77, w = 77;
        EXPECT_EQ(dalo_cons_item_eval(e.get(), i, sol.get(), &v, &lo, &hi, &viol, &w), 1);
        return {v, lo, hi, viol, w};
    }
    int64_t eval_expr(const ExprPtr& e) { return dalo_sol_eval_expr(sol.get(), e.get(), nullptr); }
    uint64_t violations(const ExprPtr& e) { return dalo_cons_violation_count(e.get(), sol.get()); }
};
class InspectDeathTest : public InspectTest {};

TEST_F(InspectTest, KindsItemCountsAndItemInfo) {
    ExprPtr ee = classic();
    ExprPtr classic_sum = var(x);  // x + ee: a classic sum of one item, penalty x
    add(classic_sum, ee);
    // value, item count, declared, has a body
    const std::tuple<ExprPtr, uint64_t, int, int> kinds[] = {
        {sum_xy(), 1, 0, 0},
        {between(sum_xy(), 0, 1), 1, 1, 1},
        {full_sum(), 3, 1, 0},
        {pair(), 2, 1, 0},
        {marked(sum_xy()), 1, 1, 0},
        {classic(), 1, 0, 1},
        {std::move(classic_sum), 2, 0, 0},
        {ExprPtr(dalo_expr_clone_mul_int(ee.get(), 2)), 1, 0, 1},  // one item, no penalty
    };
    for (size_t i = 0; i < std::size(kinds); ++i) {
        const dalo_expr* e = std::get<0>(kinds[i]).get();
        EXPECT_EQ(dalo_cons_item_count(e), std::get<1>(kinds[i])) << i;
        EXPECT_EQ(dalo_expr_is_declared(e), std::get<2>(kinds[i])) << i;
        EXPECT_EQ(dalo_expr_has_body(e), std::get<3>(kinds[i])) << i;
    }
    ExprPtr e = full_sum(), loose = classic(false), holder = var(z);
    add(holder, scaled(marked(classic(false)), 4));
    EXPECT_EQ(info(e, 0), (Info{1, "x +y", 3, 0, 1}));
    EXPECT_EQ(info(e, 1), (Info{1, "4*x", 1, 0, 9}));
    EXPECT_EQ(info(e, 2), (Info{0, str(raw(1, {x}, -3).get()), 1, 0, 0}));  // the penalty
    EXPECT_EQ(info(raw(2, {z}, 1), 0), (Info{0, "1 +2*z", 1, 0, 0}));       // a plain value
    // An ExprExpr ignores the item number; its body comes back without the link.
    EXPECT_EQ(info(ee, 5), (Info{1, "x +y", 1, 1, 1}));
    // A record without bounds reports the whole queried value as free-form.
    EXPECT_EQ(info(loose, 0), (Info{0, str(loose.get()), 1, 0, 0}));
    EXPECT_EQ(info(holder, 0), (Info{0, "z", 1, 0, 0}));
    EXPECT_EQ(dalo_cons_item_info(e.get(), 0, nullptr, nullptr, nullptr, nullptr), 1);
}

TEST_F(InspectTest, ShapesAndAllowedSets) {
    uint32_t k = 7, oo = 7;
    ExprPtr shapes(dalo_abs_term(four_x().get(), 1));
    add(shapes, ExprPtr(dalo_relu_term(sum_xy().get(), 2)));
    add(shapes, between(sum_xy(), 0, 1));
    const std::pair<uint32_t, uint32_t> want[3] = {{1, 1}, {2, 1}, {2, 0}};
    for (uint64_t i = 0; i < 3; ++i) {
        EXPECT_EQ(dalo_cons_item_shape(shapes.get(), i, &k, &oo), 1);
        EXPECT_EQ(std::make_pair(k, oo), want[i]) << i;
    }
    // Every miss writes 2 and 0 first.
    for (const auto& [e, i] : {std::pair{pair(), 2},
                               {full_sum(), 2},
                               {sum_xy(), 0},
                               {classic(), 1},
                               {classic(false), 0}}) {
        k = 7, oo = 7;
        EXPECT_EQ(dalo_cons_item_shape(e.get(), i, &k, &oo), 0);
        EXPECT_EQ(std::make_pair(k, oo), std::make_pair(2u, 0u));
    }
    EXPECT_EQ(dalo_cons_item_shape(classic().get(), 0, &k, &oo), 1);

    int64_t lo[3] = {-1, -1, -1}, hi[3] = {-1, -1, -1};
    ExprPtr eq = equal(four_x(), {{7, 7}, {1, 2}, {4, 5}});
    EXPECT_EQ(dalo_cons_item_allowed(eq.get(), 0, lo, hi, 2), 3u);
    EXPECT_EQ((std::vector<int64_t>(lo, lo + 3)), (std::vector<int64_t>{7, 1, -1}));
    EXPECT_EQ((std::vector<int64_t>(hi, hi + 3)), (std::vector<int64_t>{7, 2, -1}));
    EXPECT_EQ(dalo_cons_item_allowed(eq.get(), 0, nullptr, nullptr, 0), 3u);
    EXPECT_EQ(dalo_cons_item_allowed(full_sum().get(), 1, lo, hi, 3), 2u);
    for (const auto& [e, i] : {std::pair{full_sum(), 0}, {full_sum(), 2}, {sum_xy(), 0}})
        EXPECT_EQ(dalo_cons_item_allowed(e.get(), i, lo, hi, 3), 0u);
    ExprPtr ee = classic();
    int64_t alo[2] = {0, 2}, ahi[2] = {0, 2};
    dalo_exprexpr_set_allowed(ee.get(), alo, ahi, 2);
    EXPECT_EQ(dalo_cons_item_allowed(ee.get(), 9, lo, hi, 3), 2u);  // item number ignored
    EXPECT_EQ(lo[1], 2);
}

TEST_F(InspectTest, ItemEvalDistances) {
    ExprPtr atoms = raw(3, {n}, 1);  // integer atoms take the Sol's values; w is outside
    dalo_expr_iadd_var(atoms.get(), dalo_new_var("w"));
    const std::tuple<ExprPtr, uint64_t, Eval> cases[] = {
        {between(four_x(), 1, 3), 0, Eval{4, 1, 3, 1, 1}},
        {between(four_x(), 6, 9), 0, Eval{4, 6, 9, 2, 1}},
        {between(four_x(), 4, 4), 0, Eval{4, 4, 4, 0, 1}},
        // 4 - 1 = 3 above the first interval, 6 - 4 = 2 below the second.
        {equal(four_x(), {{0, 1}, {6, 9}}), 0, Eval{4, 0, 9, 2, 1}},
        {equal(four_x(), {{3, 5}}), 0, Eval{4, 3, 5, 0, 1}},
        {equal(four_x(), {{9, 9}, {-2, 0}}), 0, Eval{4, -2, 9, 4, 1}},
        {between(four_x(), 5, 3), 0, Eval{4, 5, 3, 1, 1}},  // inverted: below lower counts first
        {between(atoms, 0, 10), 0, Eval{13, 0, 10, 3, 1}},
        {full_sum(), 0, Eval{1, 0, 1, 0, 3}},
        {full_sum(), 2, Eval{-2, 0, 0, -2, 1}},  // a free-form penalty: its signed value
        {raw(5, {z}, -1), 0, Eval{4, 0, 0, 4, 1}},
        {classic(), 3, Eval{1, 1, 1, 0, 1}},
        {scaled(between(four_x(), 1, 3), -2), 0, Eval{4, 1, 3, 1, -2}},
    };
    for (const auto& [e, item, want] : cases) EXPECT_EQ(eval(e, item), want) << str(e.get());
    int64_t v = 0, *none = nullptr;
    EXPECT_EQ(dalo_cons_item_eval(full_sum().get(), 1, sol.get(), &v, none, none, none, none), 1);
    EXPECT_EQ(v, 4);
}

TEST_F(InspectTest, ViolationCounts) {
    // Violated: 4x in [1, 3] and 4x in {[6, 9]}; satisfied: x + y in [0, 1]; shapes with
    // non-zero values never count; weights play no part.
    ExprPtr e = var(z);
    add(e, scaled(between(four_x(), 1, 3), 5));
    add(e, scaled(between(sum_xy(), 0, 1), -2));
    add(e, equal(four_x(), {{6, 9}}));
    add(e, ExprPtr(dalo_abs_term(four_x().get(), 2)));
    add(e, ExprPtr(dalo_relu_term(four_x().get(), 1)));
    EXPECT_EQ(violations(e), 2u);
    add(e, marked(raw(1, {x}, -3)));  // -2: counts once
    EXPECT_EQ(violations(e), 3u);
    add(e, marked(raw(1, {x}, 2)));  // the merged penalty is 2x - 1 = 1
    EXPECT_EQ(violations(e), 3u);
    EXPECT_EQ(violations(marked(raw(1, {x}, -1))), 0u);

    ExprPtr ee = classic(), loose = classic(false), classic_sum = var(z), holder = var(z);
    add(classic_sum, ee);
    add(holder, marked(classic(false)));  // a declared record without bounds is skipped
    EXPECT_EQ(violations(ee), 0u);        // x + y = 1
    EXPECT_EQ(violations(holder), 0u);
    dalo_sol_set(sol.get(), y, 1);
    EXPECT_EQ(violations(ee), 1u);
    EXPECT_EQ(violations(loose), 0u);
    // A classic sum counts its items and its plain part.
    EXPECT_EQ(violations(classic_sum), 2u);
    dalo_sol_set(sol.get(), z, 0);
    EXPECT_EQ(violations(classic_sum), 1u);
}

TEST_F(InspectDeathTest, Messages) {
    ExprPtr holder = var(z);
    add(holder, marked(classic(false)));
    for (const auto& [e, last] : {std::pair{pair(), 2}, {full_sum(), 3}, {sum_xy(), 1}}) {
        EXPECT_FATAL(info(e, last), "dalo_cons_item_info: bad item index");
        EXPECT_FATAL(eval(e, last), "dalo_cons_item_eval: bad item index");
    }
    EXPECT_FATAL(eval(classic(false), 0), "violations: constraint has no recorded bounds");
    EXPECT_FATAL(eval(holder, 0), "violations: constraint has no recorded bounds");
    EXPECT_FATAL(violations(sum_xy()), "cons(sol): expression carries no constraints");
}

}  // namespace
