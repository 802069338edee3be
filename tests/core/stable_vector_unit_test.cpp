// Append-only storage: elements never move while readers run without a lock.
#include "support/suite.hpp"

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

}  // namespace
