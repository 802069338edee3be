// Binary and integer variables: identifiers, names, counts, reset and exhaustion.
#include "support/suite.hpp"

namespace {

TEST(VarRegistry, UnknownIdentifiersPrintQuestionMark) {
    dalo_var x = dalo_new_var("x");
    for (dalo_var v : {x + 1, 0x3FFFFFFEu, DALO_NO_VAR, DALO_INT_BIT | 12345})
        EXPECT_STREQ(dalo_var_str(v), "?") << v;
}

TEST(VarRegistry, ConcurrentCreationAndLockFreeReads) {
    constexpr int kWriters = 4, kPerWriter = 3000;
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::vector<dalo_var>> made(kWriters);
    auto name = [](int w, int k) { return "w" + std::to_string(w) + "_" + std::to_string(k); };
    std::vector<std::thread> readers, writers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const uint64_t n = dalo_var_count();
                for (uint64_t i = n > 64 ? n - 64 : 0; i < n; ++i)
                    if (dalo_var_str(static_cast<dalo_var>(i))[0] != 'w') bad++;
            }
        });
    }
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            uint64_t shape[2] = {2, 2};
            for (int k = 0; k < kPerWriter; ++k)
                made[w].push_back(k % 3 == 0 ? dalo_new_var_array(name(w, k).c_str(), shape, 2)
                                             : dalo_new_var(name(w, k).c_str()));
        });
    }
    for (auto& t : writers) t.join();
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(bad.load(), 0);
    std::set<dalo_var> ids;
    for (int w = 0; w < kWriters; ++w)
        for (int k = 0; k < kPerWriter; ++k) {
            const dalo_var id = made[w][k] + (k % 3 == 0 ? 3 : 0);
            EXPECT_EQ(dalo_var_str(id), name(w, k) + (k % 3 == 0 ? "[1][1]" : ""));
            ids.insert(id);
        }
    EXPECT_EQ(ids.size(), size_t{kWriters * kPerWriter});
}

// ---- misuse ----

constexpr const char* kBinaryFull = "Binary variable index space exhausted (2^30 - 1 variables).";
constexpr const char* kIntFull = "int_var: integer variable index space exhausted";

TEST(VarRegistryDeathTest, IntegerBoundsMustBeOrdered) {
    uint64_t shape = 3;
    EXPECT_FATAL(dalo_new_int_var_array("k", &shape, 1, 7, 2),
                 "int_var: bounds must satisfy lo < hi (got lo = 7, hi = 2)");
}

TEST(VarRegistryDeathTest, BoundsOfSomethingElse) {
    int64_t lo = 0, hi = 0;  // an integer index past the registry
    EXPECT_FATAL(dalo_int_var_bounds(DALO_INT_BIT | 7, &lo, &hi),
                 "dalo_int_var_bounds: not an integer variable index");
}

TEST(VarRegistryDeathTest, BinaryIndexSpaceIsReportedNotWrapped) {
    uint64_t all = 1ull << 30;
    EXPECT_FATAL(dalo_new_var_array("big", &all, 1), kBinaryFull);
    uint64_t huge[2] = {1ull << 32, 1ull << 32};  // the product does not fit in 64 bits
    EXPECT_FATAL(dalo_new_var_array("big", huge, 2), kBinaryFull);
    uint64_t wraps = UINT64_MAX;  // count + extent must not wrap round to a small number
    dalo_new_var("x");
    EXPECT_FATAL(dalo_new_var_array("big", &wraps, 1), kBinaryFull);
    // The last index issued is 2^30 - 2.
    uint64_t most = (1ull << 30) - 3;
    EXPECT_EQ(dalo_new_var_array("most", &most, 1), 1u);
    EXPECT_EQ(dalo_new_var("last"), 0x3FFFFFFEu);
    EXPECT_STREQ(dalo_var_str(0x3FFFFFFEu), "last");
    EXPECT_STREQ(dalo_var_str(0x3FFFFFFDu), "most[1073741820]");
    EXPECT_FATAL(dalo_new_var("one_more"), kBinaryFull);
    uint64_t one = 1;
    EXPECT_FATAL(dalo_new_var_array("one_more", &one, 1), kBinaryFull);
}

TEST(VarRegistryDeathTest, IntegerIndexSpaceIsReportedNotWrapped) {
    dalo_new_int_var("k", 0, 1);
    uint64_t most = (1ull << 30) - 2;
    EXPECT_EQ(dalo_new_int_var_array("most", &most, 1, 0, 1), DALO_INT_BIT | 1);
    EXPECT_EQ(dalo_int_var_count(), 0x3FFFFFFFu);
    EXPECT_FATAL(dalo_new_int_var("one_more", 0, 1), kIntFull);
}

}  // namespace
