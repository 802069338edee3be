// Simplification checked by brute force on small random polynomials, and on large inputs
// against the serial result (ctest reruns the Parallel suite with 1, 2 and 7 threads).
#include "support/suite.hpp"

#include "support/brute.hpp"
#include "support/model_util.hpp"

using namespace dalo_test;
using dalo_test::build::add;

namespace {

// Strictly increasing by degree, then by rotated identifiers position by position.
bool canonical_order(const std::vector<Term>& ts) {
    auto key = [](const Term& t) {
        std::vector<uint32_t> k;
        for (dalo_var v : t.vars) k.push_back((v << 1) | (v >> 31));
        return std::pair(t.vars.size(), k);
    };
    for (size_t i = 1; i < ts.size(); ++i)
        if (!(key(ts[i - 1]) < key(ts[i]))) return false;
    return true;
}

TEST(SimplifyProperty, ValuePreservedForEveryAssignment) {
    std::mt19937_64 rng(2024);
    const dalo_var first = new_vars("p", 5)[0];
    for (int round = 0; round < 60; ++round) {
        ExprPtr e = random_poly(rng, first, 5, 1 + static_cast<int>(rng() % 12), 5);
        ExprPtr b(dalo_expr_simplify_as_binary(e.get())), s(dalo_expr_simplify_as_spin(e.get())),
            p(dalo_expr_simplify(e.get()));
        for_each_assignment(first, 5, Meaning::Binary, [&](const std::vector<int64_t>& v) {
            ASSERT_EQ(evaluate(b.get(), v, Meaning::Binary), evaluate(e.get(), v, Meaning::Binary))
                << str(e.get());
            ASSERT_EQ(evaluate(p.get(), v, Meaning::Binary), evaluate(e.get(), v, Meaning::Binary));
        });
        for_each_assignment(first, 5, Meaning::Spin, [&](const std::vector<int64_t>& v) {
            ASSERT_EQ(evaluate(s.get(), v, Meaning::Spin), evaluate(e.get(), v, Meaning::Spin))
                << str(e.get());
        });
        // Binary canonical form: sorted, no repeated variable, no literal below degree 3.
        std::vector<Term> ts = terms_of(b.get());
        EXPECT_TRUE(canonical_order(ts)) << str(b.get());
        for (const Term& t : ts) {
            EXPECT_NE(t.coeff, 0);
            for (size_t i = 0; i < t.vars.size(); ++i) {
                if (t.vars.size() <= 2) {
                    EXPECT_EQ(t.vars[i] & DALO_NEG_BIT, 0u) << str(b.get());
                }
                for (size_t j = i + 1; j < t.vars.size(); ++j) EXPECT_NE(t.vars[i], t.vars[j]);
            }
        }
        EXPECT_TRUE(canonical_order(terms_of(s.get())));
        EXPECT_TRUE(canonical_order(terms_of(p.get())));
    }
}

class SimplifyParallel : public testing::Test {
  protected:
    // Many terms over few variables, so that merging crosses every segment boundary,
    // including runs that cancel to zero and terms with heap tails.
    ExprPtr large(uint64_t seed, int64_t terms) {
        std::mt19937_64 rng(seed);
        const dalo_var first = new_vars("q", 30)[0];
        ExprPtr e(dalo_expr_create_int(3));
        for (int64_t k = 0; k < terms; ++k) {
            std::vector<dalo_var> vs;
            int d = static_cast<int>(rng() % 5);
            for (int i = 0; i < d; ++i) {
                dalo_var v = first + static_cast<dalo_var>(rng() % (k % 7 == 0 ? 30 : 4));
                vs.push_back(rng() % 4 == 0 ? (v | DALO_NEG_BIT) : v);
            }
            int64_t c = static_cast<int64_t>(rng() % 7) - 3;
            add(e, c, vs);
            if (k % 11 == 0) add(e, -c, vs);
        }
        return e;
    }

