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

#ifdef __SANITIZE_THREAD__
constexpr double kStopLag = 0.5;  // instrumented atomics and locks slow every sweep
#else
constexpr double kStopLag = 0.05;
#endif

TEST_F(KelpPluginTest, TerminateFromAnotherThreadEndsTheSearchPromptly) {
    const dalo_var x = vars(3000);
    std::mt19937_64 rng(12);
    const ModelPtr m = dalo_test::random_qubo(rng, x, 3000, 8);
    // The best of a few tries, so that a loaded machine does not decide the outcome.
    double lag = 1e9;
    for (int attempt = 0; attempt < 8 && lag > 0.05; ++attempt) {
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
    EXPECT_LT(lag, kStopLag);
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
        // No work at all: the CPU search makes no sweep, the GPU solver (which serves mode 0
        // where the plug-in has one and a device is present) no round.
        EXPECT_EQ(o["solver"] == "gpu" && o["device"] != "cpu" ? o["rounds"] : o["sweeps"], "0")
            << way;
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
    EXPECT_FATAL(kelp(m.get(), {{"gpu", "2"}}), "KELPSolver: invalid value '2' for 'gpu'");
}

// ---- the GPU solver ----

// What the plug-in beside the library offers: its GPU solver and the devices it sees.
struct GpuSide {
    void* lib = nullptr;
    bool solver = false;
    bool int_engine = false;
    int32_t devices = 0;
    GpuSide() {
        std::string dir = DALO_LIBRARY_PATH;
        dir = dir.substr(0, dir.rfind('/') + 1);
        lib = dlopen((dir + "kelp_c32e64.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) return;
        solver = dlsym(lib, "dalo_kelp_solver_create") != nullptr;
        int_engine = dlsym(lib, "dalo_kelp_int_create") != nullptr;
        auto count = reinterpret_cast<int32_t (*)()>(dlsym(lib, "dalo_kelp_gpu_device_count"));
        devices = count != nullptr ? count() : 0;
    }
    template <class F>
    F* get(const char* name) const {
        return reinterpret_cast<F*>(dlsym(lib, name));
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
        // The device ("gpu", or "emulated" on the host) takes the plain quadratic Models.
        if (gpu.devices > 0 && round % 2 == 0) {
            EXPECT_NE(o["device"], "cpu");
        } else {
            EXPECT_EQ(o["device"], "cpu");
        }
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
    std::vector<dalo_var> ints;
    const ModelPtr mixed = dalo_test::mixed_model(rng, x, 3, ints);
    if (!gpu.int_engine) return;
    EXPECT_FATAL(dalo_kelp_wrapper_create(mixed.get(), 1),
                 "KELPSolver: GPU mode requested but the integer GPU engine is unavailable (no "
                 "CUDA device, or this kelp .so has no integer kernels).");
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

// ---- GPU entry points on an emulated device ----
//
// KELP_EMULATED_DEVICES makes the plug-in report a device where the runtime sees none; the
// GPU solver and the integer GPU engine then do their device work on the host, through the
// same entry points, so the wrapper's GPU paths run here.

class KelpEmulatedTest : public KelpPluginTest {
  protected:
    void SetUp() override {
        if (!gpu_.int_engine) GTEST_SKIP() << "plug-in built without the integer GPU engine";
        setenv("KELP_EMULATED_DEVICES", "1", 1);
    }
    void TearDown() override { unsetenv("KELP_EMULATED_DEVICES"); }
    GpuSide gpu_;
};

// The mixed Model with penalty shapes on integer bodies: abs (k = 1), relu (k = 2), a
// nonlinear range constraint and an allowed set.
ModelPtr shaped_mixed_model(std::mt19937_64& rng, dalo_var x, std::vector<dalo_var>& ints) {
    ints.clear();
    for (int k = 0; k < 2; ++k) {
        const int64_t lo = static_cast<int64_t>(rng() % 4) - 2;
        ints.push_back(dalo_new_int_var("k", lo, lo + 3 + static_cast<int64_t>(rng() % 3)));
    }
    std::vector<dalo_var> all(ints);
    for (uint32_t i = 0; i < 3; ++i) all.push_back(x + i);
    auto linear = [&](uint32_t terms) {
        ExprPtr e(dalo_expr_create_int(static_cast<int64_t>(rng() % 5) - 2));
        for (uint32_t t = 0; t < terms; ++t) {
            const dalo_var v = all[rng() % all.size()];
            dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 7) - 3, &v, 1);
        }
        return ExprPtr(dalo_expr_simplify_as_binary(e.get()));
    };
    ExprPtr e = linear(6);
    for (int t = 0; t < 6; ++t) {
        const dalo_var pair[2] = {all[rng() % all.size()], all[rng() % all.size()]};
        dalo_expr_iadd_raw_term(e.get(), static_cast<int64_t>(rng() % 9) - 4, pair, 2);
    }
    auto attach = [&](dalo_expr* c) {
        dalo_expr_iadd_expr(e.get(), c);
        dalo_expr_destroy(c);
    };
    attach(dalo_abs_term(linear(3).get(), 1));
    attach(dalo_relu_term(linear(3).get(), 2));
    ExprPtr nl = linear(2);
    const dalo_var prod[2] = {ints[0], x};
    dalo_expr_iadd_raw_term(nl.get(), 2, prod, 2);
    ExprPtr nl_body(dalo_expr_simplify_as_binary(nl.get()));
    dalo_expr* range = dalo_cons_between(nl_body.get(), -1, 2);
    dalo_expr_imul_int(range, 2);
    attach(range);
    const int64_t set_lo[2] = {-2, 2}, set_hi[2] = {-1, 2};
    attach(dalo_cons_equal(linear(3).get(), set_lo, set_hi, 2));
    ExprPtr s(dalo_expr_simplify_as_binary(e.get()));
    return ModelPtr(dalo_model_create(s.get()));
}

// One integer search through the wrapper in GPU mode `mode`.
Outcome kelp_int(const dalo_model* m, int32_t mode, std::vector<dalo_param> params,
                 Events* events = nullptr) {
    params.push_back({nullptr, nullptr});
    dalo_kelp_wrapper* w = dalo_kelp_wrapper_create(m, mode);
    if (events != nullptr) {
        events->model = m;
        dalo_kelp_wrapper_set_callback(w, record, events);
    }
    const auto t0 = Clock::now();
    dalo_solver_result* r = dalo_kelp_wrapper_search_int(w, params.data(), nullptr, nullptr, 0);
    Outcome out = finish(r, m, t0);
    dalo_kelp_wrapper_destroy(w);
    return out;
}

TEST_F(KelpEmulatedTest, IntegerGpuEngineReachesBruteForceOptima) {
    // The library verifies every state the engine reports improved against its own Sol
    // energy (a mismatch is fatal), so these searches also check the engine's energies. The
    // library's engine stops at the target only on a state without violations, so a short
    // time limit bounds the searches whose optimum violates a constraint.
    const dalo_var x = vars(4);
    std::mt19937_64 rng(123);
    for (uint32_t round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        std::vector<dalo_var> ints;
        const ModelPtr m =
            round % 2 ? dalo_test::mixed_model(rng, x, 6, ints) : shaped_mixed_model(rng, x, ints);
        if (round % 2 == 0) {
            ASSERT_EQ(dalo_model_has_penalty_shapes(m.get()), 1);
        }
        const int64_t best = dalo_test::mixed_optimum(m.get(), ints);
        const std::string target = std::to_string(best);
        Events ev;
        const Outcome o = kelp_int(
            m.get(), round < 2 ? 1 : -1,
            {{"target_energy", target.c_str()}, {"time_limit", "1"}, {"threads", "1"}}, &ev);
        EXPECT_EQ(o["engine"], "integer-cpu+gpu");
        EXPECT_EQ(o.energy, best);
        for (size_t i = 0; i < ev.kinds.size(); ++i) EXPECT_EQ(ev.energies[i], ev.recomputed[i]);
    }
}

TEST_F(KelpEmulatedTest, IntegerGpuEngineKeepsSubmittingUntilTheTimeLimit) {
    const dalo_var x = vars(4);
    std::mt19937_64 rng(7);
    std::vector<dalo_var> ints;
    const ModelPtr m = shaped_mixed_model(rng, x, ints);
    const int64_t best = dalo_test::mixed_optimum(m.get(), ints);
    setenv("DALO_KELP_INT_DEBUG", "1", 1);
    testing::internal::CaptureStderr();
    const Outcome o = kelp_int(m.get(), 1, {{"time_limit", "0.3"}, {"threads", "1"}});
    const std::string err = testing::internal::GetCapturedStderr();
    unsetenv("DALO_KELP_INT_DEBUG");
    EXPECT_EQ(o.energy, best);
    EXPECT_GE(o.seconds, 0.3);
    EXPECT_LT(o.seconds, 2.0);
    const size_t at = err.find("[kelp-int-gpu] rounds=");
    ASSERT_NE(at, std::string::npos) << err;
    const size_t sub = err.find(" submissions=", at);
    ASSERT_NE(sub, std::string::npos) << err;
    EXPECT_GT(std::stoull(err.substr(sub + 13)), 0u);
}

// The engine's entry points on a hand-made Model over x0, x1 (binary) and k in [-2, 3]:
//   3 + 2 x0 - 5 x1 + k - 3 x0 k + 4 |x0 + x1 + k outside [0, 1]| + (2k off {-4, 2})^2.
struct HandModel {
    static int64_t energy(int64_t x0, int64_t x1, int64_t k) {
        const int64_t b = x0 + x1 + k;
        const int64_t out = b < 0 ? -b : b > 1 ? b - 1 : 0;
        const int64_t s = 2 * k;
        const int64_t off = std::min(std::abs(s + 4), std::abs(s - 2));
        return 3 + 2 * x0 - 5 * x1 + k - 3 * x0 * k + 4 * out + off * off;
    }
    const int64_t lower[1] = {-2}, upper[1] = {3};
    const int64_t constant = 3;
    const uint64_t counts[2] = {3, 1};
    const uint32_t lin_vars[3] = {0, 1, 0x40000000u};
    const int32_t lin_coeffs[3] = {2, -5, 1};
    const uint32_t quad_vars[2] = {0, 0x40000000u};
    const int32_t quad_coeffs[1] = {-3};
    const uint32_t* vars[2] = {lin_vars, quad_vars};
    const int32_t* coeffs[2] = {lin_coeffs, quad_coeffs};
};

TEST_F(KelpEmulatedTest, IntegerGpuEngineRoundsReturnExactImprovedStatesAndTakeHints) {
    using Create = void*(uint32_t, uint64_t, const int64_t*, const int64_t*, uint32_t,
                         const int64_t*, const uint64_t*, const uint32_t* const*,
                         const int32_t* const*, uint32_t, uint32_t, uint32_t);
    using AddCons = void(void*, const int64_t*, const int64_t*, const int64_t*, const int64_t*,
                         uint64_t, const uint32_t*, const int32_t*, uint64_t, const uint64_t*,
                         const uint32_t*, const int32_t*, uint64_t, const int64_t*, const int64_t*);
    using Shape = void(void*, uint32_t, uint32_t);
    using Round = int32_t(void*, const uint64_t*, const int64_t*, uint32_t, uint64_t*, int64_t*,
                          int64_t*, uint8_t*);
    using Hint = void(void*, const uint64_t*, const int64_t*);
    using Destroy = void(void*);
    const HandModel h;
    void* e = gpu_.get<Create>("dalo_kelp_int_create")(2, 1, h.lower, h.upper, 2, &h.constant,
                                                       h.counts, h.vars, h.coeffs, 0, 64, 5);
    const int64_t w1 = 4, lo1 = 0, hi1 = 1, c1 = 0;
    const uint32_t body1[3] = {0, 1, 2};  // k is word nbin + 0
    const int32_t ones[3] = {1, 1, 1};
    gpu_.get<AddCons>("dalo_kelp_int_add_cons")(e, &w1, &lo1, &hi1, &c1, 3, body1, ones, 0, nullptr,
                                                nullptr, nullptr, 0, nullptr, nullptr);
    gpu_.get<Shape>("dalo_kelp_int_set_cons_shape")(e, 1, 0);
    const int64_t w2 = 1, lo2 = -4, hi2 = 2, c2 = 0, set_lo[2] = {-4, 2}, set_hi[2] = {-4, 2};
    const uint32_t body2[1] = {2};
    const int32_t two[1] = {2};
    gpu_.get<AddCons>("dalo_kelp_int_add_cons")(e, &w2, &lo2, &hi2, &c2, 1, body2, two, 0, nullptr,
                                                nullptr, nullptr, 2, set_lo, set_hi);
    int64_t optimum = INT64_MAX;
    for (int64_t s = 0; s < 24; ++s)
        optimum = std::min(optimum, HandModel::energy(s & 1, (s >> 1) & 1, s / 4 - 2));
    std::mt19937_64 rng(9);
    uint64_t bits[8], out_bits[8];
    int64_t ints[8], out_ints[8], energies[8];
    uint8_t improved[8];
    int64_t reached = INT64_MAX;
    for (int round = 0; round < 20; ++round) {
        for (int s = 0; s < 8; ++s) {
            bits[s] = rng() & 3;
            ints[s] = static_cast<int64_t>(rng() % 6) - 2;
        }
        const bool hinted = round == 10;
        // The hinted slot counts as improved whatever its outcome.
        const uint64_t hint_bits = 1;
        const int64_t hint_k = 3;
        if (hinted) gpu_.get<Hint>("dalo_kelp_int_hint")(e, &hint_bits, &hint_k);
        ASSERT_EQ(gpu_.get<Round>("dalo_kelp_int_round2")(e, bits, ints, 8, out_bits, out_ints,
                                                          energies, improved),
                  0);
        for (int s = 0; s < 8; ++s) {
            SCOPED_TRACE(s);
            ASSERT_LE(out_bits[s], 3u);
            ASSERT_GE(out_ints[s], -2);
            ASSERT_LE(out_ints[s], 3);
            const int64_t got = HandModel::energy(out_bits[s] & 1, out_bits[s] >> 1, out_ints[s]);
            EXPECT_EQ(energies[s], got);
            const int64_t start = hinted && s == 0
                                      ? HandModel::energy(1, 0, hint_k)
                                      : HandModel::energy(bits[s] & 1, bits[s] >> 1, ints[s]);
            EXPECT_LE(got, start);
            EXPECT_EQ(improved[s], (hinted && s == 0) || got < start ? 1 : 0);
            reached = std::min(reached, got);
        }
    }
    EXPECT_EQ(reached, optimum);
    gpu_.get<Destroy>("dalo_kelp_int_destroy")(e);
}

TEST_F(KelpEmulatedTest, GpuSolverListsHintsAndEventsOnTheHostTwin) {
    if (!gpu_.solver) GTEST_SKIP() << "plug-in built without the GPU solver";
    const dalo_var x = vars(10);
    std::mt19937_64 rng(64);
    for (uint32_t round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const ModelPtr m = dalo_test::random_qubo(rng, x, 9 + round, 4);
        const auto all = dalo_test::all_energies(m.get());
        dalo_kelp_wrapper* w = dalo_kelp_wrapper_create(m.get(), 1);
        auto search = [&](std::vector<dalo_param> params, const uint64_t* hint, Events* ev) {
            params.push_back({nullptr, nullptr});
            if (ev != nullptr) {
                ev->model = m.get();
                dalo_kelp_wrapper_set_callback(w, record, ev);
            }
            const auto t0 = Clock::now();
            return finish(dalo_kelp_wrapper_search(w, params.data(), hint), m.get(), t0);
        };
        // The exact top 6, distinct, and every optimal state.
        const Outcome top = search({{"topk_sols", "6"}, {"time_limit", "0.4"}}, nullptr, nullptr);
        EXPECT_EQ(top["device"], gpu_.devices > 0 ? "gpu" : "emulated");
        EXPECT_EQ(top["solver"], "gpu");
        ASSERT_EQ(top.list.size(), 6u);
        std::set<uint64_t> distinct;
        for (size_t i = 0; i < top.list.size(); ++i) {
            EXPECT_EQ(top.list[i].first, all[i].first) << i;
            distinct.insert(top.list[i].second);
        }
        EXPECT_EQ(distinct.size(), 6u);
        EXPECT_EQ(top.energy, all.front().first);
        std::set<uint64_t> want, got;
        for (const auto& [e, mask] : all) {
            if (e == all.front().first) want.insert(mask);
        }
        const Outcome optimal =
            search({{"best_energy_sols", "0"}, {"time_limit", "0.2"}}, nullptr, nullptr);
        for (const auto& [e, mask] : optimal.list) {
            EXPECT_EQ(e, all.front().first);
            got.insert(mask);
        }
        EXPECT_EQ(got, want);
        // A hint at an optimum meets the target before any device round.
        const uint64_t best_bits = all.front().second;
        const std::string target = std::to_string(all.front().first);
        Events ev;
        const Outcome hinted =
            search({{"target_energy", target.c_str()}, {"time_limit", "5"}}, &best_bits, &ev);
        EXPECT_EQ(hinted.energy, all.front().first);
        EXPECT_EQ(hinted["rounds"], "0");
        ASSERT_EQ(ev.kinds.size(), 1u);
        EXPECT_EQ(ev.energies[0], all.front().first);
        EXPECT_EQ(ev.recomputed[0], all.front().first);
        dalo_kelp_wrapper_destroy(w);
    }
}

}  // namespace
