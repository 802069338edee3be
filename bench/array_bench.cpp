// Element-wise array work: the sum of two 1,000,000-element expression arrays, and sums along
// each axis of a 1,000 x 1,000 variable array. Elements per second.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "dalo.h"

namespace {

constexpr uint64_t kElements = 1'000'000;
constexpr uint64_t kSide = 1'000;

struct Input {
    dalo_array_expr* a = nullptr;
    dalo_array_expr* b = nullptr;
    dalo_array_var* grid = nullptr;
    Input() {
        // a[i] = 3 + x_i, b[i] = 2 * x_i * y_i - 1: small expressions, as models build them.
        dalo_array_var* x = dalo_array_var_create_named("bx", &kElements, 1);
        dalo_array_var* y = dalo_array_var_create_named("by", &kElements, 1);
        a = dalo_array_var_add_int(x, 3);
        dalo_array_term* xy = dalo_array_var_mul_array_var(x, y);
        dalo_array_term_mul_eq_int(xy, 2);
        b = dalo_array_term_sub_int(xy, 1);
        const uint64_t shape[2] = {kSide, kSide};
        grid = dalo_array_var_create_named("bg", shape, 2);
        dalo_array_term_destroy(xy);
        dalo_array_var_destroy(x);
        dalo_array_var_destroy(y);
    }
};

Input& input() {
    static Input in;
    return in;
}

void BM_AddExprArrays(benchmark::State& state) {
    Input& in = input();
    for (auto _ : state) {
        dalo_array_expr* r = dalo_array_expr_add_array_expr(in.a, in.b);
        benchmark::DoNotOptimize(r);
        state.PauseTiming();
        dalo_array_expr_destroy(r);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kElements));
}

void BM_VectorSumAxis(benchmark::State& state) {
    Input& in = input();
    const auto axis = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        dalo_array_expr* r = dalo_array_var_vector_sum(in.grid, axis);
        benchmark::DoNotOptimize(r);
        state.PauseTiming();
        dalo_array_expr_destroy(r);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kSide * kSide));
}

}  // namespace

BENCHMARK(BM_AddExprArrays)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_VectorSumAxis)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