    // Serial reference: the same terms added in chunks below the parallel threshold,
    // simplified chunk by chunk and then merged.
    static ExprPtr serial(const dalo_expr* e, dalo_expr* (*f)(const dalo_expr*)) {
        std::vector<Term> ts = terms_of(e);
        ExprPtr acc(dalo_expr_create_int(dalo_expr_constant(e, nullptr)));
        for (size_t b = 0; b < ts.size(); b += 5000) {
            ExprPtr part(dalo_expr_create());
            for (size_t i = b; i < std::min(ts.size(), b + 5000); ++i)
                add(part, ts[i].coeff, ts[i].vars);
            add(acc, ExprPtr(f(part.get())));
            acc.reset(f(acc.get()));
        }
        return acc;
    }
};

TEST_F(SimplifyParallel, LargeInputsEqualTheSerialResultTermForTerm) {
    for (auto f : {dalo_expr_simplify, dalo_expr_simplify_as_binary, dalo_expr_simplify_as_spin}) {
        ExprPtr e = large(11, 60000);
        ExprPtr got(f(e.get()));
        ExprPtr want = serial(e.get(), f);
        EXPECT_EQ(dalo_expr_constant(got.get(), nullptr), dalo_expr_constant(want.get(), nullptr));
        EXPECT_EQ(terms_of(got.get()), terms_of(want.get()));
        EXPECT_GT(dalo_expr_term_count(got.get()), 100u);
    }
}

// Terms of degree 0 to 2 over plain variables: summed by variable index, not merged as
// records. Checked against a map of the same sums and against the record path, which a
// cancelling cubic pair forces on the same input.
TEST_F(SimplifyParallel, PlainQuadraticMatchesAMapAndTheRecordPath) {
    // Pairs in their own slots (a small registry), one written larger variable first.
    const std::vector<dalo_var> z = new_vars("z", 3);
    ExprPtr g(dalo_expr_create_var(z[0]));
    add(g, 3, {z[1]});
    add(g, 5, {z[1], z[0]});
    add(g, 7, {z[0], z[2]});
    dalo_expr_simplify_as_binary_inplace(g.get());
    EXPECT_EQ(str(g.get()), "z[0] +3*z[1] +5*z[0]*z[1] +7*z[0]*z[2]");
    // Random terms, or pairs in ascending order with the linear terms before (1), among (2)
    // or after them (3), or each before its row of pairs, as a square gives them (4), or row
    // by row as a product writes them, x[i] times every x[j] (5), the same with one variable
    // more, in a linear term a quarter of the way and in the last pair (6), or each x[i] times
    // the next eight, in descending order (7). The shapes after the one over 70,000 variables
    // see a registry far larger than themselves.
    struct Shape {
        uint32_t vars;
        int64_t terms;
        int order;
    };
    for (const Shape& shape :
         {Shape{30, 600, 1},       Shape{30, 600, 3},     Shape{30, 700, 2},
          Shape{40, 900, 4},       Shape{600, 200000, 4}, Shape{600, 220000, 2},
          Shape{40, 30000, 0},     Shape{5000, 30000, 0}, Shape{3, 50, 0},
          Shape{400, 160000, 5},   Shape{397, 150000, 5}, Shape{401, 160000, 6},
          Shape{19000, 150000, 7}, Shape{40, 140000, 0},  Shape{2000, 300, 0},
          Shape{70000, 300, 0},    Shape{30, 600, 1},     Shape{40, 900, 4},
          Shape{30, 700, 2},       Shape{5000, 30000, 0}}) {
        std::mt19937_64 rng(shape.vars + shape.order);
        const std::vector<dalo_var> x = new_vars("r", shape.vars);  // the last: a large registry
        ExprPtr e(dalo_expr_create_int(-7));
        std::map<std::vector<dalo_var>, uint32_t> sums;
        uint64_t constant = static_cast<uint64_t>(-7);
        uint32_t u = 0, v = 0;  // the last ordered pair
        for (int64_t k = 0; k < shape.terms; ++k) {
            std::vector<dalo_var> vs;
            const bool pair = shape.order == 4   ? true
                              : shape.order == 2 ? rng() % 5 != 0
                                                 : (shape.order == 1) == (k >= shape.terms / 3);
            const uint32_t row = u;
            do {
                if (++v >= shape.vars) v = ++u + 1;
            } while (rng() % 3 == 0);
            if (shape.order == 4 && (k == 0 || u != row) && u < shape.vars) {
                const int64_t c = 1 + static_cast<int64_t>(rng() % 5);
                add(e, c, {x[u]});
                sums[{x[u]}] += static_cast<uint32_t>(c);
            }
            if (shape.order == 7) {
                vs = {x[k / 8], x[k / 8 + 8 - k % 8]};
            } else if (shape.order >= 5) {
                const uint32_t n = shape.order == 5 ? shape.vars : shape.vars - 1;
                vs = {x[k / n], x[k % n]};
                if (shape.order == 6 && k == shape.terms / 4) vs = {x[n]};
                if (shape.order == 6 && k + 1 == shape.terms) vs = {x[1], x[n]};
            } else if (shape.order == 0) {
                for (uint64_t d = rng() % 3; d > 0; --d) vs.push_back(x[rng() % shape.vars]);
            } else if (!pair || v >= shape.vars) {
                vs.push_back(x[rng() % shape.vars]);
            } else {
                vs = {x[u], x[v]};  // either order within a pair
                if (rng() % 2) std::swap(vs[0], vs[1]);
            }
            const int64_t c = shape.order == 4 ? 1 + static_cast<int64_t>(rng() % 3)
                              : k % 97 == 0    ? INT32_MAX
                                               : static_cast<int64_t>(rng() % 7) - 3;
            add(e, c, vs);
            if (vs.empty()) {
                constant += static_cast<uint64_t>(c);
                continue;
            }
            std::sort(vs.begin(), vs.end());
            vs.erase(std::unique(vs.begin(), vs.end()), vs.end());
            sums[vs] += static_cast<uint32_t>(c);
        }
        std::vector<Term> want;
        for (int degree = 1; degree <= 2; ++degree) {
            for (const auto& [vs, c] : sums) {
                if (static_cast<int>(vs.size()) == degree && c != 0)
                    want.push_back(Term{static_cast<int32_t>(c), vs});
            }
        }
        // Copying and in place, over the plain form and over the record path.
        for (int round = 0; round < 2; ++round) {
            ExprPtr got(dalo_expr_simplify_as_binary(e.get()));
            ExprPtr same(dalo_expr_clone(e.get()));
            dalo_expr_simplify_as_binary_inplace(same.get());
            for (const ExprPtr& r : {std::cref(got), std::cref(same)}) {
                EXPECT_EQ(dalo_expr_constant(r.get(), nullptr), static_cast<int64_t>(constant));
                EXPECT_EQ(terms_of(r.get()), want);
            }
            // Straight to a Model: the Model of the simplified form.
            ModelPtr fused(dalo_model_create_simplified(e.get()));
            EXPECT_EQ(arrays_of(fused.get()),
                      arrays_of(ModelPtr(dalo_model_create(got.get())).get()));
            dalo_expr_simplify_as_binary_inplace(got.get());  // already simplified: unchanged
            EXPECT_EQ(terms_of(got.get()), want);
            add(e, 5, {x[0], x[1], x[2]});
            add(e, -5, {x[0], x[1], x[2]});
        }
    }
    // Declared constraints travel with the in-place form as with the copy.
    const std::vector<dalo_var> y = new_vars("s", 2);
    ExprPtr f(dalo_expr_create_var(y[1]));
    add(f, 3, {y[1], y[0]});
    add(f, ExprPtr(dalo_cons_between(f.get(), 1, 1)));
    ExprPtr copy(dalo_expr_simplify_as_binary(f.get()));
    ModelPtr fused(dalo_model_create_simplified(f.get()));
    dalo_expr_simplify_as_binary_inplace(f.get());
    EXPECT_EQ(str(f.get()), "s[1] +3*s[0]*s[1]");
    ModelPtr a(dalo_model_create(copy.get())), b(dalo_model_create(f.get()));
    EXPECT_EQ(arrays_of(a.get()), arrays_of(b.get()));
    EXPECT_EQ(dalo_model_native_cons_count(b.get()), 1u);
    EXPECT_EQ(dalo_model_native_cons_count(a.get()), 1u);
    EXPECT_EQ(arrays_of(fused.get()), arrays_of(a.get()));
    EXPECT_EQ(dalo_model_native_cons_count(fused.get()), 1u);
}

// A sparse objective with declared constraints goes from its rows to the Model; bodies over
// a variable outside the objective or over an integer variable take the general path. Both
// give the Model of the simplified expression, byte for byte.
TEST_F(SimplifyParallel, DeclaredConstraintsJoinTheRowsModel) {
    std::mt19937_64 rng(7);
    const std::vector<dalo_var> x = new_vars("d", 3000);
    const dalo_var outside = new_vars("o", 1)[0];
    const dalo_var level = dalo_new_int_var("n", 0, 5);
    ExprPtr objective(dalo_expr_create_int(4));
    for (int k = 0; k < 20000; ++k) {
        const dalo_var a = x[rng() % 3000], b = x[rng() % 3000];
        if (a != x[1500] && b != x[1500])
            add(objective, static_cast<int64_t>(rng() % 9) - 4, {a, b});
    }
    ExprPtr row(dalo_expr_create());
    for (int k = 0; k < 10; ++k) add(row, 1, {x[k]});
    ExprPtr quadratic(dalo_expr_clone(row.get()));
    add(quadratic, 2, {x[20], x[1]});
    add(quadratic, 1, {x[1500] | DALO_NEG_BIT});  // in no objective term
    for (const dalo_var extra : {dalo_var{0}, outside, level}) {
        ExprPtr f(dalo_expr_clone(objective.get()));
        add(f, ExprPtr(dalo_cons_between(row.get(), 1, 1)));
        add(f, ExprPtr(dalo_cons_between(quadratic.get(), 0, 2)));
        if (extra != 0) {
            ExprPtr body(dalo_expr_clone(row.get()));
            add(body, 3, {extra});
            add(f, ExprPtr(dalo_cons_between(body.get(), 2, 4)));
        }
        ModelPtr fused(dalo_model_create_simplified(f.get()));
        ModelPtr general(dalo_model_create(ExprPtr(dalo_expr_simplify_as_binary(f.get())).get()));
        EXPECT_EQ(bytes_of(fused.get()), bytes_of(general.get()));
        EXPECT_EQ(dalo_model_native_cons_count(fused.get()), extra != 0 ? 3u : 2u);
    }
}

TEST_F(SimplifyParallel, EverythingCancels) {
    ExprPtr e = large(5, 20000);
    add(e, ExprPtr(dalo_expr_clone_mul_int(e.get(), -1)));
    ExprPtr s(dalo_expr_simplify(e.get()));
    EXPECT_EQ(dalo_expr_term_count(s.get()), 0u);
    EXPECT_EQ(dalo_expr_constant(s.get(), nullptr), 0);
}

}  // namespace
