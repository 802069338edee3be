// Substitution and evaluation of 1,000,000 quadratic terms over 2,000 variables. Half of the
// variables are replaced by two-term expressions, so about three terms in four expand (to
// 2.25 output terms per input term on average). A plain copy of the same expression is timed
// beside them for scale.
#include <benchmark/benchmark.h>

#include <chrono>
#include <random>
#include <vector>

#include "dalo.h"

namespace {

constexpr uint64_t kTerms = 1'000'000;
constexpr uint32_t kVars = 2'000;
constexpr uint32_t kReplaced = 1'000;

using Clock = std::chrono::steady_clock;

struct Input {
    dalo_expr* expr = nullptr;
    std::vector<dalo_var> vars;    // the replaced variables
    std::vector<dalo_expr*> repl;  // x_i -> 2 * x_(1000 + i) - x_(1000 + (i + 1) % 1000)
    std::vector<dalo_var> all;     // every variable, for evaluation
    std::vector<int64_t> values;

    Input() {
        uint64_t n = kVars;
        dalo_var first = dalo_new_var_array("x", &n, 1);
        std::mt19937_64 rng(11);
        std::vector<int32_t> coeffs(kTerms);
        std::vector<uint32_t> degrees(kTerms, 2);
        std::vector<dalo_var> ids(2 * kTerms);
        for (uint64_t k = 0; k < kTerms; ++k) {
            coeffs[k] = static_cast<int32_t>(rng() % 9) + 1;
            ids[2 * k] = first + static_cast<dalo_var>(rng() % kVars);
            ids[2 * k + 1] = first + static_cast<dalo_var>(rng() % kVars);
        }
        expr = dalo_expr_create_from_bulk(0, kTerms, coeffs.data(), degrees.data(), ids.data());
        for (uint32_t i = 0; i < kReplaced; ++i) {
            dalo_var a = first + kReplaced + i, b = first + kReplaced + (i + 1) % kReplaced;
            int32_t cs[2] = {2, -1};
            uint32_t ds[2] = {1, 1};
            dalo_var vs[2] = {a, b};
            vars.push_back(first + i);
            repl.push_back(dalo_expr_create_from_bulk(0, 2, cs, ds, vs));
        }
        for (uint32_t i = 0; i < kVars; ++i) {
            all.push_back(first + i);
            values.push_back(static_cast<int64_t>(rng() % 2));
        }
    }
};

Input& input() {
    static Input in;
    return in;
}

// Times only the operation; the result is destroyed outside the clock.
template <class Op>
void run_timed(benchmark::State& state, Op op) {
    for (auto _ : state) {
        auto t0 = Clock::now();
        dalo_expr* r = op();
        auto t1 = Clock::now();
        benchmark::DoNotOptimize(r);
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        dalo_expr_destroy(r);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kTerms));
}

void BM_Replace1M(benchmark::State& state) {
    Input& in = input();
    run_timed(state, [&] {
        return dalo_expr_replace(in.expr, in.vars.data(), in.repl.data(), in.vars.size());
    });
}

void BM_Clone1M(benchmark::State& state) {
    Input& in = input();
    run_timed(state, [&] { return dalo_expr_clone(in.expr); });
}

void BM_EvalMap1M(benchmark::State& state) {
    Input& in = input();
    for (auto _ : state) {
        int64_t v =
            dalo_expr_eval_map(in.expr, in.all.data(), in.values.data(), in.all.size(), nullptr);
        benchmark::DoNotOptimize(v);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kTerms));
}

}  // namespace

BENCHMARK(BM_Replace1M)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Clone1M)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EvalMap1M)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
