// What only BriskSolver's plug-in does: restarts of its elite pool, hints, progress lines and
// the information of its unified integer engine.
#include "support/suite.hpp"

#include "support/plugin_models.hpp"

namespace {

using namespace dalo_test;
using namespace dalo_test::build;

TEST(BriskPlugin, MaxCutOfABipartiteGraphCutsEveryEdge) {
    // Max-Cut as minimisation (each edge w adds -w x_i - w x_j + 2 w x_i x_j, -w when cut) on
    // a random bipartite graph: the optimum cuts every edge. The search runs its whole time so
    // the elite pool fills and turns over on a Model unchanged by complementing every variable.
    const uint32_t n = 80;
    const dalo_var x = binaries(n);
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
            add(e, -w, {x + i});
            add(e, -w, {x + j});
            add(e, 2 * w, {x + i, x + j});
            total += w;
        }
    }
    const ModelPtr m = model_of(binary(e));
    const Outcome o =
        solve(Family::Brisk, m.get(), {{"time_limit", "0.8"}, {"threads", "2"}, {"seed", "4"}});
    EXPECT_EQ(o.best.energy, -total);
    EXPECT_GT(std::stoull(o["restarts"]), 16u);
}

TEST(BriskPlugin, HintAndProgressLines) {
    const dalo_var x = binaries(8);
    std::mt19937_64 rng(21);
    const ModelPtr m = constrained_model(rng, x, 8);
    const auto [optimum, hint] = all_energies(m.get()).front();
    const std::string target = std::to_string(optimum);
    // Started at an optimum, one thread reports it at once, and prints nothing when told so.
    std::vector<dalo_param> p = {
        {"target_energy", target.c_str()}, {"threads", "1"}, {"time_limit", "5"}};
    for (const char* off : {"0", "false"}) {
        std::vector<dalo_param> quiet = p;
        quiet.push_back({"enable_default_callback", off});
        Outcome o;
        EXPECT_EQ(stdout_of([&] { o = solve(Family::Brisk, m.get(), quiet, &hint); }), "") << off;
        EXPECT_EQ(o.best.energy, optimum);
        EXPECT_LT(o.seconds, 1.0);
    }
    p.insert(p.begin() + 1, {"enable_default_callback", "true"});
    const std::string lines = stdout_of([&] { solve(Family::Brisk, m.get(), p); });
    const std::string last = "Energy = " + target + "\n";
    ASSERT_GE(lines.size(), last.size());
    EXPECT_EQ(lines.substr(lines.size() - last.size()), last);
    EXPECT_EQ(lines.substr(0, 6), "TTS = ");
}

TEST(BriskPluginDeathTest, UnifiedIntegerEngineInformationAndRefusals) {
    setenv("DALO_INT_UNIFIED", "1", 1);
    const dalo_var k = dalo_new_int_var("k", -3, 40);
    const dalo_var x = binaries(2);
    // (k - 7)^2 + 3 x0 - 5 x0 x1: optimum -2 at k = 7, x0 = x1 = 1.
    ExprPtr e(dalo_expr_create_int(49));
    add(e, -14, {k});
    add(e, 1, {k, k});
    add(e, 3, {x});
    add(e, -5, {x, x + 1});
    const ModelPtr m = model_of(binary(e));
    const Outcome o =
        solve(Family::Brisk, m.get(), {{"threads", "1"}, {"seed", "9"}, {"time_limit", "0.05"}});
    EXPECT_EQ(o.best, (Found{-2, 3}));
    EXPECT_EQ(o.ints, std::vector<int64_t>{7});
    EXPECT_EQ(o["engine"], "integer-unified");
    EXPECT_EQ(o["threads"], "1");
    EXPECT_EQ(o["seed"], "9");
    EXPECT_NE(o["flips"], "<absent>");
    EXPECT_NE(o["restarts"], "<absent>");
    EXPECT_FATAL(solve(Family::Brisk, m.get(), {{"time_limit", "0.01"}, {"colour", "red"}}),
                 "BriskSolver: unknown parameter 'colour'");
    unsetenv("DALO_INT_UNIFIED");
}

}  // namespace
