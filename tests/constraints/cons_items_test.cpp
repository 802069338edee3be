// Constraint inspection: item numbering, records, evaluation under a Sol, violation counts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dalo.h"
#include "support/expr_util.hpp"
#include "support/fatal.hpp"

using dalo_test::ExprPtr;
using dalo_test::str;

namespace {

struct SolDeleter {
    void operator()(dalo_sol* s) const { dalo_sol_destroy(s); }
};
using SolPtr = std::unique_ptr<dalo_sol, SolDeleter>;

ExprPtr raw(int64_t coeff, std::vector<dalo_var> vs, int64_t constant = 0) {
    return ExprPtr(dalo_expr_create_raw_term(coeff, vs.data(), vs.size(), constant));
}
void add(const ExprPtr& e, const ExprPtr& f) { dalo_expr_iadd_expr(e.get(), f.get()); }
ExprPtr scaled(ExprPtr e, int64_t k) {
    dalo_expr_imul_int(e.get(), k);
    return e;
}

struct Info {
    int bounded;
    std::string body;
    uint32_t body_attr;
    int64_t weight, lo, hi;
};
Info info(const ExprPtr& e, uint64_t i) {
    dalo_expr* body = nullptr;
    int64_t w = 77, lo = 77, hi = 77;
    int r = dalo_cons_item_info(e.get(), i, &body, &w, &lo, &hi);
    ExprPtr owned(body);
    return {r, str(body), dalo_expr_attr(body), w, lo, hi};
}

struct Eval {
    int64_t value, lo, hi, violation, weight;
    bool operator==(const Eval&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Eval& e) {
    return os << "{" << e.value << ", " << e.lo << ", " << e.hi << ", " << e.violation << ", "
              << e.weight << "}";
}

class InspectTest : public testing::Test {
  protected:
    dalo_var x = dalo_new_var("x"), y = dalo_new_var("y"), z = dalo_new_var("z");
    dalo_var n = dalo_new_int_var("n", 0, 10);
    SolPtr sol;

    // A Sol over x, y, z, n with x = 1, y = 0, z = 1, n = 4.
    void SetUp() override {
        ExprPtr e = raw(1, {x});
        dalo_expr_iadd_var(e.get(), y);
        dalo_expr_iadd_var(e.get(), z);
        dalo_expr_iadd_var(e.get(), n);
        ExprPtr b(dalo_expr_simplify_as_binary(e.get()));
        dalo_model* m = dalo_model_create(b.get());
        sol.reset(dalo_sol_create(m));
        dalo_model_destroy(m);
        dalo_sol_set(sol.get(), x, 1);
        dalo_sol_set(sol.get(), z, 1);
        dalo_sol_set_int(sol.get(), n, 4);
    }

