// The best allowed flip without looking at every variable: variables sit in blocks of 64 (or
// more on large Models) with each block's smallest allowed change and smallest change kept up
// to date as changes move. A block whose minimum may have risen is marked and scanned again
// before the next choice, so a move costs a few block scans instead of a pass over all n.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "rng.hpp"
#include "scan.hpp"

namespace brisk {

class MoveIndex {
  public:
    static constexpr int64_t kBlocked = INT64_MAX;

    explicit MoveIndex(uint32_t n) : n_(n) {
        shift_ = 6;
        while ((uint64_t{n} >> shift_) > 1024) ++shift_;
        blocks_ = static_cast<uint32_t>((uint64_t{n} + (uint64_t{1} << shift_) - 1) >> shift_);
        key_.assign(n, 0);
        bkey_.assign(blocks_, kBlocked);
        ball_.assign(blocks_, kBlocked);
        dirty_.assign(blocks_, 0);
        dirty_list_.reserve(blocks_);
    }

    // Every variable allowed, minima from scratch.
    void reset(const int64_t* delta) {
        delta_ = delta;
        std::copy(delta, delta + n_, key_.begin());
        dirty_list_.clear();
        for (uint32_t b = 0; b < blocks_; ++b) rescan(b);
        std::fill(dirty_.begin(), dirty_.end(), 0);
    }

    bool allowed(uint32_t j) const { return key_[j] != kBlocked; }

    // The change of j moved from before to after (delta already holds after).
    void changed(uint32_t j, int64_t before, int64_t after) {
        const uint32_t b = j >> shift_;
        if (after <= ball_[b]) {
            ball_[b] = after;
        } else if (before == ball_[b]) {
            mark(b);
        }
        if (key_[j] == kBlocked) return;
        key_[j] = after;
        if (after <= bkey_[b]) {
            bkey_[b] = after;
        } else if (before == bkey_[b]) {
            mark(b);
        }
    }

    // j was flipped (its change went from before to after) and becomes tabu.
    void flipped_tabu(uint32_t j, int64_t before, int64_t after) {
        const uint32_t b = j >> shift_;
        if (after <= ball_[b]) {
            ball_[b] = after;
        } else if (before == ball_[b]) {
            mark(b);
        }
        if (key_[j] != kBlocked && key_[j] == bkey_[b]) mark(b);
        key_[j] = kBlocked;
    }

    // j is no longer tabu.
    void release(uint32_t j) {
        const uint32_t b = j >> shift_;
        key_[j] = delta_[j];
        if (key_[j] <= bkey_[b]) bkey_[b] = key_[j];
    }

    // The best allowed move: the smallest change among variables that are not tabu, or one that
    // goes below `aspiration`; ties at random. n when every variable is tabu.
    uint32_t select(int64_t aspiration, Rng& rng, int64_t& value) {
        for (uint32_t b : dirty_list_) {
            rescan(b);
            dirty_[b] = 0;
        }
        dirty_list_.clear();
        const int64_t best_all = smallest(ball_.data(), blocks_);
        if (best_all < aspiration) {
            value = best_all;
            return pick(ball_.data(), delta_, best_all, rng);
        }
        const int64_t best = smallest(bkey_.data(), blocks_);
        value = best;
        if (best == kBlocked) return n_;
        return pick(bkey_.data(), key_.data(), best, rng);
    }

  private:
    void mark(uint32_t b) {
        if (dirty_[b]) return;
        dirty_[b] = 1;
        dirty_list_.push_back(b);
    }

    void rescan(uint32_t b) {
        const uint64_t lo = uint64_t{b} << shift_;
        const uint64_t len = std::min<uint64_t>(uint64_t{1} << shift_, n_ - lo);
        bkey_[b] = smallest(key_.data() + lo, len);
        ball_[b] = smallest(delta_ + lo, len);
    }

    // A random variable with value v among the blocks whose minimum is v.
    uint32_t pick(const int64_t* mins, const int64_t* vals, int64_t v, Rng& rng) {
        uint32_t b = static_cast<uint32_t>(rng.below(blocks_));
        while (mins[b] != v) b = b + 1 == blocks_ ? 0 : b + 1;
        const uint64_t lo = uint64_t{b} << shift_;
        const uint64_t hi = std::min<uint64_t>(lo + (uint64_t{1} << shift_), n_);
        uint64_t chosen = lo, count = 0;
        for (uint64_t k = lo; k < hi; ++k) {
            if (vals[k] != v) continue;
            if (rng.below(++count) == 0) chosen = k;
        }
        return static_cast<uint32_t>(chosen);
    }

    uint32_t n_;
    uint32_t shift_;
    uint32_t blocks_;
    const int64_t* delta_ = nullptr;
    std::vector<int64_t> key_;
    std::vector<int64_t> bkey_;
    std::vector<int64_t> ball_;
    std::vector<uint8_t> dirty_;
    std::vector<uint32_t> dirty_list_;
};

}  // namespace brisk
