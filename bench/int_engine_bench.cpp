// The library's integer search engine through the BriskSolver wrapper, on 200-variable
// bounded knapsacks: item values to maximise, one capacity constraint (a quarter of the
// largest load) with a squared penalty. Instance 0 counts each item 0..3 times (every value
// tried), instance 1 0..30 times (power-of-two steps and prior jumps).
// BM_Proposals: proposals per second over one second. BM_TimeToOptimum: seconds until the
// exact optimum (found beforehand by dynamic programming over the total weight) is reached,
// over five seeds, with the optimum as target energy. These optima overfill the capacity a
// little, so the target does not end the search (that needs every constraint satisfied): each
// run lasts its 3-second limit and tts_s is the time of its best state. Both benchmarks run
// with the "threads" parameter at 1 and 2.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "dalo.h"

namespace {

constexpr uint64_t kItems = 200;

struct Shape {
    int64_t max_count;
    int64_t max_weight;  // weights 1..max_weight
    int64_t penalty_weight;
};
constexpr Shape kShapes[2] = {{3, 3, 4}, {30, 3, 1}};

struct Knapsack {
    dalo_model* model = nullptr;
    int64_t optimum = 0;

    explicit Knapsack(const Shape& s) {
        const dalo_var first = dalo_new_int_var_array("k", &kItems, 1, 0, s.max_count);
        std::mt19937_64 rng(20240611);
        std::vector<int64_t> value(kItems), weight(kItems);
        int64_t total = 0;
        for (uint64_t i = 0; i < kItems; ++i) {
            value[i] = 10 + static_cast<int64_t>(rng() % 91);
            weight[i] = 1 + static_cast<int64_t>(rng() % static_cast<uint64_t>(s.max_weight));
            total += weight[i] * s.max_count;
        }
        const int64_t capacity = total / 4;
        dalo_expr* obj = dalo_expr_create();
        dalo_expr* body = dalo_expr_create();
        for (uint64_t i = 0; i < kItems; ++i) {
            const dalo_var v = first + static_cast<dalo_var>(i);
            dalo_expr_iadd_raw_term(obj, -value[i], &v, 1);
            dalo_expr_iadd_raw_term(body, weight[i], &v, 1);
        }
        dalo_expr* cons = dalo_cons_between(body, 0, capacity);
        dalo_expr_imul_int(cons, s.penalty_weight);
        dalo_expr_iadd_expr(obj, cons);
        dalo_expr* simple = dalo_expr_simplify_as_binary(obj);
        model = dalo_model_create(simple);
        for (dalo_expr* e : {obj, body, cons, simple}) dalo_expr_destroy(e);

        // Largest value for each exact total weight, then the penalised minimum.
        constexpr int64_t kNone = std::numeric_limits<int64_t>::min();
        std::vector<int64_t> best(static_cast<size_t>(total) + 1, kNone), next;
        best[0] = 0;
        for (uint64_t i = 0; i < kItems; ++i) {
            next = best;
            for (int64_t t = 0; t <= total; ++t) {
                if (best[t] == kNone) continue;
                for (int64_t c = 1; c <= s.max_count && t + c * weight[i] <= total; ++c) {
                    int64_t& slot = next[t + c * weight[i]];
                    slot = std::max(slot, best[t] + c * value[i]);
                }
            }
            best.swap(next);
        }
        optimum = std::numeric_limits<int64_t>::max();
        for (int64_t t = 0; t <= total; ++t) {
            if (best[t] == kNone) continue;
            const int64_t over = std::max<int64_t>(0, t - capacity);
            optimum = std::min(optimum, -best[t] + s.penalty_weight * over * over);
        }
    }
};

Knapsack& knapsack(int64_t instance) {
    static Knapsack k0(kShapes[0]), k1(kShapes[1]);
    return instance == 0 ? k0 : k1;
}

std::string info(const dalo_solver_result* r, const std::string& key) {
    for (uint64_t i = 0; i < dalo_brisk_solver_result_info_count(r); ++i) {
        if (key == dalo_brisk_solver_result_info_key(r, i))
            return dalo_brisk_solver_result_info_value(r, i);
    }
    return "0";
}

// One search; the result is the caller's.
dalo_solver_result* run(const Knapsack& k,
                        const std::vector<std::pair<std::string, std::string>>& items) {
    std::vector<dalo_param> params;
    for (const auto& [key, value] : items) params.push_back({key.c_str(), value.c_str()});
    params.push_back({nullptr, nullptr});
    dalo_brisk_solver_wrapper* w = dalo_brisk_solver_wrapper_create(k.model);
    dalo_solver_result* r =
        dalo_brisk_solver_wrapper_search_int(w, params.data(), nullptr, nullptr, 0);
    dalo_brisk_solver_wrapper_destroy(w);
    return r;
}

void BM_Proposals(benchmark::State& state) {
    const Knapsack& k = knapsack(state.range(0));
    const std::string threads = std::to_string(state.range(1));
    double proposals = 0, seconds = 0;
    for (auto _ : state) {
        dalo_solver_result* r =
            run(k, {{"time_limit", "1.0"}, {"threads", threads}, {"seed", "1"}});
        proposals += std::stod(info(r, "proposals"));
        seconds += std::stod(info(r, "run_time"));
        dalo_brisk_solver_result_destroy(r);
    }
    state.counters["proposals_per_s"] = proposals / seconds;
}
BENCHMARK(BM_Proposals)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_TimeToOptimum(benchmark::State& state) {
    const Knapsack& k = knapsack(state.range(0));
    const std::string threads = std::to_string(state.range(1));
    const std::string target = std::to_string(k.optimum);
    double tts = 0, gap = 0;
    int reached = 0, runs = 0;
    for (auto _ : state) {
        dalo_solver_result* r = run(k, {{"time_limit", "3"},
                                        {"threads", threads},
                                        {"seed", std::to_string(++runs)},
                                        {"target_energy", target}});
        int64_t energy = 0;
        dalo_brisk_solver_result_energy(r, &energy);
        if (energy <= k.optimum) ++reached;
        gap += static_cast<double>(energy - k.optimum);
        tts += dalo_brisk_solver_result_tts(r);
        dalo_brisk_solver_result_destroy(r);
    }
    state.counters["tts_s"] = tts / runs;
    state.counters["reached"] = reached;
    state.counters["gap"] = gap / runs;
}
BENCHMARK(BM_TimeToOptimum)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