    ExprPtr var(dalo_var v) { return ExprPtr(dalo_expr_create_var(v)); }
    ExprPtr sum_xy() { return ExprPtr(dalo_expr_create_add_var_var(x, y)); }
    ExprPtr between(const ExprPtr& body, int64_t lo, int64_t hi) {
        return ExprPtr(dalo_cons_between(body.get(), lo, hi));
    }
    ExprPtr equal(const ExprPtr& body, std::vector<std::pair<int64_t, int64_t>> iv) {
        std::vector<int64_t> lo, hi;
        for (auto [a, b] : iv) lo.push_back(a), hi.push_back(b);
        return ExprPtr(dalo_cons_equal(body.get(), lo.data(), hi.data(), lo.size()));
    }
    ExprPtr mark(const ExprPtr& e) { return ExprPtr(dalo_cons_mark(e.get())); }
    // Classic penalty (x + y - 1)^2 with body x + y; bounds [1, 1] unless told otherwise.
    ExprPtr classic(bool bounds = true) {
        ExprPtr body = sum_xy();
        ExprPtr f(dalo_expr_clone_sub_int(body.get(), 1));
        ExprPtr pen(dalo_expr_sqr(f.get()));
        ExprPtr ee(dalo_exprexprelem_create(pen.get(), body.get()));
        if (bounds) dalo_exprexpr_set_bounds(ee.get(), 1, 1);
        return ee;
    }
    // 4x with x = 1.
    ExprPtr four_x() { return raw(4, {x}); }
    // z + 3 * (0 <= x + y <= 1) + (4x in {[0, 1], [6, 9]}) + (x - 3 = 0).
    ExprPtr full_sum() {
        ExprPtr e = var(z);
        add(e, scaled(between(sum_xy(), 0, 1), 3));
        add(e, equal(four_x(), {{0, 1}, {6, 9}}));
        add(e, mark(raw(1, {x}, -3)));
        return e;
    }
    // Two constraints, no free-form penalty.
    ExprPtr pair() {
        ExprPtr e = between(sum_xy(), 0, 1);
        add(e, between(four_x(), 1, 3));
        return e;
    }
    Eval eval(const ExprPtr& e, uint64_t i) {
        Eval r{77, 77, 77, 77, 77};
        EXPECT_EQ(dalo_cons_item_eval(e.get(), i, sol.get(), &r.value, &r.lo, &r.hi, &r.violation,
                                      &r.weight),
                  1);
        return r;
    }
    int64_t eval_expr(const ExprPtr& e) { return dalo_sol_eval_expr(sol.get(), e.get(), nullptr); }
    uint64_t violations(const ExprPtr& e) { return dalo_cons_violation_count(e.get(), sol.get()); }
};
class InspectDeathTest : public InspectTest {};

TEST_F(InspectTest, KindsAndItemCounts) {
    ExprPtr plain = sum_xy();
    ExprPtr single = between(sum_xy(), 0, 1);
    ExprPtr marked = mark(sum_xy());
    ExprPtr ee = classic();
    ExprPtr classic_sum = var(x);  // x + ee: a classic sum of one item, penalty x
    add(classic_sum, ee);
    ExprPtr classic_single(dalo_expr_clone_mul_int(ee.get(), 2));  // one item, no penalty

    EXPECT_EQ(dalo_cons_item_count(plain.get()), 1u);
    EXPECT_EQ(dalo_cons_item_count(single.get()), 1u);
    EXPECT_EQ(dalo_cons_item_count(full_sum().get()), 3u);
    EXPECT_EQ(dalo_cons_item_count(pair().get()), 2u);
    EXPECT_EQ(dalo_cons_item_count(marked.get()), 1u);
    EXPECT_EQ(dalo_cons_item_count(ee.get()), 1u);
    EXPECT_EQ(dalo_cons_item_count(classic_sum.get()), 2u);

    EXPECT_EQ(dalo_expr_is_declared(single.get()), 1);
    EXPECT_EQ(dalo_expr_is_declared(marked.get()), 1);
    EXPECT_EQ(dalo_expr_is_declared(plain.get()), 0);
    EXPECT_EQ(dalo_expr_is_declared(ee.get()), 0);
    EXPECT_EQ(dalo_expr_is_declared(classic_sum.get()), 0);

    EXPECT_EQ(dalo_expr_has_body(single.get()), 1);
    EXPECT_EQ(dalo_expr_has_body(pair().get()), 0);
    EXPECT_EQ(dalo_expr_has_body(marked.get()), 0);
    EXPECT_EQ(dalo_expr_has_body(ee.get()), 1);
    EXPECT_EQ(dalo_expr_has_body(classic_single.get()), 1);
    EXPECT_EQ(dalo_expr_has_body(classic_sum.get()), 0);
    EXPECT_EQ(dalo_expr_has_body(plain.get()), 0);
}

TEST_F(InspectTest, ItemInfo) {
    ExprPtr e = full_sum();
    const uint32_t plain = DALO_ATTR_PLAIN;
    Info i0 = info(e, 0), i1 = info(e, 1), i2 = info(e, 2);
    EXPECT_EQ(i0.bounded, 1);
    EXPECT_EQ(i0.body, "x +y");
    EXPECT_EQ(i0.body_attr, plain);
    EXPECT_EQ((std::vector<int64_t>{i0.weight, i0.lo, i0.hi}), (std::vector<int64_t>{3, 0, 1}));
    EXPECT_EQ(i1.bounded, 1);
    EXPECT_EQ(i1.body, "4*x");
    EXPECT_EQ((std::vector<int64_t>{i1.weight, i1.lo, i1.hi}), (std::vector<int64_t>{1, 0, 9}));
    EXPECT_EQ(i2.bounded, 0);  // the free-form penalty
    EXPECT_EQ(i2.body, str(raw(1, {x}, -3).get()));
    EXPECT_EQ(i2.body_attr, plain);
    EXPECT_EQ((std::vector<int64_t>{i2.weight, i2.lo, i2.hi}), (std::vector<int64_t>{1, 0, 0}));

    // A plain value is one free-form item: itself.
    ExprPtr p = raw(2, {z}, 1);
    Info ip = info(p, 0);
    EXPECT_EQ(ip.bounded, 0);
    EXPECT_EQ(ip.body, "1 +2*z");
    EXPECT_EQ((std::vector<int64_t>{ip.weight, ip.lo, ip.hi}), (std::vector<int64_t>{1, 0, 0}));

    // An ExprExpr ignores the item number; its body comes back without the link.
    ExprPtr ee = classic();
    Info ie = info(ee, 5);
    EXPECT_EQ(ie.bounded, 1);
    EXPECT_EQ(ie.body, "x +y");
    EXPECT_EQ(ie.body_attr, plain);
    EXPECT_EQ((std::vector<int64_t>{ie.weight, ie.lo, ie.hi}), (std::vector<int64_t>{1, 1, 1}));

    // A record without bounds reports the whole queried value as free-form.
    ExprPtr loose = classic(false);
    Info il = info(loose, 0);
    EXPECT_EQ(il.bounded, 0);
    EXPECT_EQ(il.body, str(loose.get()));
    EXPECT_EQ(il.body_attr, plain);
    EXPECT_EQ((std::vector<int64_t>{il.weight, il.lo, il.hi}), (std::vector<int64_t>{1, 0, 0}));
    ExprPtr holder = var(z);
    add(holder, scaled(mark(classic(false)), 4));
    Info ih = info(holder, 0);
    EXPECT_EQ(ih.bounded, 0);
    EXPECT_EQ(ih.body, "z");
    EXPECT_EQ(ih.weight, 1);

    // Null outputs are skipped.
    EXPECT_EQ(dalo_cons_item_info(e.get(), 0, nullptr, nullptr, nullptr, nullptr), 1);
}

TEST_F(InspectTest, ShapesAndAllowedSets) {
    uint32_t k = 7, oo = 7;
    ExprPtr shapes(dalo_abs_term(four_x().get(), 1));
    add(shapes, ExprPtr(dalo_relu_term(sum_xy().get(), 2)));
    add(shapes, between(sum_xy(), 0, 1));
    EXPECT_EQ(dalo_cons_item_shape(shapes.get(), 0, &k, &oo), 1);
    EXPECT_EQ(std::make_pair(k, oo), std::make_pair(1u, 1u));
    EXPECT_EQ(dalo_cons_item_shape(shapes.get(), 1, &k, &oo), 1);
    EXPECT_EQ(std::make_pair(k, oo), std::make_pair(2u, 1u));
    EXPECT_EQ(dalo_cons_item_shape(shapes.get(), 2, &k, &oo), 1);
    EXPECT_EQ(std::make_pair(k, oo), std::make_pair(2u, 0u));
    // Every miss writes 2 and 0 first.
    auto miss = [&](const ExprPtr& e, uint64_t i) {
        k = 7, oo = 7;
        EXPECT_EQ(dalo_cons_item_shape(e.get(), i, &k, &oo), 0);
        EXPECT_EQ(std::make_pair(k, oo), std::make_pair(2u, 0u));
    };
    miss(pair(), 2);
    miss(full_sum(), 2);  // the penalty slot
    miss(sum_xy(), 0);
    miss(classic(), 1);
    miss(classic(false), 0);
    EXPECT_EQ(dalo_cons_item_shape(classic().get(), 0, &k, &oo), 1);

    int64_t lo[3] = {-1, -1, -1}, hi[3] = {-1, -1, -1};
    ExprPtr eq = equal(four_x(), {{7, 7}, {1, 2}, {4, 5}});
    EXPECT_EQ(dalo_cons_item_allowed(eq.get(), 0, lo, hi, 2), 3u);
    EXPECT_EQ((std::vector<int64_t>(lo, lo + 3)), (std::vector<int64_t>{7, 1, -1}));
    EXPECT_EQ((std::vector<int64_t>(hi, hi + 3)), (std::vector<int64_t>{7, 2, -1}));
    EXPECT_EQ(dalo_cons_item_allowed(eq.get(), 0, nullptr, nullptr, 0), 3u);
    EXPECT_EQ(dalo_cons_item_allowed(full_sum().get(), 1, lo, hi, 3), 2u);
    EXPECT_EQ(dalo_cons_item_allowed(full_sum().get(), 0, lo, hi, 3), 0u);
    EXPECT_EQ(dalo_cons_item_allowed(full_sum().get(), 2, lo, hi, 3), 0u);
    EXPECT_EQ(dalo_cons_item_allowed(pair().get(), 2, lo, hi, 3), 0u);
    EXPECT_EQ(dalo_cons_item_allowed(sum_xy().get(), 0, lo, hi, 3), 0u);
    ExprPtr ee = classic();
    int64_t alo[2] = {0, 2}, ahi[2] = {0, 2};
    dalo_exprexpr_set_allowed(ee.get(), alo, ahi, 2);
    EXPECT_EQ(dalo_cons_item_allowed(ee.get(), 9, lo, hi, 3), 2u);  // item number ignored
    EXPECT_EQ(lo[1], 2);
}

TEST_F(InspectTest, ViolationDistances) {
    EXPECT_EQ(eval(between(four_x(), 1, 3), 0), (Eval{4, 1, 3, 1, 1}));
    EXPECT_EQ(eval(between(four_x(), 6, 9), 0), (Eval{4, 6, 9, 2, 1}));
    EXPECT_EQ(eval(between(four_x(), 4, 4), 0), (Eval{4, 4, 4, 0, 1}));
    // 4 - 1 = 3 above the first interval, 6 - 4 = 2 below the second.
    EXPECT_EQ(eval(equal(four_x(), {{0, 1}, {6, 9}}), 0), (Eval{4, 0, 9, 2, 1}));
    EXPECT_EQ(eval(equal(four_x(), {{3, 5}}), 0), (Eval{4, 3, 5, 0, 1}));
    EXPECT_EQ(eval(equal(four_x(), {{9, 9}, {-2, 0}}), 0), (Eval{4, -2, 9, 4, 1}));
    // Inverted bounds: below lower counts first.
    EXPECT_EQ(eval(between(four_x(), 5, 3), 0), (Eval{4, 5, 3, 1, 1}));
    // Integer atoms take the Sol's values; variables outside the Model drop their terms.
    dalo_var w = dalo_new_var("w");
    ExprPtr body = raw(3, {n}, 1);
    dalo_expr_iadd_var(body.get(), w);
    EXPECT_EQ(eval(between(body, 0, 10), 0), (Eval{13, 0, 10, 3, 1}));
}

TEST_F(InspectTest, ItemEvalOverSums) {
    ExprPtr e = full_sum();
    EXPECT_EQ(eval(e, 0), (Eval{1, 0, 1, 0, 3}));
    EXPECT_EQ(eval(e, 1), (Eval{4, 0, 9, 2, 1}));
    // A free-form penalty reports its signed value as the violation.
    EXPECT_EQ(eval(e, 2), (Eval{-2, 0, 0, -2, 1}));
    EXPECT_EQ(eval(raw(5, {z}, -1), 0), (Eval{4, 0, 0, 4, 1}));
    ExprPtr ee = classic();  // penalty (x + y - 1)^2, body x + y = 1
    EXPECT_EQ(eval(ee, 3), (Eval{1, 1, 1, 0, 1}));
    ExprPtr neg = scaled(between(four_x(), 1, 3), -2);
    EXPECT_EQ(eval(neg, 0), (Eval{4, 1, 3, 1, -2}));
    int64_t v = 0;
    EXPECT_EQ(dalo_cons_item_eval(e.get(), 1, sol.get(), &v, nullptr, nullptr, nullptr, nullptr),
              1);
    EXPECT_EQ(v, 4);
}

TEST_F(InspectTest, EvalExprAddsDeclaredTerms) {
    // 4x = 4 against [1, 2]: distance 2; weight 3 gives 12 squared, 6 with exponent 1.
    ExprPtr obj = var(z);
    add(obj, scaled(between(four_x(), 1, 2), 3));
    EXPECT_EQ(eval_expr(obj), 1 + 12);
    ExprPtr two = raw(1, {x}, 1);  // value 2
    ExprPtr abs1 = var(z);
    add(abs1, scaled(ExprPtr(dalo_abs_term(two.get(), 1)), 3));
    EXPECT_EQ(eval_expr(abs1), 1 + 6);
    ExprPtr neg = var(z);
    add(neg, scaled(between(four_x(), 1, 2), -3));
    EXPECT_EQ(eval_expr(neg), 1 - 12);
    ExprPtr neg1 = var(z);
    add(neg1, scaled(ExprPtr(dalo_relu_term(two.get(), 1)), -3));
    EXPECT_EQ(eval_expr(neg1), 1 - 6);
    // The free-form penalty adds its value unweighted; satisfied items add nothing.
    EXPECT_EQ(eval_expr(full_sum()), 1 + 0 + 4 - 2);
    // Classic values add nothing beyond their polynomial.
    ExprPtr ee = classic();
    dalo_sol_set(sol.get(), x, 0);  // x + y = 0, penalty 1, distance 1
    EXPECT_EQ(eval_expr(ee), 1);
    ExprPtr classic_sum = var(z);
    add(classic_sum, ee);
    EXPECT_EQ(eval_expr(classic_sum), 2);
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
    add(e, mark(raw(1, {x}, -3)));  // -2: counts once
    EXPECT_EQ(violations(e), 3u);
    add(e, mark(raw(1, {x}, 2)));  // the merged penalty is 2x - 1 = 1
    EXPECT_EQ(violations(e), 3u);
    ExprPtr zero = mark(raw(1, {x}, -1));
    EXPECT_EQ(violations(zero), 0u);
    ExprPtr m2 = mark(raw(1, {x}, -3));
    EXPECT_EQ(violations(m2), 1u);

    ExprPtr ee = classic();
    EXPECT_EQ(violations(ee), 0u);  // x + y = 1
    ExprPtr loose = classic(false);
    dalo_sol_set(sol.get(), y, 1);
    EXPECT_EQ(violations(ee), 1u);
    EXPECT_EQ(violations(loose), 0u);
    // A classic sum counts its items and its plain part.
    ExprPtr classic_sum = var(z);
    add(classic_sum, ee);
    EXPECT_EQ(violations(classic_sum), 2u);
    dalo_sol_set(sol.get(), z, 0);
    EXPECT_EQ(violations(classic_sum), 1u);
    // A declared record without bounds is skipped.
    ExprPtr holder = var(z);
    add(holder, mark(classic(false)));
    EXPECT_EQ(violations(holder), 0u);
}

TEST_F(InspectDeathTest, Messages) {
    EXPECT_FATAL(info(pair(), 2), "dalo_cons_item_info: bad item index");
    EXPECT_FATAL(info(full_sum(), 3), "dalo_cons_item_info: bad item index");
    EXPECT_FATAL(info(sum_xy(), 1), "dalo_cons_item_info: bad item index");
    EXPECT_FATAL(eval(pair(), 2), "dalo_cons_item_eval: bad item index");
    EXPECT_FATAL(eval(full_sum(), 3), "dalo_cons_item_eval: bad item index");
    EXPECT_FATAL(eval(sum_xy(), 1), "dalo_cons_item_eval: bad item index");
    EXPECT_FATAL(eval(classic(false), 0), "violations: constraint has no recorded bounds");
    ExprPtr holder = var(z);
    add(holder, mark(classic(false)));
    EXPECT_FATAL(eval(holder, 0), "violations: constraint has no recorded bounds");
    EXPECT_FATAL(violations(sum_xy()), "cons(sol): expression carries no constraints");
    EXPECT_FATAL(violations(ExprPtr(dalo_expr_create_int(0))),
                 "cons(sol): expression carries no constraints");
}

}  // namespace
