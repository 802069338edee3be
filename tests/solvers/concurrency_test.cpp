// Several host threads at once on one shared Model: the three solver families load their
// plug-ins and search concurrently (each search itself multi-threaded) while other threads
// read the Model and evaluate Sols. Run under ThreadSanitizer by make tsan.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dalo.h"
#include "support/plugin_models.hpp"

namespace {

using dalo_test::ModelPtr;

int64_t best_of(dalo_solver_result* r, const dalo_model* m) {
    int64_t reported = 0;
    dalo_brisk_solver_result_energy(r, &reported);
    const int64_t again = dalo_test::recomputed(dalo_brisk_solver_result_to_sol(r, m), m);
    dalo_brisk_solver_result_destroy(r);
    EXPECT_EQ(reported, again);
    return reported;
}

TEST(Concurrent, SolverFamiliesShareOneModelAcrossHostThreads) {
    const uint64_t n = 12;
    const dalo_var x = dalo_new_var_array("x", &n, 1);
    std::mt19937_64 rng(31);
    const ModelPtr m = dalo_test::random_qubo(rng, x, static_cast<uint32_t>(n), 4);
    const int64_t optimum = dalo_test::all_energies(m.get()).front().first;

    std::vector<int64_t> found(4, 0);
    std::atomic<int64_t> reads{0};
    std::vector<std::thread> pool;
    pool.emplace_back([&] {
        const dalo_param p[] = {
            {"time_limit", "0.3"}, {"threads", "2"}, {"seed", "1"}, {nullptr, nullptr}};
        dalo_brisk_solver_wrapper* w = dalo_brisk_solver_wrapper_create(m.get());
        found[0] = best_of(dalo_brisk_solver_wrapper_search(w, p, nullptr), m.get());
        dalo_brisk_solver_wrapper_destroy(w);
    });
    pool.emplace_back([&] {
        const dalo_param p[] = {
            {"time_limit", "0.3"}, {"threads", "2"}, {"seed", "2"}, {nullptr, nullptr}};
        dalo_kelp_wrapper* w = dalo_kelp_wrapper_create(m.get(), -1);
        found[1] = best_of(dalo_kelp_wrapper_search(w, p, nullptr), m.get());
        dalo_kelp_wrapper_destroy(w);
    });
    pool.emplace_back([&] {
        const dalo_param p[] = {{"threads", "2"}, {nullptr, nullptr}};
        dalo_sweep_wrapper* w = dalo_sweep_wrapper_create(m.get());
        found[2] = best_of(dalo_sweep_wrapper_search(w, p), m.get());
        dalo_sweep_wrapper_destroy(w);
    });
    pool.emplace_back([&] {
        // A second BriskSolver wrapper on its own thread, racing the first for the plug-in.
        const dalo_param p[] = {
            {"time_limit", "0.3"}, {"threads", "1"}, {"seed", "3"}, {nullptr, nullptr}};
        dalo_brisk_solver_wrapper* w = dalo_brisk_solver_wrapper_create(m.get());
        found[3] = best_of(dalo_brisk_solver_wrapper_search(w, p, nullptr), m.get());
        dalo_brisk_solver_wrapper_destroy(w);
    });
    for (int t = 0; t < 2; ++t) {
        pool.emplace_back([&] {
            dalo_sol* s = dalo_sol_create(m.get());
            for (uint32_t k = 0; k < 200; ++k) {
                dalo_sol_flip(s, dalo_model_var(m.get(), k % n));
                const int64_t e = dalo_sol_compute_energy(s, nullptr);
                EXPECT_GE(e, optimum);
                reads += static_cast<int64_t>(dalo_model_term_count(m.get(), 2));
            }
            dalo_sol_destroy(s);
        });
    }
    for (std::thread& t : pool) t.join();
    for (int k = 0; k < 4; ++k) EXPECT_EQ(found[k], optimum) << "search " << k;
    EXPECT_EQ(reads.load(), 400 * static_cast<int64_t>(dalo_model_term_count(m.get(), 2)));
}

}  // namespace
