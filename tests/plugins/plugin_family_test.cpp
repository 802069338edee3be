// Every solver plug-in beside the library against one description of its family: optima and
// lists against brute force over Sol energies with every constraint kind, time limits,
// refusals, seeds, thread counts and the integer engines.
#include "support/suite.hpp"

#include <bit>
#include <ostream>

#include "support/plugin_models.hpp"

namespace {

using namespace dalo_test;

using Info = std::vector<std::pair<std::string, std::string>>;
using Params = std::vector<dalo_param>;

struct FamilyCase {
    Family family;
    const char* name;
    bool exact;            // enumerates: lists as brute force orders them, ties by assignment
    bool seeded;           // takes a seed
    uint32_t time_vars;    // a Model that a short time limit cuts short
    double late;           // how far past the time limit a search may end
    uint64_t seed;         // of the random Models
    const char* work_key;  // the information pair that counts the work done
    // Information after a run cut by the time limit (with time_params): a value, ">N" for a
    // count above N, or "*" for any value.
    Info time_info;
    Params time_params = {};
    Params always = {};  // on every run: the search kind
};

void PrintTo(const FamilyCase& f, std::ostream* os) { *os << f.name; }

// BriskSolver held to one search kind: that kind finds the best and has all the time.
FamilyCase brisk_only(const char* name, const char* kind, uint64_t seed) {
    const bool annealing = std::string(kind) == "annealing";
    const char* share = annealing ? "1.000" : "0.000";
    const char* rest = annealing ? "0.000" : "1.000";
    const Info info{
        {"best_found_by", kind}, {"cpu_share_annealing", share}, {"cpu_share_breakout", rest}};
    FamilyCase f{Family::Brisk, name, false, true, 2000, 0.02, seed, "flips", info};
    f.always = {{"search", kind}};
    return f;
}

const FamilyCase kFamilies[] = {
    {Family::Brisk, "Brisk", false, true, 2000, 0.02, 77, "flips",
     Info{{"flips", ">0"}, {"moves_evaluated", ">0"}, {"restarts", "*"}, {"best_found_by", "*"}}},
    brisk_only("BriskAnnealing", "annealing", 77),
    brisk_only("BriskBreakout", "breakout", 79),
    {Family::Sweep, "Sweep", true, false, 40, 0.02, 2024, "states",
     Info{{"complete", "0"}, {"cut_short", "time_limit"}, {"states", ">65536"}}},
    {Family::Kelp, "Kelp", false, true, 400, 0.1, 78, "sweeps",
     Info{{"stopped", "0"}, {"moves", ">0"}, {"replicas", "4"}}, Params{{"replicas", "4"}}},
};

void expect_info(const Outcome& o, const Info& want) {
    for (const auto& [key, value] : want) {
        SCOPED_TRACE(key);
        ASSERT_NE(o[key], "<absent>");
        if (value[0] == '>') {
            EXPECT_GT(std::stoull(o[key]), std::stoull(value.substr(1)));
        } else if (value != "*") {
            EXPECT_EQ(o[key], value);
        }
    }
}

class PluginFamily : public testing::TestWithParam<FamilyCase> {
  protected:
    const FamilyCase& f = GetParam();
    Outcome run(const dalo_model* m, Params p) {
        p.insert(p.end(), f.always.begin(), f.always.end());
        return solve(f.family, m, std::move(p));
    }
};

TEST_P(PluginFamily, OptimaAndListsMatchBruteForceWithEveryConstraintKind) {
    const dalo_var x = binaries(12);
    std::mt19937_64 rng(f.seed);
    bool negated = false, remainder = false, shapes = false;
    for (uint32_t round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const uint32_t n = 3 + round % 10;
        const ModelPtr m = constrained_model(rng, x, n, f.exact);
        negated = negated || dalo_model_has_negated_literals(m.get()) == 1;
        remainder = remainder || dalo_model_has_remainder(m.get()) == 1;
        shapes = shapes || dalo_model_has_penalty_shapes(m.get()) == 1;
        ASSERT_GE(dalo_model_native_cons_count(m.get()), f.exact ? 8u : 7u);
        const std::vector<Found> all = brute_force(m.get());
        if (f.exact) {
            // The best, ties going to the smallest assignment; every state once; every optimum.
            const Outcome plain = run(m.get(), {});
            EXPECT_EQ(plain.best, all.front());
            EXPECT_TRUE(plain.list.empty());
            const Outcome top = run(m.get(), {{"topk_sols", "6"}, {"threads", "2"}});
            EXPECT_EQ(top.list, std::vector<Found>(all.begin(), all.begin() + 6));
            EXPECT_EQ(run(m.get(), {{"topk_sols", "100000"}}).list, all);
            EXPECT_EQ(run(m.get(), {{"best_energy_sols", "0"}}).list, optima_of(all));
            continue;
        }
        const std::string target = std::to_string(all.front().energy);
        Params p = {{"target_energy", target.c_str()}, {"time_limit", "10"}, {"threads", "2"}};
        if (f.seeded) p.push_back({"seed", "3"});
        const Outcome o = run(m.get(), p);
        EXPECT_EQ(o.best.energy, all.front().energy);
        EXPECT_LT(o.seconds, 8.0);
        // The objective alone, higher-order terms and no constraints.
        const ModelPtr free =
            build::model_of(build::binary(random_poly(rng, x, n, static_cast<int>(3 * n), 3)));
        const int64_t free_best = brute_force(free.get()).front().energy;
        const std::string free_target = std::to_string(free_best);
        p[0].value = free_target.c_str();
        EXPECT_EQ(run(free.get(), p).best.energy, free_best);
        if (n < 6 || n > 9) continue;
        // Small Models: the lists are the exact top 7, and every optimal state.
        const Outcome top = run(m.get(), {{"topk_sols", "7"}, {"time_limit", "0.2"}});
        const Outcome best = run(m.get(), {{"best_energy_sols", "0"}, {"time_limit", "0.2"}});
        expect_top_and_optima(top, best, all, 7);
        EXPECT_EQ(masks(best.list).size(), best.list.size());
        EXPECT_EQ(run(m.get(), {{"best_energy_sols", "1"}, {"time_limit", "0.1"}}).list.size(), 1u);
    }
    EXPECT_TRUE(negated && remainder && shapes);
}

TEST_P(PluginFamily, TimeLimitIsHonoured) {
    const dalo_var x = binaries(f.time_vars);
    std::mt19937_64 rng(11);
    const ModelPtr m = random_qubo(rng, x, f.time_vars, 8);
    // The wrapper's own measure of the plug-in call; a loaded machine may preempt the search
    // past the limit, so the upper bound gets three tries.
    for (const char* threads : {"1", "2"}) {
        SCOPED_TRACE(threads);
        double best_run_time = 1e9;
        for (int attempt = 0; attempt < 3 && best_run_time > 0.2 + f.late; ++attempt) {
            Params p = {{"time_limit", "0.2"}, {"threads", threads}};
            p.insert(p.end(), f.time_params.begin(), f.time_params.end());
            const Outcome o = run(m.get(), p);
            EXPECT_EQ(o["threads"], threads);
            expect_info(o, f.time_info);
            EXPECT_GE(std::stod(o["run_time"]), 0.2);
            best_run_time = std::min(best_run_time, std::stod(o["run_time"]));
        }
        EXPECT_LE(best_run_time, 0.2 + f.late);
    }
}

TEST_P(PluginFamily, ListsBeyondEnumerationAreSortedDistinctAndLedByTheBest) {
    const dalo_var x = binaries(40);
    std::mt19937_64 rng(5);
    const ModelPtr m = random_qubo(rng, x, 40, 6);
    const Outcome o = run(m.get(), {{"topk_sols", "20"}, {"time_limit", "0.1"}});
    ASSERT_EQ(o.list.size(), 20u);
    for (size_t i = 1; i < o.list.size(); ++i) EXPECT_LE(o.list[i - 1].energy, o.list[i].energy);
    EXPECT_EQ(masks(o.list).size(), o.list.size());
    EXPECT_EQ(o.list.front().energy, o.best.energy);
}

TEST_P(PluginFamily, SameInputOneThreadAndTargetGiveTheSameResult) {
    // Large enough that the target ends a search in the middle of a phase.
    const uint32_t n = std::min(300u, f.time_vars);
    const dalo_var x = binaries(n);
    std::mt19937_64 rng(8);
    const ModelPtr m = random_qubo(rng, x, n, 10);
    const Outcome first = run(m.get(), {{"time_limit", "0.2"}, {"threads", "2"}});
    const std::string target = std::to_string(first.best.energy + 20);
    Params p = {{"target_energy", target.c_str()}, {"threads", "1"}, {"time_limit", "5"}};
    // Other spellings each family takes: a negative seed, "False", an explicit CPU run.
    if (f.seeded) p.push_back({"seed", "-12345"});
    if (f.family == Family::Brisk) p.push_back({"enable_default_callback", "False"});
    if (f.family == Family::Kelp) p.push_back({"gpu", "0"});
    const Outcome a = run(m.get(), p);
    const Outcome b = run(m.get(), p);
    EXPECT_LE(a.best.energy, first.best.energy + 20);
    EXPECT_EQ(a.best, b.best);
    EXPECT_EQ(a[f.work_key], b[f.work_key]);
}

TEST_P(PluginFamily, SameAnswersForAnyThreadCount) {
    if (!f.exact) GTEST_SKIP() << "no promise across thread counts";
    const dalo_var x = binaries(18);
    std::mt19937_64 rng(7);
    const ModelPtr mixed = constrained_model(rng, x, 18, true);
    const ModelPtr ties = cardinality(x, 18, 4);
    for (const dalo_model* m : {mixed.get(), ties.get()}) {
        for (const char* list : {"topk_sols", "best_energy_sols"}) {
            const char* count = std::string(list) == "topk_sols" ? "40" : "25";
            const Outcome one = run(m, {{"threads", "1"}, {list, count}});
            EXPECT_EQ(one["states"], "262144");
            EXPECT_EQ(one["complete"], "1");
            ASSERT_FALSE(one.list.empty());
            EXPECT_EQ(one.best, one.list.front());
            for (const char* threads : {"2", "7"}) {
                SCOPED_TRACE(std::string(list) + " threads " + threads);
                const Outcome many = run(m, {{"threads", threads}, {list, count}});
                EXPECT_EQ(many["threads"], threads);
                EXPECT_EQ(many.best, one.best);
                EXPECT_EQ(many.list, one.list);
            }
        }
    }
    // The smallest of the C(18, 4) optima.
    EXPECT_EQ(run(ties.get(), {{"threads", "7"}}).best, (Found{0, 0b1111}));
}

INSTANTIATE_TEST_SUITE_P(Families, PluginFamily, testing::ValuesIn(kFamilies),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(PluginFamilies, OneHotGroupsThroughGroupMovesOrWithoutThem) {
    // Random couplings on a 4 x 4 grid with its rows declared one-hot, and its columns (an
    // assignment) or else all rows but the last (free variables beside the groups): weight 200
    // holds the groups (the same state twice with one thread and a seed), weight 1 does not (the
    // one-flip search takes over); every case reaches the enumerated minimum through BriskSolver
    // and KELPSolver's CPU search.
    using namespace dalo_test::build;
    const uint32_t side = 4;
    const dalo_var x = binaries(side * side);
    std::mt19937_64 rng(41);
    for (const Family f : {Family::Brisk, Family::Kelp}) {
        for (const bool columns : {true, false}) {
            for (const int64_t weight : {200, 1}) {
                ExprPtr e(dalo_expr_create());
                std::vector<int64_t> q(side * side * side * side, 0);
                for (uint32_t i = 0; i < side * side; ++i) {
                    for (uint32_t j = i + 1; j < side * side; ++j) {
                        q[i * side * side + j] = static_cast<int64_t>(rng() % 21) - 10;
                        add(e, q[i * side * side + j], {x + i, x + j});
                    }
                }
                for (uint32_t r = 0; r < side; ++r) {
                    ExprPtr row(dalo_expr_create()), col(dalo_expr_create());
                    for (uint32_t c = 0; c < side; ++c) {
                        dalo_expr_iadd_var(row.get(), x + r * side + c);
                        dalo_expr_iadd_var(col.get(), x + c * side + r);
                    }
                    if (columns || r + 1 < side)
                        attach(e.get(), dalo_cons_between(row.get(), 1, 1), weight);
                    if (columns) attach(e.get(), dalo_cons_between(col.get(), 1, 1), weight);
                }
                const ModelPtr m = model_of(binary(e));
                const std::vector<dalo_param> p = {
                    {"time_limit", "0.2"}, {"threads", "1"}, {"seed", "9"}};
                const Outcome a = solve(f, m.get(), p), b = solve(f, m.get(), p);
                const std::string at = std::to_string(static_cast<int>(f)) + " " +
                                       std::to_string(columns) + " " + std::to_string(weight);
                EXPECT_EQ(a.best.energy, all_energies(m.get()).front().first) << at;
                EXPECT_EQ(a["group_moves"], weight == 1 ? "none (weights too weak)"
                                            : columns   ? "exchange"
                                                        : "swap")
                    << at;
                EXPECT_EQ(a["one_hot_groups"], columns ? "8" : "3") << at;
                if (weight != 1) {
                    EXPECT_EQ(a.best.bits, b.best.bits) << at;
                }
                if (f == Family::Brisk) {
                    // The weight floor beats every one-flip neighbour of every feasible state.
                    auto objective = [&](uint32_t s) {
                        int64_t o = 0;
                        for (uint32_t k = 0; k < q.size(); ++k)
                            o += (s >> (k / 16) & 1) && (s >> (k % 16) & 1) ? q[k] : 0;
                        return o;
                    };
                    auto ones = [&](uint32_t s, uint32_t mask) { return std::popcount(s & mask); };
                    const int64_t floor = std::stoll(a["one_hot_weight_floor"]);
                    bool beats = true;
                    for (uint32_t s = 0; s < (1u << 16); ++s) {
                        bool feasible = true;
                        for (uint32_t r = 0; r < side; ++r) {
                            if (columns || r + 1 < side) feasible &= ones(s, 0xFu << 4 * r) == 1;
                            if (columns) feasible &= ones(s, 0x1111u << r) == 1;
                        }
                        for (uint32_t v = 0; feasible && v < 16; ++v) {
                            const int groups = (columns || v / side + 1 < side) + columns;
                            beats &= groups == 0 ||
                                     floor * groups > objective(s) - objective(s ^ (1u << v));
                        }
                    }
                    EXPECT_TRUE(beats) << at;
                    EXPECT_EQ(a["one_hot_weight_declared"], std::to_string(weight)) << at;
                    EXPECT_EQ(a["one_hot_weights"], weight == 1 ? "too weak" : "hold") << at;
                }
            }
        }
    }
}

// ---- parameter refusals ----

struct Refusal {
    Family family;
    const char* key;
    const char* value;
    std::string message;
};

const std::string kSweepKnown =
    " (known: time_limit, target_energy, threads, topk_sols, best_energy_sols, "
    "enable_default_callback)";

const Refusal kRefusals[] = {
    {Family::Brisk, "bogus", "1", "BriskSolver: unknown parameter 'bogus'"},
    {Family::Brisk, "target_energy", "1.5", "BriskSolver: invalid value '1.5' for 'target_energy'"},
    {Family::Brisk, "search", "tabu", "BriskSolver: invalid value 'tabu' for 'search'"},
    {Family::Brisk, "threads", "0", "BriskSolver: threads must be >= 1."},
    {Family::Brisk, "topk_sols", "0", "BriskSolver: topk_sols must be >= 1."},
    {Family::Kelp, "bogus", "1", "KELPSolver: unknown parameter 'bogus'"},
    {Family::Kelp, "time_limit", "soon", "KELPSolver: invalid value 'soon' for 'time_limit'"},
    {Family::Kelp, "threads", "0", "KELPSolver: invalid value '0' for 'threads'"},
    {Family::Kelp, "replicas", "1", "KELPSolver: invalid value '1' for 'replicas'"},
    {Family::Kelp, "gpu", "2", "KELPSolver: invalid value '2' for 'gpu'"},
    {Family::Sweep, "seed", "1", "SweepSolver: unknown parameter 'seed'" + kSweepKnown},
    {Family::Sweep, "threads", "0",
     "SweepSolver: parameter 'threads' must be a positive integer (got '0')"},
    {Family::Sweep, "topk_sols", "2x",
     "SweepSolver: parameter 'topk_sols' must be a positive integer (got '2x')"},
    {Family::Sweep, "time_limit", "-1",
     "SweepSolver: parameter 'time_limit' must be a positive number of seconds (got '-1')"},
    {Family::Sweep, "target_energy", "low",
     "SweepSolver: parameter 'target_energy' must be an integer (got 'low')"},
};

class PluginRefusalDeathTest : public testing::TestWithParam<Refusal> {};

TEST_P(PluginRefusalDeathTest, ExactMessage) {
    const Refusal& r = GetParam();
    const dalo_var x = binaries(4);
    std::mt19937_64 rng(1);
    const ModelPtr m = random_qubo(rng, x, 4, 2);
    Params p = {{r.key, r.value}};
    if (std::string(r.key) != "time_limit") p.push_back({"time_limit", "0.1"});
    EXPECT_FATAL(solve(r.family, m.get(), p), r.message);
}

std::string refusal_name(const testing::TestParamInfo<Refusal>& p) {
    const char* families[] = {"Brisk", "Sweep", "Kelp"};
    return families[static_cast<int>(p.param.family)] + std::string("_") + p.param.key;
}

INSTANTIATE_TEST_SUITE_P(Families, PluginRefusalDeathTest, testing::ValuesIn(kRefusals),
                         refusal_name);

// ---- integer engines against brute force ----

struct Engine {
    const char* name;
    Family family;
    const char* env;  // set for the search
    int32_t kelp_mode;
    const char* engine;
    const char* time_limit;
    bool shapes;  // takes penalty shapes on integer bodies (every other Model has them)
    // Of the Models: the seed and the ranges of the first three and the rest.
    uint64_t seed, spread_first, spread_last;
};

void PrintTo(const Engine& e, std::ostream* os) { *os << e.name; }

// The library's engine stops at the target only on a state without violations, so its time
// limits stay short.
const Engine kEngines[] = {
    {"BriskUnified", Family::Brisk, "DALO_INT_UNIFIED", 0, "integer-unified", "10", false, 99, 4,
     18},
    {"KelpUnified", Family::Kelp, "DALO_INT_UNIFIED", 0, "integer-unified", "10", false, 98, 4, 18},
    {"Library", Family::Brisk, nullptr, 0, "integer-cpu", "1", true, 99, 4, 18},
    {"KelpGpuEmulated", Family::Kelp, "KELP_EMULATED_DEVICES", 1, "integer-cpu+gpu", "1", true, 123,
     6, 6},
    {"KelpAnyEmulated", Family::Kelp, "KELP_EMULATED_DEVICES", -1, "integer-cpu+gpu", "1", true,
     123, 6, 6},
    {"SweepEnumeration", Family::Sweep, nullptr, 0, "integer-cpu", nullptr, true, 99, 4, 18},
};

class IntegerEngine : public testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        if (e.kelp_mode != 0 && !GpuSide().int_engine)
            GTEST_SKIP() << "plug-in built without the integer GPU engine";
        if (e.env != nullptr) setenv(e.env, "1", 1);
    }
    void TearDown() override {
        if (e.env != nullptr) unsetenv(e.env);
    }
    const Engine& e = GetParam();
};

