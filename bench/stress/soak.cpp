// Repeated create/solve/destroy cycles; resident memory must stay flat. Each cycle registers
// fresh variables, builds a random quadratic objective with two declared constraints, compiles
// it, searches it with BriskSolver, KELPSolver (CPU) and, on a 14-variable part, SweepSolver,
// turns the results into Sols, checks their energies and releases everything (variables
// included, through dalo_var_reset). Usage: stress_soak [seconds] [plain] (default 3600;
// "plain" leaves the constraints out, which separates the constraint registries, kept for the
// life of the process, from everything else); prints one line per report interval and the
// resident-memory trend at the end.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "dalo.h"
#include "rss.hpp"

namespace {

using Clock = std::chrono::steady_clock;

dalo_expr* random_objective(std::mt19937_64& rng, dalo_var first, uint32_t n, uint32_t terms) {
    std::vector<int32_t> coeffs(terms);
    std::vector<uint32_t> degrees(terms, 2);
    std::vector<dalo_var> ids(2 * terms);
    for (uint32_t k = 0; k < terms; ++k) {
        coeffs[k] = static_cast<int32_t>(rng() % 21) - 10;
        ids[2 * k] = first + static_cast<dalo_var>(rng() % n);
        ids[2 * k + 1] = first + static_cast<dalo_var>(rng() % n);
    }
    return dalo_expr_create_from_bulk(0, terms, coeffs.data(), degrees.data(), ids.data());
}

void check(dalo_solver_result* r, const dalo_model* m, const char* who) {
    int64_t reported = 0;
    dalo_brisk_solver_result_energy(r, &reported);
    dalo_sol* s = dalo_brisk_solver_result_to_sol(r, m);
    int64_t again = 0;
    dalo_sol* c = dalo_sol_clone(s);
    dalo_sol_flip(c, dalo_model_var(m, 0));
    dalo_sol_flip(c, dalo_model_var(m, 0));
    dalo_sol_compute_energy(c, &again);
    if (again != reported) {
        std::fprintf(stderr, "%s: result energy %lld, recomputed %lld\n", who,
                     static_cast<long long>(reported), static_cast<long long>(again));
        std::exit(1);
    }
    dalo_sol_destroy(c);
    dalo_sol_destroy(s);
    dalo_brisk_solver_result_destroy(r);
}

bool g_with_constraints = true;

void cycle(std::mt19937_64& rng) {
    const uint64_t n = 120;
    const dalo_var first = dalo_new_var_array("s", &n, 1);
    dalo_expr* raw = random_objective(rng, first, static_cast<uint32_t>(n), 1500);
    dalo_expr* body = dalo_expr_create();
    for (uint32_t i = 0; i < 10; ++i) dalo_expr_iadd_var(body, first + i);
    if (g_with_constraints) {
        dalo_expr* c1 = dalo_cons_between(body, 2, 4);
        dalo_expr* c2 = dalo_abs_term(body, 2);
        dalo_expr_iadd_expr(raw, c1);
        dalo_expr_iadd_expr(raw, c2);
        dalo_expr_destroy(c2);
        dalo_expr_destroy(c1);
    }
    dalo_expr* e = dalo_expr_simplify_as_binary(raw);
    dalo_model* m = dalo_model_create(e);

    const dalo_param brisk_params[] = {
        {"time_limit", "0.05"}, {"threads", "2"}, {nullptr, nullptr}};
    dalo_brisk_solver_wrapper* b = dalo_brisk_solver_wrapper_create(m);
    check(dalo_brisk_solver_wrapper_search(b, brisk_params, nullptr), m, "BriskSolver");
    dalo_brisk_solver_wrapper_destroy(b);

    const dalo_param kelp_params[] = {{"time_limit", "0.05"}, {"threads", "2"}, {nullptr, nullptr}};
    dalo_kelp_wrapper* k = dalo_kelp_wrapper_create(m, -1);
    check(dalo_kelp_wrapper_search(k, kelp_params, nullptr), m, "KELPSolver");
    dalo_kelp_wrapper_destroy(k);

    dalo_expr* small_raw = random_objective(rng, first, 14, 60);
    dalo_expr* small = dalo_expr_simplify_as_binary(small_raw);
    dalo_model* sm = dalo_model_create(small);
    const dalo_param sweep_params[] = {{"topk_sols", "4"}, {nullptr, nullptr}};
    dalo_sweep_wrapper* w = dalo_sweep_wrapper_create(sm);
    check(dalo_sweep_wrapper_search(w, sweep_params), sm, "SweepSolver");
    dalo_sweep_wrapper_destroy(w);

    dalo_model_destroy(sm);
    dalo_expr_destroy(small);
    dalo_expr_destroy(small_raw);
    dalo_model_destroy(m);
    dalo_expr_destroy(e);
    dalo_expr_destroy(body);
    dalo_expr_destroy(raw);
    dalo_var_reset();
}

double mib(uint64_t b) { return static_cast<double>(b) / (1 << 20); }

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::strtod(argv[1], nullptr) : 3600.0;
    g_with_constraints = !(argc > 2 && std::string(argv[2]) == "plain");
    const double interval = seconds >= 600 ? 60.0 : seconds / 10;
    std::mt19937_64 rng(7);
    const auto t0 = Clock::now();
    std::vector<double> samples;  // resident MiB at each report
    uint64_t cycles = 0;
    double next = interval;
    for (;;) {
        cycle(rng);
        ++cycles;
        const double t = std::chrono::duration<double>(Clock::now() - t0).count();
        if (t >= next || t >= seconds) {
            samples.push_back(mib(stress::rss_now()));
            std::printf("%8.0f s  %8llu cycles  rss %8.1f MiB\n", t,
                        static_cast<unsigned long long>(cycles), samples.back());
            std::fflush(stdout);
            next += interval;
        }
        if (t >= seconds) break;
    }
    // Trend: the later half's mean against the earlier half's (the first sample is warm-up).
    if (samples.size() >= 4) {
        const size_t h = samples.size() / 2;
        double a = 0, b = 0;
        for (size_t i = 1; i < h; ++i) a += samples[i];
        for (size_t i = h; i < samples.size(); ++i) b += samples[i];
        a /= static_cast<double>(h - 1);
        b /= static_cast<double>(samples.size() - h);
        std::printf("rss: earlier half %.1f MiB, later half %.1f MiB, growth %.2f MiB (%.3f%%)\n",
                    a, b, b - a, 100.0 * (b - a) / a);
    }
    return 0;
}
