// SweepSolver's plug-in beside the library, through the public interface: optima, lists and
// energies against brute force over Sol energies, the same answers for any thread count, time
// limits, information pairs and refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "dalo.h"
#include "support/brute.hpp"
#include "support/expr_util.hpp"
#include "support/fatal.hpp"
#include "support/plugin_models.hpp"

using dalo_test::ExprPtr;

namespace {

struct Scored {
    int64_t energy;
    uint64_t bits;
    bool operator==(const Scored&) const = default;
};

void PrintTo(const Scored& s, std::ostream* os) { *os << "{" << s.energy << ", " << s.bits << "}"; }

bool by_energy_then_bits(const Scored& a, const Scored& b) {
    return a.energy < b.energy || (a.energy == b.energy && a.bits < b.bits);
}

// Every assignment of the Model with its Sol energy, by energy and then as a number over the
// model bits (the plug-in's order).
std::vector<Scored> brute_force(const dalo_model* m) {
    const uint32_t n = dalo_model_var_count(m);
    dalo_sol* s = dalo_sol_create(m);
    std::vector<Scored> out;
    for (uint64_t mask = 0; mask < (uint64_t{1} << n); ++mask) {
        for (uint32_t i = 0; i < n; ++i)
            dalo_sol_set(s, dalo_model_var(m, i), static_cast<uint32_t>((mask >> i) & 1));
        out.push_back({dalo_sol_compute_energy(s, nullptr), mask});
    }
    dalo_sol_destroy(s);
    std::sort(out.begin(), out.end(), by_energy_then_bits);
    return out;
}

// Energy of a Sol built from a result, recomputed by the library after two flips.
int64_t recomputed(dalo_sol* s, const dalo_model* m) {
    if (dalo_model_var_count(m) > 0) {
        dalo_sol_flip(s, dalo_model_var(m, 0));
        dalo_sol_flip(s, dalo_model_var(m, 0));
        EXPECT_EQ(dalo_sol_energy_valid(s), 0);
    }
    const int64_t e = dalo_sol_compute_energy(s, nullptr);
    dalo_sol_destroy(s);
    return e;
}

struct Outcome {
    Scored best{};
    std::vector<Scored> list;
    std::vector<std::pair<std::string, std::string>> info;
    double seconds = 0.0;

    std::string operator[](const std::string& key) const {
        for (const auto& [k, v] : info) {
            if (k == key) return v;
        }
        return "<absent>";
    }
};

// One search; every reported energy is checked against the library's Sol energy.
Outcome sweep(const dalo_model* m, std::vector<dalo_param> params = {}) {
    params.push_back({nullptr, nullptr});
    dalo_sweep_wrapper* w = dalo_sweep_wrapper_create(m);
    const auto t0 = std::chrono::steady_clock::now();
    dalo_solver_result* r = dalo_sweep_wrapper_search(w, params.data());
    Outcome out;
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const bool has_bits = dalo_model_var_count(m) > 0;
    out.best = {dalo_brisk_solver_result_energy(r, nullptr),
                has_bits ? dalo_brisk_solver_result_bits(r)[0] : 0};
    for (uint64_t i = 0; i < dalo_brisk_solver_result_topk_count(r); ++i) {
        out.list.push_back({dalo_brisk_solver_result_topk_energy(r, i, nullptr),
                            has_bits ? dalo_brisk_solver_result_topk_bits(r, i)[0] : 0});
        EXPECT_EQ(recomputed(dalo_brisk_solver_result_topk_to_sol(r, i, m), m),
                  out.list.back().energy);
    }
    for (uint64_t i = 0; i < dalo_brisk_solver_result_info_count(r); ++i) {
        out.info.emplace_back(dalo_brisk_solver_result_info_key(r, i),
                              dalo_brisk_solver_result_info_value(r, i));
    }
    EXPECT_EQ(recomputed(dalo_brisk_solver_result_to_sol(r, m), m), out.best.energy);
    dalo_brisk_solver_result_destroy(r);
    dalo_sweep_wrapper_destroy(w);
    return out;
}

using dalo_test::ModelPtr;

class SweepPluginTest : public testing::Test {
  protected:
    ExprPtr var(dalo_var v) { return ExprPtr(dalo_expr_create_var(v)); }