TEST_P(IntegerEngine, ReachesBruteForceOptima) {
    const dalo_var x = binaries(4);
    std::mt19937_64 rng(e.seed);
    for (uint32_t round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        std::vector<dalo_var> ints;
        // A quadratic with capacity and allowed-set constraints, or penalty shapes on integer
        // bodies.
        const ModelPtr m =
            e.shapes && round % 2 == 0
                ? shaped_mixed_model(rng, x, ints)
                : mixed_model(rng, x, round < 3 ? e.spread_first : e.spread_last, ints);
        const int64_t best = mixed_optimum(m.get(), ints);
        const std::string target = std::to_string(best);
        Params p;
        if (e.time_limit != nullptr)
            p = {{"target_energy", target.c_str()},
                 {"time_limit", e.time_limit},
                 {"threads", e.kelp_mode != 0 ? "1" : "2"}};
        Events ev;
        const Outcome o = solve(e.family, m.get(), p, nullptr, &ev, e.kelp_mode);
        EXPECT_EQ(o["engine"], e.engine);
        EXPECT_EQ(o.best.energy, best);
        EXPECT_EQ(o.ints.size(), ints.size());
        EXPECT_LT(o.seconds, 8.0);
        // Events carry the integer values: their Sol energies are exact.
        for (size_t i = 0; i < ev.kinds.size(); ++i) EXPECT_EQ(ev.energies[i], ev.recomputed[i]);
        if (e.family == Family::Kelp && e.kelp_mode == 0) {
            ASSERT_FALSE(ev.kinds.empty());
            EXPECT_EQ(ev.energies.back(), best);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, IntegerEngine, testing::ValuesIn(kEngines),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
