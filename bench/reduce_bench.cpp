// Reduction to quadratic form of 100,000 cubic terms over 1,000 variables, coefficients of
// both signs (so both rules run). Every iteration creates one auxiliary variable per term.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

#include "dalo.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kVars = 1000;
constexpr uint64_t kTerms = 100'000;

dalo_expr* cubic_terms() {
    std::mt19937 rng(12345);
    const dalo_var v = dalo_new_var_array("v", &kVars, 1);
    std::vector<int32_t> coeffs(kTerms);
    std::vector<uint32_t> degrees(kTerms, 3);
    std::vector<dalo_var> ids(3 * kTerms);
    for (uint64_t k = 0; k < kTerms; ++k) {
        const int32_t c = static_cast<int32_t>(rng() % 100) + 1;
        coeffs[k] = rng() % 2 == 0 ? c : -c;
        // Three distinct variables, so no term drops below degree 3 when simplified.
        const uint32_t i = rng() % kVars;
        const uint32_t j = (i + 1 + rng() % (kVars - 1)) % kVars;
        uint32_t l = rng() % kVars;
        while (l == i || l == j) l = rng() % kVars;
        ids[3 * k] = v + i;
        ids[3 * k + 1] = v + j;
        ids[3 * k + 2] = v + l;
    }
    return dalo_expr_create_from_bulk(0, kTerms, coeffs.data(), degrees.data(), ids.data());
}

void BM_ReduceCubic100k(benchmark::State& state) {
    dalo_expr* e = cubic_terms();
    for (auto _ : state) {
        auto t0 = Clock::now();
        dalo_expr* r = dalo_expr_reduce(e);
        auto t1 = Clock::now();
        benchmark::DoNotOptimize(r);
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        dalo_expr_destroy(r);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kTerms));
    dalo_expr_destroy(e);
}

}  // namespace

BENCHMARK(BM_ReduceCubic100k)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