    // A random objective (cubic terms keep negated literals) with one constraint of every
    // kind: linear and nonlinear ranges, an allowed set, abs and relu shapes with k = 1 and 2,
    // weights from integer multiples, a body of wide range, and a free-form penalty.
    ModelPtr random_model(std::mt19937_64& rng, dalo_var first, uint32_t n) {
        ExprPtr raw = dalo_test::random_poly(rng, first, n, static_cast<int>(3 * n), 3);
        ExprPtr obj(dalo_expr_simplify_as_binary(raw.get()));
        auto attach = [&](dalo_expr* c, int64_t weight) {
            if (weight != 1) dalo_expr_imul_int(c, weight);
            dalo_expr_iadd_expr(obj.get(), c);
            dalo_expr_destroy(c);
        };
        auto lo = [&] { return static_cast<int64_t>(rng() % 5) - 2; };
        attach(dalo_cons_between(dalo_test::random_linear(rng, first, n, 4).get(), lo(), 2), 2);
        ExprPtr nl = dalo_test::random_linear(rng, first, n, 3);
        const dalo_var a = first + static_cast<dalo_var>(rng() % n);
        const dalo_var b = first + static_cast<dalo_var>((a - first + 1 + rng() % (n - 1)) % n);
        const dalo_var ab[2] = {a, b};
        dalo_expr_iadd_raw_term(nl.get(), 3, ab, 2);
        ExprPtr nl_body(dalo_expr_simplify_as_binary(nl.get()));
        attach(dalo_cons_between(nl_body.get(), lo(), 1), 1);
        const int64_t set_lo[2] = {-1, 3}, set_hi[2] = {0, 3};
        attach(dalo_cons_equal(dalo_test::random_linear(rng, first, n, 4).get(), set_lo, set_hi, 2),
               3);
        attach(dalo_abs_term(dalo_test::random_linear(rng, first, n, 3).get(), 1), 2);
        attach(dalo_abs_term(dalo_test::random_linear(rng, first, n, 3).get(), 2), 1);
        attach(dalo_relu_term(dalo_test::random_linear(rng, first, n, 3).get(), 1), 4);
        attach(dalo_relu_term(dalo_test::random_linear(rng, first, n, 3).get(), 2), 1);
        // A body with more than 4096 possible values (no penalty table).
        ExprPtr wide = dalo_test::random_linear(rng, first, n, 3);
        dalo_expr_imul_int(wide.get(), 5000);
        attach(dalo_cons_between(wide.get(), -5000, 5000), 1);
        ExprPtr penalty = dalo_test::random_poly(rng, first, n, 3, 3);
        attach(dalo_cons_mark(penalty.get()), 1);
        return ModelPtr(dalo_model_create(obj.get()));
    }

    // (x_0 + ... + x_{n-1} - k)^2 as a declared constraint: C(n, k) optima of energy 0.
    ModelPtr cardinality(dalo_var first, uint32_t n, int64_t k) {
        ExprPtr sum(dalo_expr_create());
        for (uint32_t i = 0; i < n; ++i) dalo_expr_iadd_var(sum.get(), first + i);
        ExprPtr body(dalo_expr_simplify_as_binary(sum.get()));
        ExprPtr obj(dalo_cons_between(body.get(), k, k));
        return ModelPtr(dalo_model_create(obj.get()));
    }

    // A sparse quadratic objective: a ring with chords, every variable linear too.
    ModelPtr sparse(std::mt19937_64& rng, dalo_var first, uint32_t n) {
        ExprPtr e(dalo_expr_create());
        for (uint32_t i = 0; i < n; ++i) {
            const dalo_var v = first + i;
            dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 21) - 10, &v, 1);
            const dalo_var ring[2] = {v, first + (i + 1) % n};
            const dalo_var chord[2] = {v, first + static_cast<dalo_var>(rng() % n)};
            dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 21) - 10, ring, 2);
            if (chord[1] != v)
                dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 21) - 10, chord, 2);
        }
        ExprPtr s(dalo_expr_simplify_as_binary(e.get()));
        return ModelPtr(dalo_model_create(s.get()));
    }

    dalo_var vars(uint64_t n) { return dalo_new_var_array("x", &n, 1); }
};

