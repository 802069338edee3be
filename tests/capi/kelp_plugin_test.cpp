// KELPSolver's plug-in beside the library, through the public interface: optima against
// brute force over Sol energies with every constraint kind, reported energies, the external
// stop, progress events, hints and the unified integer engine.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dalo.h"
#include "support/fatal.hpp"
#include "support/plugin_models.hpp"

using dalo_test::ExprPtr;
using dalo_test::ModelPtr;

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

using dalo_test::recomputed;

struct Outcome {
    int64_t energy = 0;
    uint64_t bits = 0;                               // first word
    std::vector<std::pair<int64_t, uint64_t>> list;  // energy, first word
    std::vector<std::pair<std::string, std::string>> info;
    double seconds = 0.0;

    std::string operator[](const std::string& key) const {
        for (const auto& [k, v] : info) {
            if (k == key) return v;
        }
        return "<absent>";
    }
};

// Progress events as the host sees them: event, Sol energy, recomputed energy.
struct Events {
    std::vector<uint32_t> kinds;
    std::vector<int64_t> energies, recomputed;
    const dalo_model* model = nullptr;
};

double record(void* context, dalo_sol* sol, uint32_t event) {
    auto* ev = static_cast<Events*>(context);
    ev->kinds.push_back(event);
    ev->energies.push_back(dalo_sol_energy(sol, nullptr));
    ev->recomputed.push_back(recomputed(sol, ev->model));
    return -1.0;
}

Outcome finish(dalo_solver_result* r, const dalo_model* m, Clock::time_point t0) {
    Outcome out;
    out.seconds = seconds(t0);
    out.energy = dalo_brisk_solver_result_energy(r, nullptr);
    const uint64_t* bits = dalo_brisk_solver_result_bits(r);
    out.bits = bits != nullptr && dalo_model_var_count(m) > 0 ? bits[0] : 0;
    for (uint64_t i = 0; i < dalo_brisk_solver_result_topk_count(r); ++i) {
        const uint64_t* w = dalo_brisk_solver_result_topk_bits(r, i);
        out.list.emplace_back(dalo_brisk_solver_result_topk_energy(r, i, nullptr),
                              w != nullptr && dalo_model_var_count(m) > 0 ? w[0] : 0);
        EXPECT_EQ(recomputed(dalo_brisk_solver_result_topk_to_sol(r, i, m), m),
                  out.list.back().first);
    }
    for (uint64_t i = 0; i < dalo_brisk_solver_result_info_count(r); ++i) {
        out.info.emplace_back(dalo_brisk_solver_result_info_key(r, i),
                              dalo_brisk_solver_result_info_value(r, i));
    }
    EXPECT_EQ(recomputed(dalo_brisk_solver_result_to_sol(r, m), m), out.energy);
    dalo_brisk_solver_result_destroy(r);
    return out;
}

// One search on the CPU path (binary, or the unified engine for integer Models); the
// reported energy is checked against the library's Sol energy.
Outcome kelp(const dalo_model* m, std::vector<dalo_param> params, const uint64_t* hint = nullptr,
             Events* events = nullptr) {
    params.push_back({nullptr, nullptr});
    dalo_kelp_wrapper* w = dalo_kelp_wrapper_create(m, 0);
    if (events != nullptr) {
        events->model = m;
        dalo_kelp_wrapper_set_callback(w, record, events);
    }
    const auto t0 = Clock::now();
    dalo_solver_result* r =
        dalo_model_int_var_count(m) > 0
            ? dalo_kelp_wrapper_search_int(w, params.data(), nullptr, nullptr, 0)
            : dalo_kelp_wrapper_search(w, params.data(), hint);
    Outcome out = finish(r, m, t0);
    dalo_kelp_wrapper_destroy(w);
    return out;
}

class KelpPluginTest : public testing::Test {
  protected:
    dalo_var vars(uint64_t n) { return dalo_new_var_array("x", &n, 1); }
};

using KelpPluginDeathTest = KelpPluginTest;

