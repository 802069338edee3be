// Exact enumeration of a native integer Model with 24 bits of state (16 binary variables and
// two integer variables of 16 values each) and about ten terms per position: states visited
// per second, without and with native constraints.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dalo.h"

namespace {

constexpr uint64_t kBinaries = 16;
constexpr uint64_t kQuadratic = 90;  // 18 positions x 10 terms / 2 positions per term

struct Input {
    dalo_model* plain = nullptr;
    dalo_model* constrained = nullptr;
    Input() {
        const dalo_var x = dalo_new_var_array("x", &kBinaries, 1);
        const dalo_var k0 = dalo_new_int_var("k0", 0, 15), k1 = dalo_new_int_var("k1", -8, 7);
        std::vector<dalo_var> pos;
        for (dalo_var i = 0; i < kBinaries; ++i) pos.push_back(x + i);
        pos.push_back(k0);
        pos.push_back(k1);
        std::mt19937_64 rng(11);
        auto coeff = [&rng] { return static_cast<int64_t>(rng() % 21) - 10; };
        dalo_expr* e = dalo_expr_create();
        for (dalo_var v : pos) dalo_expr_iadd_raw_term(e, coeff(), &v, 1);
        for (uint64_t t = 0; t < kQuadratic; ++t) {
            dalo_var ab[2] = {pos[rng() % pos.size()], pos[rng() % pos.size()]};
            dalo_expr_iadd_raw_term(e, coeff(), ab, 2);
        }
        dalo_expr* obj = dalo_expr_simplify_as_binary(e);
        dalo_expr_destroy(e);
        plain = dalo_model_create(obj);

        // A cardinality range over half the binaries, a bound on the integer sum, and an
        // absolute-value shape.
        dalo_expr* card = dalo_expr_create();
        for (dalo_var i = 0; i < kBinaries / 2; ++i) dalo_expr_iadd_var(card, x + i);
        dalo_expr* c1 = dalo_cons_between(card, 2, 3);
        dalo_expr* sum = dalo_expr_create_add_var_var(k0, k1);
        dalo_expr* c2 = dalo_cons_between(sum, 0, 6);
        dalo_expr* diff = dalo_expr_create_add_var_int(k0, -3);
        dalo_expr_isub_var(diff, x + kBinaries - 1);
        dalo_expr* c3 = dalo_abs_term(diff, 1);
        dalo_expr_imul_int(c3, 4);
        dalo_expr_iadd_expr(obj, c1);
        dalo_expr_iadd_expr(obj, c2);
        dalo_expr_iadd_expr(obj, c3);
        constrained = dalo_model_create(obj);
        for (dalo_expr* p : {card, c1, sum, c2, diff, c3, obj}) dalo_expr_destroy(p);
    }
};

Input& input() {
    static Input in;
    return in;
}

uint64_t states_of(const dalo_solver_result* r) {
    for (uint64_t i = 0; i < dalo_brisk_solver_result_info_count(r); ++i) {
        if (std::strcmp(dalo_brisk_solver_result_info_key(r, i), "states") == 0)
            return std::strtoull(dalo_brisk_solver_result_info_value(r, i), nullptr, 10);
    }
    return 0;
}

void run(benchmark::State& state, dalo_model* m) {
    dalo_sweep_wrapper* w = dalo_sweep_wrapper_create(m);
    uint64_t states = 0;
    for (auto _ : state) {
        dalo_solver_result* r = dalo_sweep_wrapper_search(w, nullptr);
        states += states_of(r);
        benchmark::DoNotOptimize(dalo_brisk_solver_result_energy(r, nullptr));
        dalo_brisk_solver_result_destroy(r);
    }
    state.counters["states_per_second"] =
        benchmark::Counter(static_cast<double>(states), benchmark::Counter::kIsRate);
    dalo_sweep_wrapper_destroy(w);
}

void BM_SweepInt24(benchmark::State& state) { run(state, input().plain); }
void BM_SweepInt24Constrained(benchmark::State& state) { run(state, input().constrained); }

}  // namespace

BENCHMARK(BM_SweepInt24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SweepInt24Constrained)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