using SweepPluginDeathTest = SweepPluginTest;

TEST_F(SweepPluginTest, OptimaAndListsMatchBruteForceWithEveryConstraintKind) {
    const dalo_var x = vars(12);
    std::mt19937_64 rng(2024);
    bool negated = false, remainder = false, shapes = false;
    for (uint32_t round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const ModelPtr m = random_model(rng, x, 4 + round % 9);
        negated = negated || dalo_model_has_negated_literals(m.get()) == 1;
        remainder = remainder || dalo_model_has_remainder(m.get()) == 1;
        shapes = shapes || dalo_model_has_penalty_shapes(m.get()) == 1;
        ASSERT_GE(dalo_model_native_cons_count(m.get()), 8u);
        const std::vector<Scored> all = brute_force(m.get());

        // The best, ties going to the smallest assignment.
        const Outcome plain = sweep(m.get());
        EXPECT_EQ(plain.best, all.front());
        EXPECT_TRUE(plain.list.empty());

        // The k best, in order; more than there are gives every assignment once.
        const Outcome top = sweep(m.get(), {{"topk_sols", "6"}, {"threads", "2"}});
        EXPECT_EQ(top.list, std::vector<Scored>(all.begin(), all.begin() + 6));
        EXPECT_EQ(top.best, all.front());
        const Outcome every = sweep(m.get(), {{"topk_sols", "100000"}});
        EXPECT_EQ(every.list, all);

        // Every optimum.
        const Outcome optima = sweep(m.get(), {{"best_energy_sols", "0"}});
        std::vector<Scored> expected;
        for (const Scored& s : all) {
            if (s.energy == all.front().energy) expected.push_back(s);
        }
        EXPECT_EQ(optima.list, expected);
    }
    EXPECT_TRUE(negated);
    EXPECT_TRUE(remainder);
    EXPECT_TRUE(shapes);
}

TEST_F(SweepPluginTest, BestEnergySolsListsTheSmallestOptimaUpToTheLimit) {
    const dalo_var x = vars(8);
    const ModelPtr m = cardinality(x, 8, 3);
    std::vector<Scored> optima;
    for (const Scored& s : brute_force(m.get())) {
        if (s.energy == 0) optima.push_back(s);
    }
    ASSERT_EQ(optima.size(), 56u);
    EXPECT_EQ(optima.front().bits, 0b111u);
    EXPECT_EQ(sweep(m.get(), {{"best_energy_sols", "0"}}).list, optima);
    EXPECT_EQ(sweep(m.get(), {{"best_energy_sols", "all"}}).list, optima);
    const Outcome ten = sweep(m.get(), {{"best_energy_sols", "10"}, {"threads", "3"}});
    EXPECT_EQ(ten.list, std::vector<Scored>(optima.begin(), optima.begin() + 10));
    EXPECT_EQ(ten.best, optima.front());
    EXPECT_EQ(sweep(m.get(), {{"best_energy_sols", "56"}}).list, optima);
    EXPECT_EQ(sweep(m.get(), {{"best_energy_sols", "57"}}).list, optima);
    // With both asked for, the list holds the optima.
    EXPECT_EQ(sweep(m.get(), {{"best_energy_sols", "0"}, {"topk_sols", "2"}}).list, optima);
}

