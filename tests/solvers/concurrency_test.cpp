// Several host threads at once on one shared Model: the three solver families load their
// plug-ins and search concurrently (each search itself multi-threaded) while other threads
// read the Model and evaluate Sols. Run under ThreadSanitizer by make tsan.
#include "support/suite.hpp"

#include "support/plugin_models.hpp"

namespace {

using namespace dalo_test;

TEST(Concurrent, SolverFamiliesShareOneModelAcrossHostThreads) {
    const uint64_t n = 12;
    const dalo_var x = dalo_new_var_array("x", &n, 1);
    std::mt19937_64 rng(31);
    const ModelPtr m = random_qubo(rng, x, static_cast<uint32_t>(n), 4);
    const int64_t optimum = all_energies(m.get()).front().first;

    std::vector<int64_t> found(4, 0);
    std::atomic<int64_t> reads{0};
    // Two BriskSolver searches race for its plug-in; every reported energy is checked.
    struct Run {
        Family family;
        const char* threads;
        const char* seed;
    };
    const Run runs[] = {{Family::Brisk, "2", "1"},
                        {Family::Kelp, "2", "2"},
                        {Family::Sweep, "2", nullptr},
                        {Family::Brisk, "1", "3"}};
    // Threads 4 and 5 read the Model and evaluate Sols meanwhile.
    on_threads(6, [&](int k) {
        if (k < 4) {
            std::vector<dalo_param> p = {{"threads", runs[k].threads}};
            if (runs[k].seed != nullptr)
                p.insert(p.end(), {{"time_limit", "0.3"}, {"seed", runs[k].seed}});
            found[k] = solve(runs[k].family, m.get(), p, nullptr, nullptr, -1).best.energy;
            return;
        }
        dalo_sol* s = dalo_sol_create(m.get());
        for (uint32_t i = 0; i < 200; ++i) {
            dalo_sol_flip(s, dalo_model_var(m.get(), i % n));
            EXPECT_GE(dalo_sol_compute_energy(s, nullptr), optimum);
            reads += static_cast<int64_t>(dalo_model_term_count(m.get(), 2));
        }
        dalo_sol_destroy(s);
    });
    for (int k = 0; k < 4; ++k) EXPECT_EQ(found[k], optimum) << "search " << k;
    EXPECT_EQ(reads.load(), 400 * static_cast<int64_t>(dalo_model_term_count(m.get(), 2)));
}

}  // namespace
