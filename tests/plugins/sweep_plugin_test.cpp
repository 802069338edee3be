// What only SweepSolver's plug-in does: list limits in enumeration order, information pairs,
// its task split, progress lines, the target cut and the variable limit.
#include "support/suite.hpp"

#include "support/plugin_models.hpp"

namespace {

using namespace dalo_test;
using namespace dalo_test::build;

Outcome sweep(const dalo_model* m, std::vector<dalo_param> p = {}) {
    return solve(Family::Sweep, m, std::move(p));
}

TEST(SweepPlugin, BestEnergySolsListsTheSmallestOptimaUpToTheLimit) {
    // (x0 + ... + x7 - 3)^2: 56 optima of energy 0.
    const ModelPtr m = cardinality(binaries(8), 8, 3);
    std::vector<Found> optima = brute_force(m.get());
    optima.resize(56);
    ASSERT_EQ(optima.back().energy, 0);
    EXPECT_EQ(optima.front().bits, 0b111u);
    for (const char* limit : {"0", "all", "56", "57"})
        EXPECT_EQ(sweep(m.get(), {{"best_energy_sols", limit}}).list, optima) << limit;
    const Outcome ten = sweep(m.get(), {{"best_energy_sols", "10"}, {"threads", "3"}});
    EXPECT_EQ(ten.list, std::vector<Found>(optima.begin(), optima.begin() + 10));
    EXPECT_EQ(ten.best, optima.front());
    // With both asked for, the list holds the optima.
    EXPECT_EQ(sweep(m.get(), {{"best_energy_sols", "0"}, {"topk_sols", "2"}}).list, optima);
}

TEST(SweepPlugin, DefaultCallbackPrintsEachNewBest) {
    const dalo_var x = binaries(10);
    std::mt19937_64 rng(5);
    const ModelPtr m = random_qubo(rng, x, 10, 4);
    Outcome r;
    const std::vector<dalo_param> p = {{"enable_default_callback", "1"}, {"threads", "1"}};
    const std::string out = stdout_of([&] { r = sweep(m.get(), p); });
    std::vector<int64_t> energies;
    for (size_t at = 0; (at = out.find("Energy = ", at)) != std::string::npos;) {
        at += 9;
        energies.push_back(std::stoll(out.substr(at)));
    }
    ASSERT_FALSE(energies.empty());
    EXPECT_EQ(out.rfind("TTS = ", 0), 0u);
    EXPECT_EQ(energies.back(), r.best.energy);
    for (size_t i = 1; i < energies.size(); ++i) EXPECT_LT(energies[i], energies[i - 1]);
    EXPECT_EQ(stdout_of([&] { sweep(m.get(), {{"enable_default_callback", "0"}}); }), "");
}

TEST(SweepPluginDeathTest, RefusesTooManyVariables) {
    const dalo_var x = binaries(49);
    dalo_sweep_wrapper_destroy(dalo_sweep_wrapper_create(model_of(sum_of(x, 48)).get()));
    const ModelPtr over = model_of(sum_of(x, 49));
    EXPECT_FATAL(dalo_sweep_wrapper_create(over.get()),
                 "SweepSolver: 49 variables exceed the enumeration limit of 48 (2^48 states)");
}

}  // namespace
