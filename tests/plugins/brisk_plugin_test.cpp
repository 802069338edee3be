// BriskSolver's plug-in beside the library, through the public interface: optima against
// brute force over Sol energies with every constraint kind, reported energies, solution
// lists, time limits, seeds, parameters and the unified integer engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "dalo.h"
#include "support/brute.hpp"
#include "support/expr_util.hpp"
#include "support/fatal.hpp"
#include "support/plugin_models.hpp"

using dalo_test::ExprPtr;

namespace {

using dalo_test::ModelPtr;
using dalo_test::random_qubo;
using dalo_test::recomputed;

struct Found {
    int64_t energy = 0;
    std::vector<uint64_t> bits;
    std::vector<int64_t> ints;
};

struct Outcome {
    Found best;
    std::vector<Found> list;
    std::vector<std::pair<std::string, std::string>> info;
    double seconds = 0.0;

    std::string operator[](const std::string& key) const {
        for (const auto& [k, v] : info) {
            if (k == key) return v;
        }
        return "<absent>";
    }
};

std::vector<uint64_t> words_of(const uint64_t* bits, uint32_t n) {
    if (bits == nullptr) return {};
    return std::vector<uint64_t>(bits, bits + (n + 63) / 64);
}

// One search (binary, or integer when the Model has integer variables); every reported energy
// is checked against the library's Sol energy.
Outcome brisk(const dalo_model* m, std::vector<dalo_param> params, const void* hint = nullptr) {
    params.push_back({nullptr, nullptr});
    const uint32_t n = dalo_model_var_count(m);
    dalo_brisk_solver_wrapper* w = dalo_brisk_solver_wrapper_create(m);
    const auto t0 = std::chrono::steady_clock::now();
    dalo_solver_result* r =
        dalo_model_int_var_count(m) > 0
            ? dalo_brisk_solver_wrapper_search_int(w, params.data(), nullptr, nullptr, 0)
            : dalo_brisk_solver_wrapper_search(w, params.data(), hint);
    Outcome out;
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    out.best.energy = dalo_brisk_solver_result_energy(r, nullptr);
    out.best.bits = words_of(dalo_brisk_solver_result_bits(r), n);
    for (uint64_t i = 0; i < dalo_brisk_solver_result_topk_count(r); ++i) {
        Found f;
        f.energy = dalo_brisk_solver_result_topk_energy(r, i, nullptr);
        f.bits = words_of(dalo_brisk_solver_result_topk_bits(r, i), n);
        out.list.push_back(f);
        EXPECT_EQ(recomputed(dalo_brisk_solver_result_topk_to_sol(r, i, m), m), f.energy);
    }
    for (uint64_t i = 0; i < dalo_brisk_solver_result_info_count(r); ++i) {
        out.info.emplace_back(dalo_brisk_solver_result_info_key(r, i),
                              dalo_brisk_solver_result_info_value(r, i));
    }
    dalo_sol* s = dalo_brisk_solver_result_to_sol(r, m);
    const int64_t* iv = dalo_sol_int_vals(s);
    out.best.ints.assign(iv, iv + dalo_sol_int_count(s));
    EXPECT_EQ(recomputed(s, m), out.best.energy);
    dalo_brisk_solver_result_destroy(r);
    dalo_brisk_solver_wrapper_destroy(w);
    return out;
}

class BriskPluginTest : public testing::Test {
  protected:
    dalo_var vars(uint64_t n) { return dalo_new_var_array("x", &n, 1); }
};

using BriskPluginDeathTest = BriskPluginTest;

TEST_F(BriskPluginTest, ReachesBruteForceOptimaWithEveryConstraintKind) {
    const dalo_var x = vars(12);
    std::mt19937_64 rng(77);
    bool negated = false, remainder = false, shapes = false;
    for (uint32_t round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const ModelPtr m = dalo_test::constrained_model(rng, x, 3 + round % 10);
        negated = negated || dalo_model_has_negated_literals(m.get()) == 1;
        remainder = remainder || dalo_model_has_remainder(m.get()) == 1;
        shapes = shapes || dalo_model_has_penalty_shapes(m.get()) == 1;
        ASSERT_GE(dalo_model_native_cons_count(m.get()), 7u);
        const auto all = dalo_test::all_energies(m.get());
        const std::string target = std::to_string(all.front().first);
        const Outcome o = brisk(m.get(), {{"target_energy", target.c_str()},
                                          {"time_limit", "5"},
                                          {"threads", "2"},
                                          {"seed", "3"}});
        EXPECT_EQ(o.best.energy, all.front().first);
        EXPECT_LT(o.seconds, 4.0);
    }
    EXPECT_TRUE(negated && remainder && shapes);
}

TEST_F(BriskPluginTest, MaxCutOfABipartiteGraphCutsEveryEdge) {
    // Max-Cut as minimisation (each edge w adds -w x_i - w x_j + 2 w x_i x_j, -w when cut) on
    // a random bipartite graph: the optimum cuts every edge. The search runs its whole time so
    // the elite pool fills and turns over on a Model unchanged by complementing every variable.
    const uint32_t n = 80;
    const dalo_var x = vars(n);
    std::mt19937_64 rng(31);
    std::vector<uint32_t> side(n);
    for (uint32_t& s : side) s = static_cast<uint32_t>(rng() & 1);
    ExprPtr e(dalo_expr_create());
    int64_t total = 0;
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t k = 0; k < 4; ++k) {
            const uint32_t j = static_cast<uint32_t>(rng() % n);
            if (side[i] == side[j]) continue;
            const int64_t w = 1 + static_cast<int64_t>(rng() % 5);
            const dalo_var a = x + i, b = x + j;
            const dalo_var ab[2] = {a, b};
            dalo_expr_iadd_raw_term(e.get(), -w, &a, 1);
            dalo_expr_iadd_raw_term(e.get(), -w, &b, 1);
            dalo_expr_iadd_raw_term(e.get(), 2 * w, ab, 2);
            total += w;
        }
    }
    ExprPtr s(dalo_expr_simplify_as_binary(e.get()));
    const ModelPtr m(dalo_model_create(s.get()));
    const Outcome o = brisk(m.get(), {{"time_limit", "0.8"}, {"threads", "2"}, {"seed", "4"}});
    EXPECT_EQ(o.best.energy, -total);
    EXPECT_GT(std::stoull(o["restarts"]), 16u);
}

