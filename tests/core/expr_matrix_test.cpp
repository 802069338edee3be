// Quadratic forms from integer matrices: term order, zeros, wrapping, and the same terms as a
// row-by-row reference under every thread budget.
#include "support/suite.hpp"

#include "support/model_util.hpp"

using dalo_test::arrays_of;
using dalo_test::ExprPtr;
using dalo_test::ModelPtr;
using dalo_test::new_vars;
using dalo_test::str;
using dalo_test::Term;
using dalo_test::terms_of;

namespace {

TEST(QuadraticForm, LinearTermsFirstThenPairsRowByRowWithoutZeros) {
    const std::vector<dalo_var> x = new_vars("w", 3);  // w[0], w[1], w[2]
    const int64_t q[9] = {2, 1, 0, 3, 0, -4, 0, 1, 5};
    ExprPtr e(dalo_expr_create_quadratic_i64(x.data(), 3, q, 3, 1, nullptr));
    EXPECT_EQ(str(e.get()), "2*w[0] +5*w[2] +4*w[0]*w[1] -3*w[1]*w[2]");
    ExprPtr simplified(dalo_expr_simplify_as_binary(e.get()));
    EXPECT_EQ(str(simplified.get()), str(e.get()));

    // Integer atoms keep their squares; an empty or all-zero matrix gives no terms.
    const dalo_var k = dalo_new_int_var("k", 0, 3);
    const int32_t one[1] = {3};
    ExprPtr square(dalo_expr_create_quadratic_i32(&k, 1, one, 1, 1, nullptr));
    EXPECT_EQ(str(square.get()), "3*k*k");
    uint64_t wrapped = 9;
    ExprPtr empty(dalo_expr_create_quadratic_i64(nullptr, 0, nullptr, 0, 0, &wrapped));
    EXPECT_EQ(dalo_expr_term_count(empty.get()), 0u);
    EXPECT_EQ(wrapped, 0u);
    const int64_t zeros[9] = {0, 1, 0, -1, 0, 0, 0, 0, 0};
    ExprPtr none(dalo_expr_create_quadratic_i64(x.data(), 3, zeros, 3, 1, nullptr));
    EXPECT_EQ(str(none.get()), "0");
}

// Large enough for several bands on several threads.
TEST(QuadraticFormParallel, SameTermsAsARowByRowReferenceAndAsTheSumOfProducts) {
    std::mt19937_64 rng(11);
    const uint64_t n = 211;
    const std::vector<dalo_var> x = new_vars("p", n);
    std::vector<int64_t> q(n * n);
    for (int64_t& v : q) v = rng() % 3 == 0 ? 0 : static_cast<int64_t>(rng() % 41) - 20;
    q[5 * n + 7] = int64_t{1} << 40;  // one pair that wraps

    std::vector<Term> expected;
    for (uint64_t i = 0; i < n; ++i)
        if (q[i * n + i] != 0) expected.push_back({q[i * n + i], {x[i]}});
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = i + 1; j < n; ++j) {
            const int32_t c = static_cast<int32_t>(q[i * n + j] + q[j * n + i]);
            if (c != 0) expected.push_back({c, {x[i], x[j]}});
        }
    uint64_t wrapped = 0;
    ExprPtr e(dalo_expr_create_quadratic_i64(x.data(), n, q.data(), n, 1, &wrapped));
    EXPECT_EQ(wrapped, 1u);
    ASSERT_EQ(terms_of(e.get()), expected);

    // Already canonical; and equal to the simplified sum of every product q[i][j] x_i x_j,
    // also when the variables run backwards and the terms need sorting.
    ExprPtr simplified(dalo_expr_simplify_as_binary(e.get()));
    EXPECT_EQ(terms_of(simplified.get()), expected);
    q[5 * n + 7] = 0;
    const std::vector<dalo_var> back(x.rbegin(), x.rend());
    ExprPtr sum(dalo_expr_create());
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            const dalo_var pair[2] = {back[i], back[j]};
            dalo_expr_iadd_raw_term(sum.get(), q[i * n + j], pair, 2);
        }
    ExprPtr reversed(dalo_expr_create_quadratic_i64(back.data(), n, q.data(), n, 1, nullptr));
    ExprPtr a(dalo_expr_simplify_as_binary(sum.get()));
    ExprPtr b(dalo_expr_simplify_as_binary(reversed.get()));
    EXPECT_EQ(terms_of(a.get()), terms_of(b.get()));
    EXPECT_EQ(dalo_expr_term_count(a.get()), expected.size());
}

