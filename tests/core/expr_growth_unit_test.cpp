// Growth of an expression's term array under repeated appends.
#include <gtest/gtest.h>

#include <cstdint>

#include "core/expr.hpp"

namespace {

TEST(ExprGrowth, FirstReservationIsExactLaterOnesGrowGeometrically) {
    dalo::ExprImpl e;
    dalo::TermImpl* first = e.extend(1000);
    for (int k = 0; k < 1000; ++k) first[k] = dalo::TermImpl{};
    EXPECT_EQ(e.capacity, 1000u);
    // Many small appends reallocate only a logarithmic number of times.
    int reallocations = 0;
    uint64_t seen = e.capacity;
    for (int i = 0; i < 10'000; ++i) {
        dalo::TermImpl* p = e.extend(10);
        for (int k = 0; k < 10; ++k) p[k] = dalo::TermImpl{};
        if (e.capacity != seen) {
            EXPECT_GE(e.capacity, seen + seen / 2);
            seen = e.capacity;
            ++reallocations;
        }
    }
    EXPECT_EQ(e.count, 101'000u);
    EXPECT_LE(reallocations, 12);
    // A reservation that fits changes nothing.
    const uint64_t cap = e.capacity;
    e.reserve_more(cap - e.count);
    EXPECT_EQ(e.capacity, cap);
}

}  // namespace