TEST_F(BriskPluginTest, TopKListsAreTheKBestDistinctSolutions) {
    const dalo_var x = vars(10);
    std::mt19937_64 rng(5);
    for (uint32_t round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        const ModelPtr m = dalo_test::constrained_model(rng, x, 6 + round);
        const auto all = dalo_test::all_energies(m.get());
        const Outcome o = brisk(m.get(), {{"topk_sols", "7"}, {"time_limit", "0.2"}});
        ASSERT_EQ(o.list.size(), 7u);
        std::set<std::vector<uint64_t>> distinct;
        for (size_t i = 0; i < o.list.size(); ++i) {
            EXPECT_EQ(o.list[i].energy, all[i].first) << i;
            distinct.insert(o.list[i].bits);
        }
        EXPECT_EQ(distinct.size(), o.list.size());
        EXPECT_EQ(o.best.energy, all.front().first);
    }
    // Beyond enumeration the list comes from the search: sorted, distinct, led by the best.
    const dalo_var y = vars(40);
    const ModelPtr m = random_qubo(rng, y, 40, 6);
    const Outcome o = brisk(m.get(), {{"topk_sols", "20"}, {"time_limit", "0.1"}});
    ASSERT_EQ(o.list.size(), 20u);
    std::set<std::vector<uint64_t>> distinct;
    for (size_t i = 0; i < o.list.size(); ++i) {
        if (i > 0) {
            EXPECT_LE(o.list[i - 1].energy, o.list[i].energy);
        }
        distinct.insert(o.list[i].bits);
    }
    EXPECT_EQ(distinct.size(), o.list.size());
    EXPECT_EQ(o.list.front().energy, o.best.energy);
}