TEST_F(KelpPluginTest, ReachesBruteForceOptimaWithEveryConstraintKind) {
    const dalo_var x = vars(12);
    std::mt19937_64 rng(78);
    bool negated = false, remainder = false, shapes = false;
    for (uint32_t round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const ModelPtr m = dalo_test::constrained_model(rng, x, 3 + round % 10);
        negated = negated || dalo_model_has_negated_literals(m.get()) == 1;
        remainder = remainder || dalo_model_has_remainder(m.get()) == 1;
        shapes = shapes || dalo_model_has_penalty_shapes(m.get()) == 1;
        const auto all = dalo_test::all_energies(m.get());
        const std::string target = std::to_string(all.front().first);
        const Outcome o = kelp(m.get(), {{"target_energy", target.c_str()},
                                         {"time_limit", "10"},
                                         {"threads", "2"},
                                         {"seed", "3"}});
        EXPECT_EQ(o.energy, all.front().first);
        EXPECT_LT(o.seconds, 8.0);
        EXPECT_EQ(o["algorithm"], "replica exchange");
    }
    EXPECT_TRUE(negated && remainder && shapes);
}

TEST_F(KelpPluginTest, TimeLimitEndsASearchThatFindsNoTarget) {
    // Without a target a small Model still ends at the time limit, reporting its optimum.
    const dalo_var x = vars(10);
    std::mt19937_64 rng(4);
    const ModelPtr m = dalo_test::constrained_model(rng, x, 10);
    const auto all = dalo_test::all_energies(m.get());
    const Outcome o = kelp(m.get(), {{"time_limit", "0.3"}, {"threads", "1"}, {"replicas", "4"}});
    EXPECT_EQ(o.energy, all.front().first);
    EXPECT_GE(o.seconds, 0.3);
    EXPECT_LT(o.seconds, 2.0);
    EXPECT_EQ(o["threads"], "1");
    EXPECT_EQ(o["replicas"], "4");
    EXPECT_EQ(o["stopped"], "0");
    EXPECT_GT(std::stoull(o["moves"]), 0u);
}

TEST_F(KelpPluginTest, ListsHoldTheBestDistinctStates) {
    const dalo_var x = vars(9);
    std::mt19937_64 rng(6);
    for (uint32_t round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const ModelPtr m = dalo_test::constrained_model(rng, x, 7 + round);
        const auto all = dalo_test::all_energies(m.get());
        // Small Models: the replicas visit every state, so the list is the exact top 7.
        const Outcome top = kelp(m.get(), {{"topk_sols", "7"}, {"time_limit", "0.2"}});
        ASSERT_EQ(top.list.size(), 7u);
        std::set<uint64_t> distinct;
        for (size_t i = 0; i < top.list.size(); ++i) {
            EXPECT_EQ(top.list[i].first, all[i].first) << i;
            distinct.insert(top.list[i].second);
        }
        EXPECT_EQ(distinct.size(), 7u);
        EXPECT_EQ(top.energy, all.front().first);
        // Best-energy lists: every optimal state, or as many as asked for.
        std::set<uint64_t> want;
        for (const auto& [e, mask] : all) {
            if (e == all.front().first) want.insert(mask);
        }
        const Outcome best = kelp(m.get(), {{"best_energy_sols", "0"}, {"time_limit", "0.2"}});
        std::set<uint64_t> got;
        for (const auto& [e, mask] : best.list) {
            EXPECT_EQ(e, all.front().first);
            got.insert(mask);
        }
        EXPECT_EQ(got, want);
        const Outcome one = kelp(m.get(), {{"best_energy_sols", "1"}, {"time_limit", "0.1"}});
        EXPECT_EQ(one.list.size(), 1u);
    }
}

