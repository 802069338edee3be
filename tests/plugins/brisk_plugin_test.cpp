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

TEST(BriskPlugin, OneHotAssignmentThroughGroupMovesOrWithoutThem) {
    // A 4 x 4 assignment with random couplings, rows and columns declared one-hot: weight 200
    // holds the groups (exchanges, the same state twice with one thread and a seed), weight 1
    // does not (the one-flip search takes over); both reach the enumerated minimum. The
    // reported weight floor is at least what the permutations and their one-flip neighbours
    // need.
    const uint32_t side = 4;
    const dalo_var x = binaries(side * side);
    std::mt19937_64 rng(41);
    for (const int64_t weight : {200, 1}) {
        ExprPtr e(dalo_expr_create());
        std::vector<int64_t> q(side * side * side * side, 0);
        for (uint32_t i = 0; i < side * side; ++i) {
            for (uint32_t j = i + 1; j < side * side; ++j) {
                q[i * side * side + j] = static_cast<int64_t>(rng() % 21) - 10;
                add(e, q[i * side * side + j], {x + i, x + j});
            }
        }
        auto objective = [&](uint32_t s) {
            int64_t o = 0;
            for (uint32_t k = 0; k < q.size(); ++k)
                o += (s >> (k / (side * side)) & 1) && (s >> (k % (side * side)) & 1) ? q[k] : 0;
            return o;
        };
        int64_t most = 0;  // the largest gain of one flip away from a permutation
        std::vector<uint32_t> perm = {0, 1, 2, 3};
        do {
            uint32_t s = 0;
            for (uint32_t r = 0; r < side; ++r) s |= 1u << (r * side + perm[r]);
            for (uint32_t v = 0; v < side * side; ++v)
                most = std::max(most, objective(s) - objective(s ^ (1u << v)));
        } while (std::next_permutation(perm.begin(), perm.end()));
        for (uint32_t r = 0; r < side; ++r) {
            ExprPtr row(dalo_expr_create()), col(dalo_expr_create());
            for (uint32_t c = 0; c < side; ++c) {
                dalo_expr_iadd_var(row.get(), x + r * side + c);
                dalo_expr_iadd_var(col.get(), x + c * side + r);
            }
            attach(e.get(), dalo_cons_between(row.get(), 1, 1), weight);
            attach(e.get(), dalo_cons_between(col.get(), 1, 1), weight);
        }
        const ModelPtr m = model_of(binary(e));
        const std::vector<dalo_param> p = {{"time_limit", "0.2"}, {"threads", "1"}, {"seed", "9"}};
        const Outcome a = solve(Family::Brisk, m.get(), p), b = solve(Family::Brisk, m.get(), p);
        EXPECT_EQ(a.best.energy, all_energies(m.get()).front().first) << weight;
        EXPECT_EQ(a["group_moves"], weight == 1 ? "none (weights too weak)" : "exchange");
        EXPECT_EQ(a["one_hot_groups"], "8");
        EXPECT_GT(2 * std::stoll(a["one_hot_weight_floor"]), most);
        EXPECT_EQ(a["one_hot_weight_declared"], std::to_string(weight));
        EXPECT_EQ(a["one_hot_weights"], weight == 1 ? "too weak" : "hold");
        if (weight != 1) {
            EXPECT_EQ(a.best.bits, b.best.bits);
        }
    }
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