TEST_F(SweepPluginTest, SameAnswersForAnyThreadCount) {
    const dalo_var x = vars(18);
    std::mt19937_64 rng(7);
    const ModelPtr mixed = random_model(rng, x, 18);
    const ModelPtr ties = cardinality(x, 18, 4);
    for (const dalo_model* m : {mixed.get(), ties.get()}) {
        for (const char* list : {"topk_sols", "best_energy_sols"}) {
            const char* count = std::string(list) == "topk_sols" ? "40" : "25";
            const Outcome one = sweep(m, {{"threads", "1"}, {list, count}});
            EXPECT_EQ(one["threads"], "1");
            EXPECT_EQ(one["states"], "262144");
            EXPECT_EQ(one["complete"], "1");
            EXPECT_FALSE(one.list.empty());
            EXPECT_EQ(one.best, one.list.front());
            EXPECT_TRUE(std::is_sorted(one.list.begin(), one.list.end(), by_energy_then_bits));
            for (const char* threads : {"2", "7"}) {
                SCOPED_TRACE(std::string(list) + " threads " + threads);
                const Outcome many = sweep(m, {{"threads", threads}, {list, count}});
                EXPECT_EQ(many["threads"], threads);
                EXPECT_EQ(many["states"], "262144");
                EXPECT_EQ(many.best, one.best);
                EXPECT_EQ(many.list, one.list);
            }
        }
    }
    // The smallest of the C(18, 4) optima.
    EXPECT_EQ(sweep(ties.get(), {{"threads", "7"}}).best, (Scored{0, 0b1111}));
}

TEST_F(SweepPluginTest, InformationAndSmallModels) {
    const dalo_var x = vars(13);
    std::mt19937_64 rng(3);
    const ModelPtr m = sparse(rng, x, 13);
    const Outcome r = sweep(m.get(), {{"threads", "4"}, {"topk_sols", "9"}});
    EXPECT_EQ(r["states"], "8192");
    EXPECT_EQ(r["complete"], "1");
    EXPECT_EQ(r["threads"], "2");  // 13 variables make two tasks
    std::vector<std::string> keys;
    for (const auto& kv : r.info) keys.push_back(kv.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"run_time", "threads", "states", "complete", "os",
                                              "cpu", "gpu", "ram"}));
    const std::vector<Scored> all = brute_force(m.get());
    EXPECT_EQ(r.list, std::vector<Scored>(all.begin(), all.begin() + 9));

    // A Model without variables has one state.
    ExprPtr constant(dalo_expr_create_int(-5));
    const Outcome none = sweep(ModelPtr(dalo_model_create(constant.get())).get());
    EXPECT_EQ(none.best.energy, -5);
    EXPECT_EQ(none["states"], "1");
    EXPECT_EQ(none["complete"], "1");

    // A free-form penalty is listed with its term count.
    ExprPtr obj = var(x);
    dalo_expr_iadd_expr(obj.get(), ExprPtr(dalo_cons_mark(var(x + 1).get())).get());
    const Outcome marked = sweep(ModelPtr(dalo_model_create(obj.get())).get());
    EXPECT_EQ(marked.best, (Scored{0, 0}));
    EXPECT_EQ(marked["remainder_terms"], "1");
}

