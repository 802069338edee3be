// Exact enumeration by the SweepSolver plug-in of a sparse quadratic Model with 30 variables
// (a ring plus one random chord per variable, about four couplings each): states evaluated
// per second with one and two threads. A second Model with 24 variables adds cubic terms
// and two native constraints (a cardinality range and an allowed-value set), the slower path.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "dalo.h"

namespace {

constexpr uint64_t kVars = 30;

dalo_model* sparse_model() {
    static dalo_model* model = [] {
        const dalo_var x = dalo_new_var_array("x", &kVars, 1);
        std::mt19937_64 rng(30);
        auto coeff = [&rng] { return static_cast<int64_t>(rng() % 41) - 20; };
        dalo_expr* e = dalo_expr_create();
        for (dalo_var i = 0; i < kVars; ++i) {
            const dalo_var v = x + i;
            dalo_expr_iadd_raw_term(e, coeff(), &v, 1);
            const dalo_var ring[2] = {v, x + (i + 1) % static_cast<dalo_var>(kVars)};
            dalo_expr_iadd_raw_term(e, coeff(), ring, 2);
            const dalo_var chord[2] = {v, x + static_cast<dalo_var>(rng() % kVars)};
            if (chord[1] != v) dalo_expr_iadd_raw_term(e, coeff(), chord, 2);
        }
        dalo_expr* s = dalo_expr_simplify_as_binary(e);
        dalo_model* m = dalo_model_create(s);
        dalo_expr_destroy(s);
        dalo_expr_destroy(e);
        return m;
    }();
    return model;
}

dalo_model* constrained_model() {
    static dalo_model* model = [] {
        constexpr uint64_t n = 24;
        const dalo_var x = dalo_new_var_array("y", &n, 1);
        std::mt19937_64 rng(24);
        auto coeff = [&rng] { return static_cast<int64_t>(rng() % 41) - 20; };
        dalo_expr* e = dalo_expr_create();
        dalo_expr* card = dalo_expr_create();
        dalo_expr* set = dalo_expr_create();
        for (dalo_var i = 0; i < n; ++i) {
            const dalo_var v = x + i;
            const dalo_var ring[2] = {v, x + (i + 1) % static_cast<dalo_var>(n)};
            dalo_expr_iadd_raw_term(e, coeff(), ring, 2);
            const dalo_var cubic[3] = {v, x + (i + 3) % static_cast<dalo_var>(n),
                                       x + (i + 7) % static_cast<dalo_var>(n)};
            if (i % 3 == 0) dalo_expr_iadd_raw_term(e, coeff(), cubic, 3);
            dalo_expr_iadd_raw_term(card, 1, &v, 1);
            if (i % 2 == 0)
                dalo_expr_iadd_raw_term(set, 1 + static_cast<int64_t>(rng() % 3), &v, 1);
        }
        const int64_t lo[2] = {5, 9}, hi[2] = {6, 9};
        dalo_expr* c1 = dalo_cons_between(card, 8, 12);
        dalo_expr* c2 = dalo_cons_equal(set, lo, hi, 2);
        dalo_expr_iadd_expr(e, c1);
        dalo_expr_iadd_expr(e, c2);
        dalo_expr* s = dalo_expr_simplify_as_binary(e);
        dalo_model* m = dalo_model_create(s);
        for (dalo_expr* d : {s, e, card, set, c1, c2}) dalo_expr_destroy(d);
        return m;
    }();
    return model;
}

uint64_t states_of(const dalo_solver_result* r) {
    for (uint64_t i = 0; i < dalo_brisk_solver_result_info_count(r); ++i) {
        if (std::strcmp(dalo_brisk_solver_result_info_key(r, i), "states") == 0)
            return std::strtoull(dalo_brisk_solver_result_info_value(r, i), nullptr, 10);
    }
    return 0;
}

void run(benchmark::State& state, dalo_model* model) {
    const std::string threads = std::to_string(state.range(0));
    const dalo_param params[] = {{"threads", threads.c_str()}, {nullptr, nullptr}};
    dalo_sweep_wrapper* w = dalo_sweep_wrapper_create(model);
    uint64_t states = 0;
    for (auto _ : state) {
        dalo_solver_result* r = dalo_sweep_wrapper_search(w, params);
        states += states_of(r);
        benchmark::DoNotOptimize(dalo_brisk_solver_result_energy(r, nullptr));
        dalo_brisk_solver_result_destroy(r);
    }
    state.SetItemsProcessed(static_cast<int64_t>(states));
    dalo_sweep_wrapper_destroy(w);
}

void BM_SweepSparse30(benchmark::State& state) { run(state, sparse_model()); }
void BM_SweepConstrained24(benchmark::State& state) { run(state, constrained_model()); }

}  // namespace

BENCHMARK(BM_SweepSparse30)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SweepConstrained24)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
