// Append-only storage: elements never move while readers run without a lock.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/stable_vector.hpp"

namespace {

TEST(StableVector, AddressesSurviveGrowthAcrossSegments) {
    dalo::StableVector<std::string, 2> v;  // segments of 4, 8, 16, ...
    std::vector<const std::string*> where;
    for (int i = 0; i < 1'000; ++i) {
        where.push_back(&v.emplace_back(std::to_string(i)));
        ASSERT_EQ(v.size(), static_cast<uint64_t>(i + 1));
    }
    for (int i = 0; i < 1'000; ++i) {
        EXPECT_EQ(&v[i], where[i]);
        EXPECT_EQ(v[i], std::to_string(i));
    }
    v.clear();
    EXPECT_TRUE(v.empty());
    v.emplace_back("again");
    EXPECT_EQ(v[0], "again");
}

TEST(StableVector, ReadersRunWhileAWriterAppends) {
    dalo::StableVector<std::vector<uint64_t>, 1> v;
    std::mutex lock;
    std::atomic<bool> done{false};
    std::atomic<uint64_t> bad{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!done.load()) {
                uint64_t n = v.size();
                for (uint64_t i = n > 32 ? n - 32 : 0; i < n; ++i) {
                    const auto& e = v[i];
                    if (e.size() != 3 || e[0] != i || e[2] != i * 2) bad++;
                }
            }
        });
    }
    for (uint64_t i = 0; i < 50'000; ++i) {
        std::lock_guard<std::mutex> g(lock);
        v.emplace_back(std::vector<uint64_t>{i, i + 1, i * 2});
    }
    done = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(bad.load(), 0u);
    EXPECT_EQ(v.size(), 50'000u);
}

}  // namespace
