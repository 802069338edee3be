// What only KELPSolver's plug-in does: the external stop, progress events, hints, and its GPU
// solver and integer GPU engine (KELP_EMULATED_DEVICES makes the plug-in report a device where
// the runtime sees none, so their device work runs on the host through the same entry points).
#include "support/suite.hpp"

#include "dalo_plugin.h"
#include "support/plugin_models.hpp"

namespace {

using namespace dalo_test;
using Clock = std::chrono::steady_clock;

class KelpEmulatedTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!gpu_.int_engine) GTEST_SKIP() << "plug-in built without the integer GPU engine";
        setenv("KELP_EMULATED_DEVICES", "1", 1);
    }
    void TearDown() override { unsetenv("KELP_EMULATED_DEVICES"); }
    GpuSide gpu_;
};

#ifdef __SANITIZE_THREAD__
constexpr double kStopLag = 0.5;  // instrumented atomics and locks slow every sweep
#else
constexpr double kStopLag = 0.05;
#endif

TEST(KelpPluginTest, TerminateFromAnotherThreadEndsTheSearchPromptly) {
    const dalo_var x = binaries(3000);
    std::mt19937_64 rng(12);
    const ModelPtr m = random_qubo(rng, x, 3000, 8);
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

TEST(KelpPluginTest, ProgressEventsCarryExactEnergies) {
    const dalo_var x = binaries(400);
    std::mt19937_64 rng(31);
    const ModelPtr m = random_qubo(rng, x, 400, 6);
    Events ev;
    const Outcome o =
        solve(Family::Kelp, m.get(),
              {{"time_limit", "0.4"}, {"timer_interval", "0.05"}, {"threads", "2"}}, nullptr, &ev);
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
    EXPECT_EQ(last_best, o.best.energy);
}

TEST(KelpPluginTest, HintsStartTheSearchAtTheGivenState) {
    const dalo_var x = binaries(300);
    std::mt19937_64 rng(41);
    const ModelPtr m = random_qubo(rng, x, 300, 8);
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
        if (way == 0) dalo_kelp_wrapper_hint(w, known);
        r = dalo_kelp_wrapper_search(w, p, way == 0 ? nullptr : dalo_sol_bits(known));
        const Outcome o = finish(r, m.get(), t0);
        EXPECT_LE(o.best.energy, reached) << way;
        // No work at all: the CPU search makes no sweep, the GPU solver (which serves mode 0
        // where the plug-in has one and a device is present) no round.
        EXPECT_EQ(o["solver"] == "gpu" && o["device"] != "cpu" ? o["rounds"] : o["sweeps"], "0")
            << way;
    }
    dalo_sol_destroy(known);
    dalo_kelp_wrapper_destroy(w);
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

// A plug-in entry point, with the type its header declares.
#define KELP_ENTRY(name) gpu_.get<decltype(name)>(#name)

TEST_F(KelpEmulatedTest, IntegerGpuEngineRoundsReturnExactImprovedStatesAndTakeHints) {
    const HandModel h;
    // Without a device (none emulated either) the rounds run on the host, with the same promises.
    for (const bool host : {false, true}) {
        SCOPED_TRACE(host ? "host" : "emulated");
        if (host) unsetenv("KELP_EMULATED_DEVICES");
        void* e = KELP_ENTRY(dalo_kelp_int_create)(2, 1, h.lower, h.upper, 2, &h.constant, h.counts,
                                                   h.vars, h.coeffs, 0, 64, 5);
        const int64_t w1 = 4, lo1 = 0, hi1 = 1, c1 = 0;
        const uint32_t body1[3] = {0, 1, 2};  // k is word nbin + 0
        const int32_t ones[3] = {1, 1, 1};
        auto* add_cons = KELP_ENTRY(dalo_kelp_int_add_cons);
        add_cons(e, &w1, &lo1, &hi1, &c1, 3, body1, ones, 0, nullptr, nullptr, nullptr, 0, nullptr,
                 nullptr);
        KELP_ENTRY(dalo_kelp_int_set_cons_shape)(e, 1, 0);
        const int64_t w2 = 1, lo2 = -4, hi2 = 2, c2 = 0, set_lo[2] = {-4, 2}, set_hi[2] = {-4, 2};
        const uint32_t body2[1] = {2};
        const int32_t two[1] = {2};
        add_cons(e, &w2, &lo2, &hi2, &c2, 1, body2, two, 0, nullptr, nullptr, nullptr, 2, set_lo,
                 set_hi);
        int64_t optimum = INT64_MAX;
        for (int64_t s = 0; s < 24; ++s)
            optimum = std::min(optimum, HandModel::energy(s & 1, (s >> 1) & 1, s / 4 - 2));
        std::mt19937_64 rng(9);
        uint64_t bits[8], out_bits[8];
        int64_t ints[8], out_ints[8], energies[8];
        uint8_t improved[8];
        int64_t reached = INT64_MAX;
        auto* round2 = KELP_ENTRY(dalo_kelp_int_round2);
        for (int round = 0; round < 20; ++round) {
            for (int s = 0; s < 8; ++s) {
                bits[s] = rng() & 3;
                ints[s] = static_cast<int64_t>(rng() % 6) - 2;
            }
            const bool hinted = round == 10;
            // The hinted slot counts as improved whatever its outcome.
            const uint64_t hint_bits = 1;
            const int64_t hint_k = 3;
            if (hinted) KELP_ENTRY(dalo_kelp_int_hint)(e, &hint_bits, &hint_k);
            ASSERT_EQ(round2(e, bits, ints, 8, out_bits, out_ints, energies, improved), 0);
            for (int s = 0; s < 8; ++s) {
                SCOPED_TRACE(s);
                ASSERT_LE(out_bits[s], 3u);
                ASSERT_GE(out_ints[s], -2);
                ASSERT_LE(out_ints[s], 3);
                const int64_t got =
                    HandModel::energy(out_bits[s] & 1, out_bits[s] >> 1, out_ints[s]);
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
        KELP_ENTRY(dalo_kelp_int_destroy)(e);
    }
}

TEST_F(KelpEmulatedTest, GpuSolverListsHintsAndEventsOnTheHostTwin) {
    if (!gpu_.solver) GTEST_SKIP() << "plug-in built without the GPU solver";
    const dalo_var x = binaries(10);
    std::mt19937_64 rng(64);
    for (uint32_t round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const ModelPtr m = random_qubo(rng, x, 9 + round, 4);
        const std::vector<Found> all = brute_force(m.get());
        dalo_kelp_wrapper* w = dalo_kelp_wrapper_create(m.get(), 1);
        auto search = [&](std::vector<dalo_param> params, const uint64_t* hint, Events* ev) {
            params.push_back({nullptr, nullptr});
            if (ev != nullptr) {
                ev->model = m.get();
                dalo_kelp_wrapper_set_callback(w, record_event, ev);
            }
            const auto t0 = Clock::now();
            return finish(dalo_kelp_wrapper_search(w, params.data(), hint), m.get(), t0);
        };
        // The exact top 6, distinct, and every optimal state.
        const Outcome top = search({{"topk_sols", "6"}, {"time_limit", "0.4"}}, nullptr, nullptr);
        EXPECT_EQ(top["device"], gpu_.devices > 0 ? "gpu" : "emulated");
        EXPECT_EQ(top["solver"], "gpu");
        const Outcome optimal =
            search({{"best_energy_sols", "0"}, {"time_limit", "0.2"}}, nullptr, nullptr);
        expect_top_and_optima(top, optimal, all, 6);
        // A hint at an optimum meets the target before any device round.
        const auto [optimum, best_bits] = all.front();
        const std::string target = std::to_string(optimum);
        Events ev;
        const Outcome hinted =
            search({{"target_energy", target.c_str()}, {"time_limit", "5"}}, &best_bits, &ev);
        EXPECT_EQ(hinted.best.energy, optimum);
        EXPECT_EQ(hinted["rounds"], "0");
        EXPECT_EQ(ev.energies, std::vector<int64_t>{optimum});
        EXPECT_EQ(ev.recomputed, std::vector<int64_t>{optimum});
        dalo_kelp_wrapper_destroy(w);
    }
}

}  // namespace