TEST_F(BriskPluginTest, BestEnergyListsHoldEveryOptimalAssignment) {
    // (x0 + ... + x5 - 2)^2 as a declared constraint plus x0 x1: 6 choose 2 minus one pair
    // at energy 0.
    const dalo_var x = vars(6);
    ExprPtr sum(dalo_expr_create());
    for (uint32_t i = 0; i < 6; ++i) dalo_expr_iadd_var(sum.get(), x + i);
    ExprPtr body(dalo_expr_simplify_as_binary(sum.get()));
    ExprPtr obj(dalo_cons_between(body.get(), 2, 2));
    const dalo_var x01[2] = {x, x + 1};
    dalo_expr_iadd_raw_term(obj.get(), 1, x01, 2);
    const ModelPtr m(dalo_model_create(obj.get()));
    std::set<uint64_t> want;
    for (const auto& [e, mask] : dalo_test::all_energies(m.get())) {
        if (e == 0) want.insert(mask);
    }
    ASSERT_EQ(want.size(), 14u);
    const Outcome all = brisk(m.get(), {{"best_energy_sols", "0"}, {"time_limit", "0.2"}});
    std::set<uint64_t> got;
    for (const Found& f : all.list) {
        EXPECT_EQ(f.energy, 0);
        got.insert(f.bits[0]);
    }
    EXPECT_EQ(got.size(), all.list.size());
    EXPECT_EQ(got, want);
    const Outcome capped = brisk(m.get(), {{"best_energy_sols", "5"}, {"time_limit", "0.1"}});
    EXPECT_EQ(capped.list.size(), 5u);
}

TEST_F(BriskPluginTest, TimeLimitIsHonoured) {
    const dalo_var x = vars(2000);
    std::mt19937_64 rng(11);
    const ModelPtr m = random_qubo(rng, x, 2000, 8);
    // The wrapper's own measure of the plug-in call; a loaded machine may preempt the search
    // past the limit, so the upper bound gets three tries.
    Outcome o;
    double run_time = 0.0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        o = brisk(m.get(), {{"time_limit", "0.2"}, {"threads", "1"}});
        run_time = std::stod(o["run_time"]);
        EXPECT_GE(run_time, 0.2);
        if (run_time <= 0.22) break;
    }
    EXPECT_LE(run_time, 0.22);
    EXPECT_EQ(o["threads"], "1");
    EXPECT_GT(std::stoull(o["flips"]), 0u);
    EXPECT_NE(o["restarts"], "<absent>");
    EXPECT_GT(std::stoull(o["moves_evaluated"]), 0u);
}

TEST_F(BriskPluginTest, SameSeedOneThreadAndTargetGiveTheSameResult) {
    const dalo_var x = vars(300);
    std::mt19937_64 rng(8);
    const ModelPtr m = random_qubo(rng, x, 300, 10);
    const Outcome first = brisk(m.get(), {{"time_limit", "0.2"}, {"threads", "2"}});
    const std::string target = std::to_string(first.best.energy + 20);
    const std::vector<dalo_param> p = {{"target_energy", target.c_str()},
                                       {"seed", "12345"},
                                       {"threads", "1"},
                                       {"time_limit", "5"}};
    const Outcome a = brisk(m.get(), p);
    const Outcome b = brisk(m.get(), p);
    EXPECT_LE(a.best.energy, first.best.energy + 20);
    EXPECT_EQ(a.best.energy, b.best.energy);
    EXPECT_EQ(a.best.bits, b.best.bits);
    EXPECT_EQ(a["seed"], "12345");
    EXPECT_EQ(a["flips"], b["flips"]);
}

TEST_F(BriskPluginTest, HintAndProgressLines) {
    const dalo_var x = vars(8);
    std::mt19937_64 rng(21);
    const ModelPtr m = dalo_test::constrained_model(rng, x, 8);
    const auto all = dalo_test::all_energies(m.get());
    const std::string target = std::to_string(all.front().first);
    // Started at an optimum, one thread reports it at once.
    const uint64_t hint = all.front().second;
    const Outcome o = brisk(
        m.get(), {{"target_energy", target.c_str()}, {"threads", "1"}, {"time_limit", "5"}}, &hint);
    EXPECT_EQ(o.best.energy, all.front().first);
    EXPECT_LT(o.seconds, 1.0);
    testing::internal::CaptureStdout();
    brisk(m.get(), {{"target_energy", target.c_str()},
                    {"enable_default_callback", "1"},
                    {"threads", "1"},
                    {"time_limit", "5"}});
    const std::string lines = testing::internal::GetCapturedStdout();
    const std::string last = "Energy = " + target + "\n";
    ASSERT_GE(lines.size(), last.size());
    EXPECT_EQ(lines.substr(lines.size() - last.size()), last);
    EXPECT_EQ(lines.substr(0, 6), "TTS = ");
}

