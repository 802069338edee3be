// einsum: a quadratic-assignment objective "ij,kl,ik,jl->" (flow, distance, two copies of the
// assignment matrix) for n = 30, i.e. 810,000 tuples into one expression (the split-sum mode
// with two or more threads), and a matrix-times-variables "ij,jk->ik" with 40,000 output
// elements (the output-parallel mode). Tuples per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "dalo.h"

namespace {

dalo_array_int* random_ints(std::vector<uint64_t> shape, uint32_t seed) {
    uint64_t n = 1;
    for (uint64_t e : shape) n *= e;
    std::mt19937 rng(seed);
    std::vector<int32_t> v(n);
    for (auto& x : v) x = static_cast<int32_t>(rng() % 10);
    return dalo_array_int_create_data(v.data(), shape.data(), shape.size());
}

void BM_EinsumQapN30(benchmark::State& state) {
    const uint64_t n = 30;
    dalo_array_int* flow = random_ints({n, n}, 1);
    dalo_array_int* dist = random_ints({n, n}, 2);
    uint64_t shape[2] = {n, n};
    dalo_array_var* x = dalo_array_var_create_unnamed(shape, 2);
    const uint32_t tags[4] = {DALO_EINSUM_INT, DALO_EINSUM_INT, DALO_EINSUM_VAR, DALO_EINSUM_VAR};
    const void* inputs[4] = {flow, dist, x, x};
    for (auto _ : state) {
        void* r = dalo_einsum("ij,kl,ik,jl->", 4, tags, inputs, 1, 0);
        benchmark::DoNotOptimize(r);
        dalo_array_expr_destroy(static_cast<dalo_array_expr*>(r));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n * n * n * n));
    dalo_array_int_destroy(flow);
    dalo_array_int_destroy(dist);
    dalo_array_var_destroy(x);
}
BENCHMARK(BM_EinsumQapN30)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EinsumMatVars(benchmark::State& state) {
    const uint64_t rows = 200, inner = 50, cols = 200;
    dalo_array_int* a = random_ints({rows, inner}, 3);
    uint64_t shape[2] = {inner, cols};
    dalo_array_var* x = dalo_array_var_create_unnamed(shape, 2);
    const uint32_t tags[2] = {DALO_EINSUM_INT, DALO_EINSUM_VAR};
    const void* inputs[2] = {a, x};
    for (auto _ : state) {
        void* r = dalo_einsum("ij,jk->ik", 2, tags, inputs, 1, 2);
        benchmark::DoNotOptimize(r);
        dalo_array_expr_destroy(static_cast<dalo_array_expr*>(r));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * rows * inner * cols));
    dalo_array_int_destroy(a);
    dalo_array_var_destroy(x);
}
BENCHMARK(BM_EinsumMatVars)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EinsumIntQapN30(benchmark::State& state) {
    const uint64_t n = 30;
    dalo_array_int* flow = random_ints({n, n}, 1);
    dalo_array_int* dist = random_ints({n, n}, 2);
    dalo_array_int* p = random_ints({n, n}, 4);
    const uint32_t tags[4] = {DALO_EINSUM_INT, DALO_EINSUM_INT, DALO_EINSUM_INT, DALO_EINSUM_INT};
    const void* inputs[4] = {flow, dist, p, p};
    for (auto _ : state) {
        void* r = dalo_einsum("ij,kl,ik,jl->", 4, tags, inputs, 0, 0);
        benchmark::DoNotOptimize(r);
        dalo_array_int_destroy(static_cast<dalo_array_int*>(r));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n * n * n * n));
    dalo_array_int_destroy(flow);
    dalo_array_int_destroy(dist);
    dalo_array_int_destroy(p);
}
BENCHMARK(BM_EinsumIntQapN30)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
