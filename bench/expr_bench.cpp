// Memory-bound expression builders against a plain memset of the bytes they write.
//
// Each operation writes one 24-byte term record per output term into a freshly allocated
// array. The memset rows write the same number of bytes into a buffer touched before (warm)
// and into a fresh allocation with the library's huge-page advice (fresh: the page faults
// and kernel zeroing that any new array of that size costs).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/mman.h>

#include "dalo.h"

namespace {

constexpr uint64_t kTermBytes = 24;

using Clock = std::chrono::steady_clock;

dalo_expr* linear(uint64_t n, dalo_var first) {
    dalo_expr* e = dalo_expr_create();
    for (uint64_t i = 0; i < n; ++i) {
        dalo_var v = first + static_cast<dalo_var>(i);
        dalo_expr_iadd_raw_term(e, static_cast<int64_t>(i % 7) + 1, &v, 1);
    }
    return e;
}

dalo_var vars(uint64_t n) { return dalo_new_var_array("v", &n, 1); }

// Times only the operation; the result is destroyed outside the clock.
template <class Op>
void run_timed(benchmark::State& state, uint64_t terms, Op op) {
    for (auto _ : state) {
        auto t0 = Clock::now();
        dalo_expr* r = op();
        auto t1 = Clock::now();
        benchmark::DoNotOptimize(r);
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        dalo_expr_destroy(r);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * terms));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * terms * kTermBytes));
}

void BM_Product3000x3000(benchmark::State& state) {
    dalo_var v = vars(6000);
    dalo_expr* a = linear(3000, v);
    dalo_expr* b = linear(3000, v + 3000);
    run_timed(state, 3000ull * 3000ull, [&] { return dalo_expr_mul_expr(a, b); });
    dalo_expr_destroy(a);
    dalo_expr_destroy(b);
}

void BM_Square4000(benchmark::State& state) {
    dalo_expr* a = linear(4000, vars(4000));
    const uint64_t terms = 4000ull + 4000ull * 3999ull / 2;
    run_timed(state, terms, [&] { return dalo_expr_sqr(a); });
    dalo_expr_destroy(a);
}

void BM_Bulk10M(benchmark::State& state) {
    const uint64_t n = 10'000'000;
    dalo_var v = vars(5000);
    std::vector<int32_t> coeffs(n);
    std::vector<uint32_t> degrees(n, 2);
    std::vector<dalo_var> ids(2 * n);
    for (uint64_t k = 0; k < n; ++k) {
        coeffs[k] = static_cast<int32_t>(k % 13) - 6;
        ids[2 * k] = v + static_cast<dalo_var>(k % 5000);
        ids[2 * k + 1] = v + static_cast<dalo_var>((k * 7 + 1) % 5000);
    }
    run_timed(state, n, [&] {
        return dalo_expr_create_from_bulk(0, n, coeffs.data(), degrees.data(), ids.data());
    });
}

void memset_fresh(benchmark::State& state, uint64_t terms) {
    const uint64_t bytes = terms * kTermBytes;
    for (auto _ : state) {
        auto t0 = Clock::now();
        void* p = std::malloc(bytes);
#ifdef MADV_HUGEPAGE
        const uintptr_t huge = uintptr_t{2} << 20;
        uintptr_t b = (reinterpret_cast<uintptr_t>(p) + huge - 1) & ~(huge - 1);
        uintptr_t e = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(huge - 1);
        if (e > b) madvise(reinterpret_cast<void*>(b), e - b, MADV_HUGEPAGE);
#endif
        std::memset(p, 1, bytes);
        benchmark::DoNotOptimize(p);
        benchmark::ClobberMemory();
        auto t1 = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        std::free(p);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * terms));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void memset_warm(benchmark::State& state, uint64_t terms) {
    const uint64_t bytes = terms * kTermBytes;
    std::vector<char> buf(bytes, 0);
    for (auto _ : state) {
        std::memset(buf.data(), 1, bytes);
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * terms));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_MemsetFresh_Product(benchmark::State& s) { memset_fresh(s, 9'000'000); }
void BM_MemsetFresh_Square(benchmark::State& s) {
    memset_fresh(s, 4000ull + 4000ull * 3999ull / 2);
}
void BM_MemsetFresh_Bulk(benchmark::State& s) { memset_fresh(s, 10'000'000); }
void BM_MemsetWarm_Product(benchmark::State& s) { memset_warm(s, 9'000'000); }
void BM_MemsetWarm_Square(benchmark::State& s) { memset_warm(s, 4000ull + 4000ull * 3999ull / 2); }
void BM_MemsetWarm_Bulk(benchmark::State& s) { memset_warm(s, 10'000'000); }

}  // namespace

BENCHMARK(BM_Product3000x3000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemsetFresh_Product)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemsetWarm_Product)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Square4000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemsetFresh_Square)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemsetWarm_Square)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bulk10M)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemsetFresh_Bulk)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemsetWarm_Bulk)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