// The Model written from the matrix equals the general path's, also for variables that only
// a column shows, wrapped sums, all-zero matrices and identifiers out of order.
TEST(QuadraticFormParallel, ModelFromTheMatrixEqualsTheGeneralPath) {
    std::mt19937_64 rng(3);
    const uint64_t n = 150;
    const std::vector<dalo_var> x = new_vars("z", n);
    for (int round = 0; round < 4; ++round) {
        std::vector<int32_t> q(n * n, 0);
        if (round < 3) {
            for (int32_t& v : q) v = rng() % 4 == 0 ? static_cast<int32_t>(rng() % 9) - 4 : 0;
        }
        for (uint64_t i = 0; i < n; i += 7) {
            for (uint64_t j = 0; j < n; ++j) q[i * n + j] = q[j * n + i] = 0;  // unused
        }
        if (round == 1) {
            for (uint64_t i = 0; i + 1 < n; ++i) q[i * n + i + 1] = INT32_MAX;  // sums wrap
        }
        q[3 * n + n - 1] = 5;  // z[n-1] is only in a column
        std::vector<dalo_var> ids = x;
        if (round == 2) std::reverse(ids.begin(), ids.end());
        uint64_t wrapped = 7, expected_wrapped = 7;
        ModelPtr direct(dalo_model_create_quadratic_i32(ids.data(), n, q.data(), n, 1, &wrapped));
        ExprPtr e(dalo_expr_create_quadratic_i32(ids.data(), n, q.data(), n, 1, &expected_wrapped));
        ModelPtr general(dalo_model_create(ExprPtr(dalo_expr_simplify_as_binary(e.get())).get()));
        EXPECT_EQ(arrays_of(direct.get()), arrays_of(general.get())) << "round " << round;
        EXPECT_EQ(wrapped, expected_wrapped);
        for (dalo_var v : x)
            EXPECT_EQ(dalo_model_var_index(direct.get(), v),
                      dalo_model_var_index(general.get(), v));
    }
}

// The Model from (i, j, w) entries, with and without a linear vector, equals the general
// path's: duplicates in either order, diagonal entries, sums that cancel or wrap, enough
// pairs for parallel rows, and identifiers out of order (the record path).
TEST(QuadraticFormParallel, ModelFromEntriesEqualsTheGeneralPath) {
    std::mt19937_64 rng(5);
    const uint64_t n = 300, count = 120'000;
    const std::vector<dalo_var> x = new_vars("c", n);
    std::vector<int64_t> i(count), j(count), w(count);
    for (uint64_t k = 0; k < count; ++k) {
        // The last ten never occur; the one before comes only second, in no diagonal entry.
        i[k] = static_cast<int64_t>(rng() % (n - 10));
        j[k] = k % 9 == 0 && i[k] != static_cast<int64_t>(n - 11)
                   ? i[k]
                   : static_cast<int64_t>(rng() % (n - 10));
        w[k] = static_cast<int64_t>(rng() % 7) - 3;
    }
    i[0] = 4, j[0] = 9, w[0] = int64_t{1} << 33;  // wraps to 0
    i[1] = 9, j[1] = 4, w[1] = INT32_MAX, i[2] = 4, j[2] = 9, w[2] = INT32_MAX;
    std::vector<int64_t> linear(n);
    for (uint64_t u = 0; u < n; ++u) linear[u] = static_cast<int64_t>(rng() % 5) - 2;
    linear[n - 1] = 3;                   // a position only the linear vector names
    linear[7] = (int64_t{1} << 32) - 1;  // wraps to -1
    for (int round = 0; round < 4; ++round) {
        std::vector<dalo_var> ids = x;
        if (round % 2 == 1) std::reverse(ids.begin(), ids.end());
        const bool with_linear = round >= 2;
        ExprPtr sum(dalo_expr_create());
        for (uint64_t u = 0; with_linear && u < n; ++u)
            dalo_expr_iadd_raw_term(sum.get(), static_cast<int32_t>(linear[u]), &ids[u], 1);
        for (uint64_t k = 0; k < count; ++k) {
            const dalo_var pair[2] = {ids[i[k]], ids[j[k]]};
            dalo_expr_iadd_raw_term(sum.get(), static_cast<int32_t>(w[k]), pair,
                                    i[k] == j[k] ? 1 : 2);
        }
        uint64_t wrapped = 0;
        ModelPtr direct(with_linear
                            ? dalo_model_create_quadratic_vectors(ids.data(), n, linear.data(),
                                                                  i.data(), j.data(), w.data(),
                                                                  count, &wrapped)
                            : dalo_model_create_quadratic_coo(ids.data(), n, i.data(), j.data(),
                                                              w.data(), count, &wrapped));
        ModelPtr general(dalo_model_create(ExprPtr(dalo_expr_simplify_as_binary(sum.get())).get()));
        EXPECT_EQ(arrays_of(direct.get()), arrays_of(general.get())) << "round " << round;
        EXPECT_EQ(wrapped, with_linear ? 2u : 1u);
    }
}

TEST(QuadraticFormDeathTest, EntryPositionsAreChecked) {
    const std::vector<dalo_var> x = new_vars("d", 3);
    const int64_t ok = 1, out = 3, negative = -1;
    EXPECT_DEATH(dalo_model_create_quadratic_coo(x.data(), 3, &ok, &out, &ok, 1, nullptr),
                 "Model: position 3 of a quadratic form is outside its 3 variables");
    EXPECT_DEATH(dalo_model_create_quadratic_coo(x.data(), 3, &negative, &ok, &ok, 1, nullptr),
                 "position -1 of a quadratic form");
}

}  // namespace
