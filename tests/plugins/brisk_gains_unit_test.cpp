// The gain buckets of the breakout search against a scan of every change after random
// sequences of change updates, tabu marks and releases.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "brisk/gains.hpp"

namespace {

TEST(BriskGains, SelectionMatchesAScanAfterRandomUpdates) {
    std::mt19937_64 gen(17);
    for (const int64_t range : {1, 3, 40}) {
        const uint32_t n = 50;
        std::vector<int64_t> delta(n);
        std::vector<bool> tabu(n, false);
        for (int64_t& d : delta) d = static_cast<int64_t>(gen() % (2 * range + 1)) - range;
        brisk::BucketIndex index(n, range);
        index.reset(delta.data());
        brisk::Rng rng(5);
        for (int step = 0; step < 4000; ++step) {
            const uint32_t j = static_cast<uint32_t>(gen() % n);
            const int64_t before = delta[j];
            const int64_t after = static_cast<int64_t>(gen() % (2 * range + 1)) - range;
            delta[j] = after;
            switch (gen() % 4) {
                case 0:
                    index.flipped_tabu(j, before, after);
                    tabu[j] = true;
                    break;
                case 1:
                    index.changed(j, before, after);
                    if (tabu[j]) {
                        index.release(j);
                        tabu[j] = false;
                    }
                    break;
                default:
                    index.changed(j, before, after);
            }
            const int64_t aspiration = static_cast<int64_t>(gen() % (2 * range + 3)) - range - 1;
            int64_t allowed = brisk::BucketIndex::kBlocked, any = brisk::BucketIndex::kBlocked;
            for (uint32_t k = 0; k < n; ++k) {
                if (!tabu[k]) allowed = std::min(allowed, delta[k]);
                any = std::min(any, delta[k]);
            }
            const int64_t want = any < aspiration && any < allowed ? any : allowed;
            int64_t value = 0;
            const uint32_t got = index.select(aspiration, rng, value);
            ASSERT_EQ(value, want) << "step " << step;
            if (want == brisk::BucketIndex::kBlocked) {
                ASSERT_EQ(got, n);
            } else {
                ASSERT_EQ(delta[got], want);
                ASSERT_TRUE(!tabu[got] || want < aspiration);
            }
            for (uint32_t k = 0; k < n; ++k) ASSERT_EQ(index.allowed(k), !tabu[k]);
        }
    }
}

}  // namespace
