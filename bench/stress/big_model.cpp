// Builds and compiles a Model of N distinct quadratic terms (default 100,000,000) and reports
// resident memory after each phase and the peak per term, next to the size of the term
// records the expression holds (24 bytes each). Usage: stress_big_model [terms]
// The expression is simplified in place and handed over to the Model.
// The terms are x_i x_(i+d) for d = 1..10 over N / 10 variables, fed in chunks through the
// bulk interface so the caller's buffers stay small; the Sol energy at the end is checked
// against the closed form of the chosen assignment.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "dalo.h"
#include "rss.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint64_t kSpan = 10;
constexpr uint64_t kChunk = 1 << 22;

double gib(uint64_t bytes) { return static_cast<double>(bytes) / (1 << 30); }

void phase(const char* name, Clock::time_point t0) {
    std::printf("%-22s %8.1f s   rss %6.2f GiB   peak %6.2f GiB\n", name,
                std::chrono::duration<double>(Clock::now() - t0).count(), gib(stress::rss_now()),
                gib(stress::rss_peak()));
    std::fflush(stdout);
}

// Coefficient of term k: small, non-zero, both signs.
int32_t coeff_of(uint64_t k) { return static_cast<int32_t>(k % 7) - 3 + (k % 7 >= 3 ? 1 : 0); }

}  // namespace

int main(int argc, char** argv) {
    const uint64_t terms = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100'000'000;
    const uint64_t vars = terms / kSpan;
    // More than 2 * kSpan variables keep the pairs distinct.
    if (vars <= 2 * kSpan || terms % kSpan != 0) {
        std::fprintf(stderr, "terms must be a multiple of %llu, more than %llu\n",
                     static_cast<unsigned long long>(kSpan),
                     static_cast<unsigned long long>(2 * kSpan * kSpan));
        return 2;
    }
    std::printf("%llu terms over %llu variables\n", static_cast<unsigned long long>(terms),
                static_cast<unsigned long long>(vars));
    const uint64_t base_rss = stress::rss_now();
    auto t0 = Clock::now();
    const dalo_var first = dalo_new_var_array("x", &vars, 1);
    phase("variables", t0);

    // Term k = d * vars + i (d from 0) joins x_i and x_((i + d + 1) mod vars).
    t0 = Clock::now();
    dalo_expr* raw = dalo_expr_create();
    std::vector<int32_t> coeffs;
    std::vector<uint32_t> degrees;
    std::vector<dalo_var> ids;
    for (uint64_t k0 = 0; k0 < terms; k0 += kChunk) {
        const uint64_t n = std::min(kChunk, terms - k0);
        coeffs.assign(n, 0);
        degrees.assign(n, 2);
        ids.assign(2 * n, 0);
        for (uint64_t j = 0; j < n; ++j) {
            const uint64_t k = k0 + j, i = k % vars, d = k / vars + 1;
            coeffs[j] = coeff_of(k);
            ids[2 * j] = first + static_cast<dalo_var>(i);
            ids[2 * j + 1] = first + static_cast<dalo_var>((i + d) % vars);
        }
        dalo_expr_iadd_terms_bulk(raw, 0, n, coeffs.data(), degrees.data(), ids.data());
    }
    std::vector<int32_t>().swap(coeffs);
    std::vector<uint32_t>().swap(degrees);
    std::vector<dalo_var>().swap(ids);
    phase("expression", t0);

    t0 = Clock::now();
    dalo_expr* e = raw;  // simplified in its own term array
    dalo_expr_simplify_as_binary_inplace(e);
    const uint64_t kept = dalo_expr_term_count(e);
    phase("simplified", t0);

    t0 = Clock::now();
    dalo_model* m = dalo_model_create_take(e);  // the expression's memory goes back as it is read
    phase("model", t0);
    const uint64_t model_bytes = stress::rss_now() - base_rss;

    // Every variable 1: the energy is the sum of all coefficients.
    t0 = Clock::now();
    dalo_sol* s = dalo_sol_create(m);
    for (uint32_t i = 0; i < dalo_model_var_count(m); ++i) dalo_sol_set(s, dalo_model_var(m, i), 1);
    int64_t energy = 0;
    dalo_sol_compute_energy(s, &energy);
    int64_t want = 0;
    for (uint64_t k = 0; k < terms; ++k) want += coeff_of(k);
    phase("sol energy", t0);

    const uint64_t peak = stress::rss_peak() - base_rss;
    std::printf("terms kept %llu; energy %lld (expected %lld) %s\n",
                static_cast<unsigned long long>(kept), static_cast<long long>(energy),
                static_cast<long long>(want), energy == want ? "ok" : "MISMATCH");
    std::printf(
        "peak %.1f bytes per term (term record 24 bytes, ratio %.2f); Model %.1f bytes per term\n",
        static_cast<double>(peak) / static_cast<double>(terms),
        static_cast<double>(peak) / static_cast<double>(terms) / 24.0,
        static_cast<double>(model_bytes) / static_cast<double>(terms));
    dalo_sol_destroy(s);
    dalo_model_destroy(m);
    return energy == want ? 0 : 1;
}
