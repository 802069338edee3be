// Thread budget, thread cap, region plans, the worker pool and nested regions.
#include "support/suite.hpp"

#include <new>

#include "core/parallel.hpp"

namespace {

TEST(ThreadBudget, ParsesTheLeadingPositiveInteger) {
    const std::pair<const char*, uint32_t> rows[] = {{"4", 4},  {"12threads", 12}, {"0", 0},
                                                     {"-2", 0}, {"", 0},           {nullptr, 0}};
    for (const auto& [text, want] : rows)
        EXPECT_EQ(dalo::parse_thread_count(text), want) << (text ? text : "null");
    EXPECT_EQ(dalo::parse_thread_count("99999999999999999999"), 2147483647u);
}

TEST(ThreadBudget, NonNumericEnvironmentFallsBackToHardware) {
    setenv("DALO_NUM_THREADS", "many", 1);
    unsigned hw = std::thread::hardware_concurrency();
    EXPECT_EQ(dalo::thread_budget(), hw == 0 ? 1u : hw);
    setenv("DALO_NUM_THREADS", "5", 1);  // fixed at the first reading
    EXPECT_EQ(dalo::thread_budget(), hw == 0 ? 1u : hw);
}

TEST(ThreadBudget, OneThreadNeverTouchesThePool) {
    setenv("DALO_NUM_THREADS", "1", 1);
    ASSERT_EQ(dalo::thread_budget(), 1u);
    std::vector<int> out(2'000'000, 0);
    dalo::par_for_impl(out.size(), out.size(), [&](uint64_t i) { out[i] = static_cast<int>(i); });
    for (size_t i = 0; i < out.size(); i += 9973) ASSERT_EQ(out[i], static_cast<int>(i));
    EXPECT_FALSE(dalo::pool_stats().created);
}

TEST(ThreadBudget, BudgetThreeRegion) {
    setenv("DALO_NUM_THREADS", "3", 1);
    ASSERT_EQ(dalo::thread_budget(), 3u);
    std::vector<std::atomic<int>> hits(20'000);
    dalo::par_for_impl(9'999, 9'999, [&](uint64_t i) { hits[i]++; });
    EXPECT_FALSE(dalo::pool_stats().created);  // below 10,000 items nothing touches the pool
    dalo::par_for_impl(hits.size(), hits.size(), [&](uint64_t i) { hits[i]++; });
    for (size_t i = 0; i < hits.size(); ++i) ASSERT_EQ(hits[i].load(), i < 9'999 ? 2 : 1) << i;
    const dalo::PoolStats s = dalo::pool_stats();
    EXPECT_TRUE(s.created);
    EXPECT_EQ(std::tuple(s.workers, s.regions, s.extra_threads), std::tuple(2u, 1u, 0u));
}

TEST(ThreadCap, Table) {
    // budget, work size, cap
    const std::tuple<uint32_t, uint64_t, uint32_t> rows[] = {
        {1, 1'000'000'000'000ull, 1}, {0, 50, 1},
        {64, 99'999'999, 8},          {64, 100'000'000, 16},
        {64, 999'999'999, 16},        {64, 1'000'000'000, 32},
        {64, 9'999'999'999ull, 32},   {64, 10'000'000'000ull, 64},
        {100, 10'000'000'000ull, 64}, {3, 10'000'000'000ull, 3},
        {12, 200'000'000, 12}};
    for (const auto& [budget, w, cap] : rows)
        EXPECT_EQ(dalo::thread_cap_for(budget, w), cap) << budget << " " << w;
}

TEST(ParallelFor, ExtraThreadsJoinThePool) {
    setenv("DALO_NUM_THREADS", "12", 1);
    ASSERT_EQ(dalo::thread_budget(), 12u);
    std::vector<uint64_t> out(100'000, 0);
    dalo::par_for_impl(out.size(), out.size(), [&](uint64_t i) { out[i] = i * i; });
    EXPECT_EQ(dalo::pool_stats().extra_threads, 0u);  // cap 8: 7 workers and the caller
    // A work size above 10^8 lifts the cap to 12: four threads beyond the pool and the caller.
    dalo::par_for_impl(out.size(), 200'000'000, [&](uint64_t i) { out[i] += i; });
    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], i * i + i);
    const dalo::PoolStats s = dalo::pool_stats();
    EXPECT_EQ(std::tuple(s.workers, s.regions, s.extra_threads), std::tuple(7u, 2u, 4u));
}

TEST(ParallelFor, ConcurrentCallersTakeTurns) {
    setenv("DALO_NUM_THREADS", "4", 1);
    std::vector<std::vector<uint64_t>> out(4, std::vector<uint64_t>(50'000));
    dalo_test::on_threads(4, [&](int c) {
        for (int rep = 0; rep < 20; ++rep)
            dalo::par_for_impl(out[c].size(), out[c].size(),
                               [&](uint64_t i) { out[c][i] = i * (c + 1) + rep; });
    });
    for (int c = 0; c < 4; ++c)
        for (size_t i = 0; i < out[c].size(); ++i) ASSERT_EQ(out[c][i], i * (c + 1) + 19);
    EXPECT_EQ(dalo::pool_stats().regions, 80u);
}

TEST(ParallelFor, ExceptionsReachTheCaller) {
    setenv("DALO_NUM_THREADS", "4", 1);
    auto fails = [](uint64_t i) {
        if (i == 77'777) throw std::bad_alloc();
    };
    EXPECT_THROW(dalo::par_for_impl(100'000, 100'000, fails), std::bad_alloc);
    // The pool is still usable afterwards.
    std::atomic<uint64_t> n{0};
    dalo::par_for_impl(100'000, 100'000, [&](uint64_t) { n++; });
    EXPECT_EQ(n.load(), 100'000u);
}

// A static whose destructor runs a region after the pool has been torn down at exit.
struct LateRegion {
    ~LateRegion() {
        std::vector<uint64_t> v(50'000, 0);
        dalo::par_for_impl(v.size(), v.size(), [&](uint64_t i) { v[i] = i; });
        for (size_t i = 0; i < v.size(); ++i)
            if (v[i] != i) std::abort();
    }
};

TEST(ParallelForDeathTest, RegionsAfterThePoolIsGoneRunOnTheCaller) {
    EXPECT_EXIT(
        {
            static LateRegion late;  // built before the pool, so destroyed after it
            setenv("DALO_NUM_THREADS", "4", 1);
            std::vector<int> v(20'000);
            dalo::par_for_impl(v.size(), v.size(), [&](uint64_t i) { v[i] = 1; });
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

TEST(OwnThreads, RowsAreCoveredOnce) {
    setenv("DALO_NUM_THREADS", "16", 1);
    std::vector<std::atomic<int>> rows(1'000);
    dalo::own_threads_rows(rows.size(), true, [&](uint64_t b, uint64_t e) {
        for (uint64_t i = b; i < e; ++i) rows[i]++;
    });
    for (auto& r : rows) ASSERT_EQ(r.load(), 1);
    EXPECT_FALSE(dalo::pool_stats().created);  // products use threads of their own
}

}  // namespace