TEST_F(KelpPluginTest, TerminateFromAnotherThreadEndsTheSearchPromptly) {
    const dalo_var x = vars(3000);
    std::mt19937_64 rng(12);
    const ModelPtr m = dalo_test::random_qubo(rng, x, 3000, 8);
    // The best of a few tries, so that a loaded machine does not decide the outcome.
    double lag = 1e9;
    for (int attempt = 0; attempt < 4 && lag > 0.05; ++attempt) {
        dalo_kelp_wrapper* w = dalo_kelp_wrapper_create(m.get(), 0);
        // A request before the search is cleared when the search starts.
        dalo_kelp_wrapper_terminate(w);
        dalo_param p[] = {{"time_limit", "60"}, {"threads", "2"}, {nullptr, nullptr}};
        std::atomic<int64_t> asked{0};
        const auto t0 = Clock::now();
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            asked =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
            dalo_kelp_wrapper_terminate(w);
        });
        dalo_solver_result* r = dalo_kelp_wrapper_search(w, p, nullptr);
        stopper.join();
        const Outcome o = finish(r, m.get(), t0);
        EXPECT_EQ(o["stopped"], "1");
        // The wrapper's own measure of the plug-in call, which starts just after t0.
        lag = std::min(lag, std::stod(o["run_time"]) - static_cast<double>(asked.load()) * 1e-6);
        dalo_kelp_wrapper_destroy(w);
    }
    EXPECT_LT(lag, 0.05);
}

TEST_F(KelpPluginTest, ProgressEventsCarryExactEnergies) {
    const dalo_var x = vars(400);
    std::mt19937_64 rng(31);
    const ModelPtr m = dalo_test::random_qubo(rng, x, 400, 6);
    Events ev;
    const Outcome o =
        kelp(m.get(), {{"time_limit", "0.4"}, {"timer_interval", "0.05"}, {"threads", "2"}},
             nullptr, &ev);
    ASSERT_FALSE(ev.kinds.empty());
    int64_t last_best = INT64_MAX;
    size_t timers = 0;
    for (size_t i = 0; i < ev.kinds.size(); ++i) {
        EXPECT_EQ(ev.energies[i], ev.recomputed[i]) << i;
        if (ev.kinds[i] == 1) {
            EXPECT_LT(ev.energies[i], last_best) << i;  // every new best improves
            last_best = ev.energies[i];
        } else {
            EXPECT_EQ(ev.kinds[i], 2u);
            EXPECT_EQ(ev.energies[i], last_best) << i;  // the timer repeats the best so far
            ++timers;
        }
    }
    EXPECT_GE(timers, 2u);
    EXPECT_EQ(last_best, o.energy);
}

TEST_F(KelpPluginTest, HintsStartTheSearchAtTheGivenState) {
    const dalo_var x = vars(300);
    std::mt19937_64 rng(41);
    const ModelPtr m = dalo_test::random_qubo(rng, x, 300, 8);
    dalo_kelp_wrapper* w = dalo_kelp_wrapper_create(m.get(), 0);
    dalo_param short_run[] = {{"time_limit", "0.3"}, {"threads", "2"}, {nullptr, nullptr}};
    dalo_solver_result* r = dalo_kelp_wrapper_search(w, short_run, nullptr);
    dalo_sol* known = dalo_brisk_solver_result_to_sol(r, m.get());
    const int64_t reached = dalo_brisk_solver_result_energy(r, nullptr);
    dalo_brisk_solver_result_destroy(r);
    // Started at a state reported before, one thread is at its energy at once.
    const std::string target = std::to_string(reached);
    dalo_param p[] = {{"target_energy", target.c_str()},
                      {"threads", "1"},
                      {"time_limit", "20"},
                      {nullptr, nullptr}};
    for (int way = 0; way < 2; ++way) {
        const auto t0 = Clock::now();
        if (way == 0) {
            dalo_kelp_wrapper_hint(w, known);
            r = dalo_kelp_wrapper_search(w, p, nullptr);
        } else {
            r = dalo_kelp_wrapper_search(w, p, dalo_sol_bits(known));
        }
        const Outcome o = finish(r, m.get(), t0);
        EXPECT_LE(o.energy, reached) << way;
        EXPECT_EQ(o["sweeps"], "0") << way;
    }
    dalo_sol_destroy(known);
    dalo_kelp_wrapper_destroy(w);
}

TEST_F(KelpPluginDeathTest, ParameterRefusals) {
    const dalo_var x = vars(4);
    std::mt19937_64 rng(1);
    const ModelPtr m = dalo_test::random_qubo(rng, x, 4, 2);
    EXPECT_FATAL(kelp(m.get(), {{"time_limit", "0.1"}, {"bogus", "1"}}),
                 "KELPSolver: unknown parameter 'bogus'");
    EXPECT_FATAL(kelp(m.get(), {{"time_limit", "soon"}}),
                 "KELPSolver: invalid value 'soon' for 'time_limit'");
    EXPECT_FATAL(kelp(m.get(), {{"threads", "0"}}), "KELPSolver: invalid value '0' for 'threads'");
    EXPECT_FATAL(kelp(m.get(), {{"replicas", "1"}}),
                 "KELPSolver: invalid value '1' for 'replicas'");
}

