// Compilation of a binary-simplified expression of 10,000,000 quadratic terms over 1,000,000
// registered variables, next to one sequential read-and-write pass over the same term
// records (read each 24-byte record, write its two variable words and its coefficient, as
// the flat arrays hold them), and the energy of a Sol over that Model.
// DALO_MODEL_PROFILE=1 prints the per-phase times.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "dalo.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kTerms = 10'000'000;
constexpr uint64_t kVars = 1'000'000;

struct Record {
    int32_t coeff;
    uint32_t slot0;
    uint32_t slot1;
    uint32_t* tail;
};

struct Input {
    dalo_expr* expr = nullptr;
    uint64_t terms = 0;
    Input() {
        dalo_var first = dalo_new_var_array("x", &kVars, 1);
        std::mt19937_64 rng(5);
        std::vector<int32_t> coeffs(kTerms);
        std::vector<uint32_t> degrees(kTerms, 2);
        std::vector<dalo_var> ids(2 * kTerms);
        for (uint64_t k = 0; k < kTerms; ++k) {
            coeffs[k] = static_cast<int32_t>(rng() % 19) - 9;
            if (coeffs[k] == 0) coeffs[k] = 1;
            dalo_var a = first + static_cast<dalo_var>(rng() % kVars), b = a;
            while (b == a) b = first + static_cast<dalo_var>(rng() % kVars);
            ids[2 * k] = a;
            ids[2 * k + 1] = b;
        }
        dalo_expr* raw =
            dalo_expr_create_from_bulk(0, kTerms, coeffs.data(), degrees.data(), ids.data());
        expr = dalo_expr_simplify_as_binary(raw);
        dalo_expr_destroy(raw);
        terms = dalo_expr_term_count(expr);
    }
};

Input& input() {
    static Input in;
    return in;
}

void BM_Compile(benchmark::State& state) {
    Input& in = input();
    for (auto _ : state) {
        auto t0 = Clock::now();
        dalo_model* m = dalo_model_create(in.expr);
        auto t1 = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        dalo_model_destroy(m);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.terms));
}

// The tail records of the simplified expression start at term 1 and are contiguous.
void BM_SequentialPass(benchmark::State& state) {
    Input& in = input();
    const uint64_t n = in.terms - 1;
    const auto* rec = reinterpret_cast<const Record*>(dalo_expr_term_at(in.expr, 1));
    std::vector<uint32_t> vars(2 * n);
    std::vector<int32_t> coeffs(n);
    for (auto _ : state) {
        auto t0 = Clock::now();
        uint32_t* v = vars.data();
        int32_t* c = coeffs.data();
        for (uint64_t i = 0; i < n; ++i) {
            c[i] = rec[i].coeff;
            v[2 * i] = rec[i].slot0;
            v[2 * i + 1] = rec[i].slot1;
        }
        benchmark::ClobberMemory();
        auto t1 = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_SolEnergy(benchmark::State& state) {
    Input& in = input();
    dalo_model* m = dalo_model_create(in.expr);
    dalo_sol* s = dalo_sol_create(m);
    for (uint32_t i = 0; i < dalo_model_var_count(m); i += 2)
        dalo_sol_set(s, dalo_model_var(m, i), 1);
    for (auto _ : state) {
        dalo_sol_flip(s, dalo_model_var(m, 0));
        int64_t e = 0;
        dalo_sol_compute_energy(s, &e);
        benchmark::DoNotOptimize(e);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.terms));
    dalo_sol_destroy(s);
    dalo_model_destroy(m);
}

}  // namespace

BENCHMARK(BM_Compile)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SequentialPass)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SolEnergy)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
