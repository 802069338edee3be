// Thread budget, size-based thread cap, the process-wide worker pool and parallel-for.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>

namespace dalo {

// Below this many items work stays on the calling thread.
inline constexpr uint64_t kSerialLimit = 9'999;

// Value of a DALO_NUM_THREADS text: the leading decimal integer when it is greater than 0,
// otherwise 0 (meaning "use the hardware concurrency").
uint32_t parse_thread_count(const char* text);

// Threads the library may use in total; read once from DALO_NUM_THREADS.
uint32_t thread_budget();

// Threads for one region of work size w under a given budget, and under the process budget.
uint32_t thread_cap_for(uint32_t budget, uint64_t w);
uint32_t thread_cap(uint64_t w);

// Persistent pool workers for a budget: budget - 1, at most 7.
uint32_t pool_worker_count(uint32_t budget);

// How one parallel-for region of n items and work size w is split.
struct RegionPlan {
    uint32_t threads = 1;        // participants, caller included; 1 = serial
    uint64_t chunks = 0;         // chunks pulled from the shared counter
    uint64_t chunk_size = 0;     // items per chunk (the last may hold fewer)
    uint32_t extra_threads = 0;  // short-lived threads beyond the pool and the caller
};
RegionPlan plan_region(uint64_t n, uint64_t w, uint32_t budget);

// True on a thread that is running the body of a parallel region; inner regions
// then run serially, so a body never waits for the pool that runs it.
bool in_parallel_region();

// What the pool has done so far; for tests and diagnostics.
struct PoolStats {
    bool created = false;
    uint32_t workers = 0;
    uint64_t regions = 0;        // tasks handed to the pool
    uint64_t extra_threads = 0;  // short-lived threads started by regions
};
PoolStats pool_stats();

namespace detail {
// Runs task on the caller, every pool worker and the extra threads a plan asks for.
// Exceptions thrown by the task are rethrown on the caller after the region.
void run_region(const RegionPlan& plan, const std::function<void()>& task);
// Runs task on the caller and threads - 1 new threads, joined before returning.
void run_own_threads(uint32_t threads, const std::function<void()>& task);
}  // namespace detail

// Calls body(begin, end) over disjoint ranges that cover [0, n), possibly in parallel.
template <class Body>
void par_for_ranges(uint64_t n, uint64_t w, Body&& body) {
    if (n == 0) return;
    RegionPlan plan = in_parallel_region() ? RegionPlan{} : plan_region(n, w, thread_budget());
    if (plan.threads < 2) {
        body(uint64_t{0}, n);
        return;
    }
    std::atomic<uint64_t> counter{0};
    detail::run_region(plan, [&] {
        for (;;) {
            uint64_t c = counter.fetch_add(1, std::memory_order_relaxed);
            if (c >= plan.chunks) return;
            uint64_t begin = c * plan.chunk_size;
            if (begin >= n) return;
            body(begin, std::min(n, begin + plan.chunk_size));
        }
    });
}

// Runs body(i) for every i in [0, n), possibly in parallel. Bodies write only their own items.
template <class Body>
void par_for_impl(uint64_t n, uint64_t w, Body&& body) {
    par_for_ranges(n, w, [&](uint64_t begin, uint64_t end) {
        for (uint64_t i = begin; i < end; ++i) body(i);
    });
}

// Threads of their own for products and squares: up to min(budget, 8) threads pull chunks
// of rows (at most 4 per thread) from a shared counter. Serial when `parallel` is false
// or when already inside a region.
template <class Body>
void own_threads_rows(uint64_t rows, bool parallel, Body&& body) {
    if (rows == 0) return;
    uint32_t t = std::min<uint32_t>(thread_budget(), 8);
    if (!parallel || t < 2 || in_parallel_region()) {
        body(uint64_t{0}, rows);
        return;
    }
    uint64_t chunks = std::min<uint64_t>(4ull * t, rows);
    uint64_t size = (rows + chunks - 1) / chunks;
    std::atomic<uint64_t> counter{0};
    detail::run_own_threads(t, [&] {
        for (;;) {
            uint64_t c = counter.fetch_add(1, std::memory_order_relaxed);
            if (c >= chunks) return;
            uint64_t begin = c * size;
            if (begin >= rows) return;
            body(begin, std::min(rows, begin + size));
        }
    });
}

}  // namespace dalo
