// Binary simplification of 10,000,000 quadratic terms over 100,000 variables (about half of
// them duplicates to merge), next to a bare parallel block sort of the same term records
// with the same term order.
#include <benchmark/benchmark.h>

#include <boost/sort/block_indirect_sort/block_indirect_sort.hpp>

#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "dalo.h"

namespace {

constexpr uint64_t kTerms = 10'000'000;
constexpr uint32_t kVars = 100'000;

// The library's term record: coefficient, two inline slots, tail pointer.
struct Record {
    int32_t coeff;
    uint32_t slot0;
    uint32_t slot1;
    uint32_t* tail;
};
static_assert(sizeof(Record) == 24);

inline uint32_t sort_key(uint32_t v) { return (v << 1) | (v >> 31); }

// The simplification's term order, for records of degree 2.
inline bool record_less(const Record& a, const Record& b) {
    if (a.slot0 != b.slot0) return sort_key(a.slot0) < sort_key(b.slot0);
    return sort_key(a.slot1) < sort_key(b.slot1);
}

struct Input {
    std::vector<int32_t> coeffs;
    std::vector<uint32_t> degrees;
    std::vector<dalo_var> vars;
    dalo_expr* expr = nullptr;

    Input() {
        uint64_t n = kVars;
        dalo_var first = dalo_new_var_array("x", &n, 1);
        std::mt19937_64 rng(7);
        // Half the terms repeat a product already drawn (in either variable order).
        std::vector<std::pair<dalo_var, dalo_var>> pairs;
        pairs.reserve(kTerms);
        for (uint64_t k = 0; k < kTerms; ++k) {
            if (k % 2 == 1) {
                auto p = pairs[rng() % pairs.size()];
                if (rng() & 1) std::swap(p.first, p.second);
                pairs.push_back(p);
                continue;
            }
            dalo_var a = first + static_cast<dalo_var>(rng() % kVars);
            dalo_var b = first + static_cast<dalo_var>(rng() % kVars);
            while (b == a) b = first + static_cast<dalo_var>(rng() % kVars);
            pairs.emplace_back(a, b);
        }
        coeffs.resize(kTerms);
        degrees.assign(kTerms, 2);
        vars.resize(2 * kTerms);
        for (uint64_t k = 0; k < kTerms; ++k) {
            coeffs[k] = static_cast<int32_t>(rng() % 19) - 9;
            vars[2 * k] = pairs[k].first;
            vars[2 * k + 1] = pairs[k].second;
        }
        expr = dalo_expr_create_from_bulk(0, kTerms, coeffs.data(), degrees.data(), vars.data());
    }
};

Input& input() {
    static Input in;
    return in;
}

uint32_t threads() {
    const char* env = std::getenv("DALO_NUM_THREADS");
    int n = env ? std::atoi(env) : 0;
    return n > 0 ? static_cast<uint32_t>(n) : std::thread::hardware_concurrency();
}

void BM_SimplifyAsBinary(benchmark::State& state) {
    Input& in = input();
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        dalo_expr* r = dalo_expr_simplify_as_binary(in.expr);
        auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        state.counters["out_terms"] = static_cast<double>(dalo_expr_term_count(r));
        dalo_expr_destroy(r);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kTerms));
}

void BM_BareBlockIndirectSort(benchmark::State& state) {
    Input& in = input();
    std::vector<Record> base(kTerms);
    for (uint64_t k = 0; k < kTerms; ++k) {
        base[k] = Record{in.coeffs[k], in.vars[2 * k], in.vars[2 * k + 1], nullptr};
    }
    const uint32_t nthreads = threads();
    std::vector<Record> work(kTerms);
    for (auto _ : state) {
        std::copy(base.begin(), base.end(), work.begin());
        auto t0 = std::chrono::steady_clock::now();
        boost::sort::block_indirect_sort(work.begin(), work.end(), record_less, nthreads);
        auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kTerms));
}

}  // namespace

// Touches a few GiB once, so that memory the process gets later is already backed by the
// host: on virtual machines the first touch of guest memory costs far more than the writes.
struct WarmMemory {
    WarmMemory() {
        const size_t bytes = size_t{3} << 30;
        char* p = static_cast<char*>(std::malloc(bytes));
        if (p == nullptr) return;
        for (size_t i = 0; i < bytes; i += 4096) p[i] = 1;
        std::free(p);
    }
} warm_memory;

BENCHMARK(BM_SimplifyAsBinary)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareBlockIndirectSort)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