// ---- the GPU solver ----

// What the plug-in beside the library offers: its GPU solver and the devices it sees.
struct GpuSide {
    bool solver = false;
    int32_t devices = 0;
    GpuSide() {
        std::string dir = DALO_LIBRARY_PATH;
        dir = dir.substr(0, dir.rfind('/') + 1);
        void* lib = dlopen((dir + "kelp_c32e64.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) return;
        solver = dlsym(lib, "dalo_kelp_solver_create") != nullptr;
        auto count = reinterpret_cast<int32_t (*)()>(dlsym(lib, "dalo_kelp_gpu_device_count"));
        devices = count != nullptr ? count() : 0;
    }
};

TEST_F(KelpPluginTest, GpuSolverReachesOptimaWithOrWithoutADevice) {
    const GpuSide gpu;
    if (!gpu.solver) GTEST_SKIP() << "plug-in built without the GPU solver";
    const dalo_var x = vars(12);
    std::mt19937_64 rng(55);
    for (uint32_t round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        // Constrained Models, and plain quadratic ones that the device kernel takes.
        const ModelPtr m = round % 2 ? dalo_test::constrained_model(rng, x, 6 + round)
                                     : dalo_test::random_qubo(rng, x, 8 + round, 4);
        const auto all = dalo_test::all_energies(m.get());
        const std::string target = std::to_string(all.front().first);
        const Outcome o = kelp(m.get(), {{"target_energy", target.c_str()}, {"time_limit", "10"}});
        EXPECT_EQ(o.energy, all.front().first);
        EXPECT_EQ(o["solver"], "gpu");
        EXPECT_EQ(o["device"], gpu.devices > 0 && round % 2 == 0 ? "gpu" : "cpu");
    }
}

TEST_F(KelpPluginDeathTest, GpuModeWithoutADeviceIsRefused) {
    const GpuSide gpu;
    if (gpu.devices > 0) GTEST_SKIP() << "a device is present";
    const dalo_var x = vars(4);
    std::mt19937_64 rng(2);
    const ModelPtr m = dalo_test::random_qubo(rng, x, 4, 2);
    EXPECT_FATAL(dalo_kelp_wrapper_create(m.get(), 1),
                 "KELPSolver: GPU mode requested but no GPU available");
}

// ---- the unified integer engine ----

class KelpIntegerTest : public KelpPluginTest {
  protected:
    void SetUp() override { setenv("DALO_INT_UNIFIED", "1", 1); }
    void TearDown() override { unsetenv("DALO_INT_UNIFIED"); }
};

TEST_F(KelpIntegerTest, ReachesBruteForceOptimaOnIntegerModels) {
    const dalo_var x = vars(4);
    std::mt19937_64 rng(98);
    for (uint32_t round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        std::vector<dalo_var> ints;
        const ModelPtr m = dalo_test::mixed_model(rng, x, round < 3 ? 4 : 18, ints);
        ASSERT_EQ(dalo_model_int_var_count(m.get()), 3u);
        const int64_t best = dalo_test::mixed_optimum(m.get(), ints);
        const std::string target = std::to_string(best);
        Events ev;
        const Outcome o = kelp(
            m.get(), {{"target_energy", target.c_str()}, {"time_limit", "10"}, {"threads", "2"}},
            nullptr, &ev);
        EXPECT_EQ(o["engine"], "integer-unified");
        EXPECT_EQ(o.energy, best);
        EXPECT_LT(o.seconds, 8.0);
        // Events carry the integer values: their Sol energies are exact.
        ASSERT_FALSE(ev.kinds.empty());
        EXPECT_EQ(ev.energies.back(), best);
        for (size_t i = 0; i < ev.kinds.size(); ++i) EXPECT_EQ(ev.energies[i], ev.recomputed[i]);
    }
}

}  // namespace