TEST_F(BriskPluginDeathTest, ParameterRefusals) {
    const dalo_var x = vars(4);
    std::mt19937_64 rng(1);
    const ModelPtr m = random_qubo(rng, x, 4, 2);
    EXPECT_FATAL(brisk(m.get(), {{"time_limit", "0.1"}, {"bogus", "1"}}),
                 "BriskSolver: unknown parameter 'bogus'");
    EXPECT_FATAL(brisk(m.get(), {{"time_limit", "soon"}}),
                 "BriskSolver: invalid value 'soon' for 'time_limit'");
    EXPECT_FATAL(brisk(m.get(), {{"target_energy", "1.5"}}),
                 "BriskSolver: invalid value '1.5' for 'target_energy'");
    EXPECT_FATAL(brisk(m.get(), {{"threads", "0"}}), "BriskSolver: threads must be >= 1.");
    EXPECT_FATAL(brisk(m.get(), {{"topk_sols", "0"}}), "BriskSolver: topk_sols must be >= 1.");
}

// ---- the unified integer engine ----

class BriskIntegerTest : public BriskPluginTest {
  protected:
    void SetUp() override { setenv("DALO_INT_UNIFIED", "1", 1); }
    void TearDown() override { unsetenv("DALO_INT_UNIFIED"); }
};

TEST_F(BriskIntegerTest, ReachesBruteForceOptimaOnIntegerModels) {
    const dalo_var x = vars(4);
    std::mt19937_64 rng(99);
    for (uint32_t round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        std::vector<dalo_var> ints;
        // A quadratic over the integers and binaries, a capacity and an equality constraint.
        const ModelPtr m = dalo_test::mixed_model(rng, x, round < 3 ? 4 : 18, ints);
        ASSERT_EQ(dalo_model_int_var_count(m.get()), 3u);
        const int64_t best = dalo_test::mixed_optimum(m.get(), ints);
        const std::string target = std::to_string(best);
        const Outcome o = brisk(
            m.get(), {{"target_energy", target.c_str()}, {"time_limit", "5"}, {"threads", "2"}});
        EXPECT_EQ(o["engine"], "integer-unified");
        EXPECT_EQ(o.best.energy, best);
        EXPECT_LT(o.seconds, 4.0);
    }
}

using BriskIntegerDeathTest = BriskIntegerTest;

TEST_F(BriskIntegerDeathTest, InformationAndRefusals) {
    const dalo_var k = dalo_new_int_var("k", -3, 40);
    const dalo_var x = vars(2);
    // (k - 7)^2 + 3 x0 - 5 x0 x1: optimum -2 at k = 7, x0 = x1 = 1.
    ExprPtr e(dalo_expr_create_int(49));
    dalo_expr_iadd_raw_term(e.get(), -14, &k, 1);
    const dalo_var kk[2] = {k, k};
    dalo_expr_iadd_raw_term(e.get(), 1, kk, 2);
    dalo_expr_iadd_raw_term(e.get(), 3, &x, 1);
    const dalo_var xy[2] = {x, x + 1};
    dalo_expr_iadd_raw_term(e.get(), -5, xy, 2);
    ExprPtr s(dalo_expr_simplify_as_binary(e.get()));
    const ModelPtr m(dalo_model_create(s.get()));
    const Outcome o = brisk(m.get(), {{"threads", "1"}, {"seed", "9"}, {"time_limit", "0.05"}});
    EXPECT_EQ(o.best.energy, -2);
    ASSERT_EQ(o.best.ints.size(), 1u);
    EXPECT_EQ(o.best.ints[0], 7);
    EXPECT_EQ(o.best.bits, std::vector<uint64_t>{3});
    EXPECT_EQ(o["engine"], "integer-unified");
    EXPECT_EQ(o["threads"], "1");
    EXPECT_EQ(o["seed"], "9");
    EXPECT_NE(o["flips"], "<absent>");
    EXPECT_NE(o["restarts"], "<absent>");
    EXPECT_FATAL(brisk(m.get(), {{"time_limit", "0.01"}, {"colour", "red"}}),
                 "BriskSolver: unknown parameter 'colour'");
}

}  // namespace