TEST_F(SweepPluginTest, DefaultCallbackPrintsEachNewBest) {
    const dalo_var x = vars(10);
    std::mt19937_64 rng(5);
    const ModelPtr m = sparse(rng, x, 10);
    testing::internal::CaptureStdout();
    const Outcome r = sweep(m.get(), {{"enable_default_callback", "1"}, {"threads", "1"}});
    const std::string out = testing::internal::GetCapturedStdout();
    std::vector<int64_t> energies;
    size_t at = 0;
    while ((at = out.find("Energy = ", at)) != std::string::npos) {
        at += 9;
        energies.push_back(std::stoll(out.substr(at)));
    }
    ASSERT_FALSE(energies.empty());
    EXPECT_EQ(out.rfind("TTS = ", 0), 0u);
    EXPECT_EQ(energies.back(), r.best.energy);
    for (size_t i = 1; i < energies.size(); ++i) EXPECT_LT(energies[i], energies[i - 1]);
    testing::internal::CaptureStdout();
    sweep(m.get(), {{"enable_default_callback", "0"}});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(SweepPluginTest, TimeLimitAndTargetCutTheSearchShort) {
    const dalo_var x = vars(40);
    std::mt19937_64 rng(9);
    const ModelPtr m = sparse(rng, x, 40);
    // A busy machine may not run a thread again in time; a cut that is systematically late
    // misses every try.
    for (const char* threads : {"1", "2"}) {
        SCOPED_TRACE(threads);
        double best_run_time = 1e9;
        for (int attempt = 0; attempt < 3 && best_run_time > 0.22; ++attempt) {
            const Outcome r = sweep(m.get(), {{"time_limit", "0.2"}, {"threads", threads}});
            EXPECT_EQ(r["complete"], "0");
            EXPECT_EQ(r["cut_short"], "time_limit");
            const uint64_t states = std::stoull(r["states"]);
            EXPECT_GT(states, uint64_t{1} << 16);
            EXPECT_LT(states, uint64_t{1} << 40);
            const double run_time = std::stod(r["run_time"]);
            EXPECT_GE(run_time, 0.2);
            best_run_time = std::min(best_run_time, run_time);
        }
        EXPECT_LE(best_run_time, 0.22);
    }
    // The all-zero start has energy 0, at or below the target: the search ends at once.
    const Outcome r = sweep(m.get(), {{"target_energy", "0"}, {"threads", "1"}});
    EXPECT_EQ(r["cut_short"], "target_energy");
    EXPECT_LE(r.best.energy, 0);
    EXPECT_LT(std::stoull(r["states"]), uint64_t{1} << 20);
    // Without a limit a small Model runs to the end and says nothing of cutting.
    const ModelPtr small = sparse(rng, x, 10);
    const Outcome full = sweep(small.get(), {{"target_energy", "-1000000"}});
    EXPECT_EQ(full["complete"], "1");
    EXPECT_EQ(full["cut_short"], "<absent>");
    EXPECT_EQ(full.best, brute_force(small.get()).front());
}

TEST_F(SweepPluginDeathTest, RefusesTooManyVariablesAndUnknownParameters) {
    const dalo_var x = vars(49);
    auto sum_of = [&](uint32_t n) {
        ExprPtr e(dalo_expr_create());
        for (uint32_t i = 0; i < n; ++i) dalo_expr_iadd_var(e.get(), x + i);
        return ModelPtr(dalo_model_create(e.get()));
    };
    const ModelPtr at_limit = sum_of(48);
    dalo_sweep_wrapper_destroy(dalo_sweep_wrapper_create(at_limit.get()));
    const ModelPtr over = sum_of(49);
    EXPECT_FATAL(dalo_sweep_wrapper_create(over.get()),
                 "SweepSolver: 49 variables exceed the enumeration limit of 48 (2^48 states)");

    const ModelPtr small = sum_of(3);
    auto search = [&](const char* key, const char* value) {
        const dalo_param p[] = {{key, value}, {nullptr, nullptr}};
        dalo_sweep_wrapper* w = dalo_sweep_wrapper_create(small.get());
        dalo_brisk_solver_result_destroy(dalo_sweep_wrapper_search(w, p));
        dalo_sweep_wrapper_destroy(w);
    };
    const std::string known =
        " (known: time_limit, target_energy, threads, topk_sols, best_energy_sols, "
        "enable_default_callback)";
    EXPECT_FATAL(search("seed", "1"), "SweepSolver: unknown parameter 'seed'" + known);
    EXPECT_FATAL(search("threads", "0"),
                 "SweepSolver: parameter 'threads' must be a positive integer (got '0')");
    EXPECT_FATAL(search("topk_sols", "2x"),
                 "SweepSolver: parameter 'topk_sols' must be a positive integer (got '2x')");
    EXPECT_FATAL(search("time_limit", "-1"),
                 "SweepSolver: parameter 'time_limit' must be a positive number of seconds "
                 "(got '-1')");
    EXPECT_FATAL(search("target_energy", "low"),
                 "SweepSolver: parameter 'target_energy' must be an integer (got 'low')");
}

}  // namespace
