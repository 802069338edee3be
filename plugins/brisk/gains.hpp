// The best flip in constant time where every flip change is a small integer (Max-Cut with unit
// weights: a few times the degree): one bucket per change value, allowed variables and tabu
// ones in two separate sets of buckets. The lowest non-empty bucket of each set is found by
// walking up from a lower bound that only an insertion below it moves down, so a move costs its
// bucket updates and a short walk.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "rng.hpp"

namespace brisk {

class BucketIndex {
  public:
    static constexpr int64_t kBlocked = INT64_MAX;

    // Every change of every state lies in [-range, range].
    BucketIndex(uint32_t n, int64_t range)
        : n_(n), range_(range), width_(static_cast<uint32_t>(2 * range + 1)) {
        slots_.resize(2 * uint64_t{width_});
        where_.assign(n, 0);
        pos_.assign(n, 0);
    }

    // Every variable allowed.
    void reset(const int64_t* delta) {
        delta_ = delta;
        for (std::vector<uint32_t>& b : slots_) b.clear();
        low_[0] = low_[1] = 0;
        for (uint32_t j = 0; j < n_; ++j) {
            const uint32_t s = slot(0, delta[j]);
            where_[j] = s;
            pos_[j] = static_cast<uint32_t>(slots_[s].size());
            slots_[s].push_back(j);
        }
    }

    bool allowed(uint32_t j) const { return where_[j] < width_; }

    // The change of j moved to after (tabu or not, j stays where it is).
    void changed(uint32_t j, int64_t, int64_t after) { place(j, allowed(j) ? 0 : 1, after); }

    // j was flipped (its change is now after) and becomes tabu.
    void flipped_tabu(uint32_t j, int64_t, int64_t after) { place(j, 1, after); }

    // j is no longer tabu.
    void release(uint32_t j) { place(j, 0, delta_[j]); }

    // As MoveIndex::select: the smallest change of an allowed variable, or a tabu one whose
    // change goes below `aspiration`; ties at random. n when every variable is tabu.
    uint32_t select(int64_t aspiration, Rng& rng, int64_t& value) {
        const uint32_t a = lowest(0), t = lowest(1);
        if (t < a && value_at(t) < aspiration) return pick(width_ + t, rng, value);
        if (a == width_) {
            value = kBlocked;
            return n_;
        }
        return pick(a, rng, value);
    }

  private:
    uint32_t slot(uint32_t set, int64_t v) const {
        return set * width_ + static_cast<uint32_t>(v + range_);
    }
    int64_t value_at(uint32_t k) const { return static_cast<int64_t>(k) - range_; }

    void place(uint32_t j, uint32_t set, int64_t v) {
        const uint32_t s = slot(set, v), old = where_[j];
        if (s == old) return;
        std::vector<uint32_t>& from = slots_[old];
        const uint32_t last = from.back();
        from[pos_[j]] = last;
        pos_[last] = pos_[j];
        from.pop_back();
        where_[j] = s;
        pos_[j] = static_cast<uint32_t>(slots_[s].size());
        slots_[s].push_back(j);
        low_[set] = std::min(low_[set], s - set * width_);
    }

    // Lowest non-empty bucket of a set (width_ when the set is empty).
    uint32_t lowest(uint32_t set) {
        uint32_t& k = low_[set];
        while (k < width_ && slots_[set * width_ + k].empty()) ++k;
        return k;
    }

    uint32_t pick(uint32_t s, Rng& rng, int64_t& value) {
        value = value_at(s >= width_ ? s - width_ : s);
        const std::vector<uint32_t>& b = slots_[s];
        return b[rng.below(b.size())];
    }

    uint32_t n_;
    int64_t range_;
    uint32_t width_;
    const int64_t* delta_ = nullptr;
    std::vector<std::vector<uint32_t>> slots_;
    std::vector<uint32_t> where_;  // bucket of each variable
    std::vector<uint32_t> pos_;    // and its place in it
    uint32_t low_[2] = {0, 0};
};

}  // namespace brisk
