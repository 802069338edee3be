// The solutions a search returns besides its best: the k best distinct ones, or every distinct
// one of the best energy. Not locked: the caller holds the search's lock.
#pragma once

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "search.hpp"

namespace brisk {

inline uint64_t hash_bytes(const uint8_t* x, uint64_t n) {
    uint64_t h = 0x84222325CBF29CE4ull ^ n;
    for (uint64_t i = 0; i < n; ++i) h = (h ^ x[i]) * 0x100000001B3ull;
    return h;
}

class Keeper {
  public:
    // Without a limit the best-energy collection still stops growing here, so that a Model with
    // a huge plateau of optima cannot exhaust memory.
    static constexpr uint64_t kCollectCap = uint64_t{1} << 16;

    Keeper(uint64_t topk, bool collect, uint64_t limit)
        : topk_(topk), collect_(collect), limit_(limit == 0 ? kCollectCap : limit) {}

    bool active() const { return topk_ > 0 || collect_; }

    // States above this energy cannot enter the list.
    int64_t threshold() const {
        if (collect_) return has_ ? level_ : INT64_MAX;
        if (list_.size() < topk_) return INT64_MAX;
        return list_.back().energy;
    }

    void offer(const uint8_t* x, uint64_t n, int64_t energy, double tts) {
        if (collect_) {
            if (has_ && energy > level_) return;
            if (!has_ || energy < level_) {
                list_.clear();
                index_.clear();
                has_ = true;
                level_ = energy;
            }
            if (list_.size() >= limit_) return;
            const uint64_t h = hash_bytes(x, n);
            if (listed(h, x, n)) return;
            index_.emplace(h, list_.size());
            list_.push_back({energy, tts, std::vector<uint8_t>(x, x + n)});
            return;
        }
        if (topk_ == 0) return;
        if (list_.size() >= topk_ && energy >= list_.back().energy) return;
        const uint64_t h = hash_bytes(x, n);
        if (listed(h, x, n)) return;
        auto at = std::upper_bound(list_.begin(), list_.end(), energy,
                                   [](int64_t e, const Found& f) { return e < f.energy; });
        hashes_.insert(hashes_.begin() + (at - list_.begin()), h);
        list_.insert(at, Found{energy, tts, std::vector<uint8_t>(x, x + n)});
        if (list_.size() > topk_) {
            list_.pop_back();
            hashes_.pop_back();
        }
        index_.clear();
        for (size_t i = 0; i < list_.size(); ++i) index_.emplace(hashes_[i], i);
    }

    std::vector<Found> take() { return std::move(list_); }

  private:
    bool listed(uint64_t h, const uint8_t* x, uint64_t n) const {
        auto [a, b] = index_.equal_range(h);
        for (; a != b; ++a) {
            if (std::equal(x, x + n, list_[a->second].x.begin())) return true;
        }
        return false;
    }

    uint64_t topk_;
    bool collect_;
    uint64_t limit_;
    bool has_ = false;
    int64_t level_ = 0;
    std::vector<Found> list_;
    std::vector<uint64_t> hashes_;  // of the top-k entries, in list order
    std::unordered_multimap<uint64_t, size_t> index_;
};

}  // namespace brisk
