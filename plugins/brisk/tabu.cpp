// Breakout local search after the description of Benlic and Hao: the perturbation strength L
// starts at a hundredth of n, grows by one each time the descent returns to the local optimum
// it left, and jumps to a tenth of n (random flips) after a long run of local optima without a
// new best. A perturbation is directed, each flip the best non-tabu one (tenure drawn from 3 to
// n/10), with a chance that falls from 1 toward 0.8 as that run grows; otherwise it flips the
// variables left unmoved longest or random ones, even odds.
#include "tabu.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "gains.hpp"
#include "index.hpp"

namespace brisk {

namespace {

// Beyond this the bucket array outgrows the gain of constant-time selection.
constexpr int64_t kMaxBucketRange = 1 << 12;
// Candidates a path-relinking step compares at most.
constexpr uint64_t kSample = 512;

template <class Index>
class Search final : public Breakout {
  public:
    template <class... Args>
    Search(State& st, Rng& rng, Sink& sink, Args... index_args)
        : st_(st),
          rng_(rng),
          sink_(sink),
          n_(st.n()),
          index_(index_args...),
          tabu_(st.n(), INT64_MIN),
          best_(st.n(), 0),
          keys_(st.n(), 0),
          older_(st.n() + 1),
          newer_(st.n() + 1),
          lists_(sink.lists()) {
        const uint64_t n = n_;
        jumps_min_ = std::max<uint64_t>(1, n / 100);
        jumps_max_ = std::max<uint64_t>(jumps_min_ + 1, n / 10);
        tenure_lo_ = std::min<uint64_t>(3, n / 4 + 1);
        tenure_hi_ = std::max<uint64_t>(tenure_lo_, std::min<uint64_t>(n / 10, n / 4 + 1));
        expiry_.resize(tenure_hi_ + 2);
        for (uint64_t& k : keys_) k = rng_();
        // Variables by the move that last flipped them, a ring through the sentinel n.
        for (uint32_t v = 0; v <= n_; ++v) {
            newer_[v] = v == n_ ? 0 : v + 1;
            older_[v] = v == 0 ? n_ : v - 1;
        }
        restart();
    }

    void restart() override {
        best_energy_ = INT64_MAX;
        previous_ = INT64_MAX;
        stall_ = 0;
        jumps_ = jumps_min_;
    }

    bool run(uint64_t flips) override {
        index_.reset(st_.delta());
        std::fill(tabu_.begin(), tabu_.end(), INT64_MIN);
        for (std::vector<uint32_t>& due : expiry_) due.clear();
        improved_ = false;
        const uint64_t end = flips_ + flips;
        if (!descend()) return false;
        while (flips_ < end) {
            at_local_optimum();
            if (sink_.stop()) return false;
            const double directed =
                std::max(std::exp(-static_cast<double>(stall_) / kStallLimit), 0.8);
            if (!perturb(jumps_, jumps_ == jumps_max_ ? Kick::kRandom : kick(directed)) ||
                !descend())
                return false;
        }
        at_local_optimum();
        return !sink_.stop();
    }

    const std::vector<uint8_t>& best() const override { return best_; }
    int64_t best_energy() const override { return best_energy_; }
    bool improved() const override { return improved_; }
    uint64_t flips() const override { return flips_; }

  private:
    // Local optima in a row without a new best before the strong perturbation.
    static constexpr double kStallLimit = 1000;

    void at_local_optimum() {
        const int64_t e = st_.energy();
        if (e < best_energy_) {
            best_energy_ = e;
            std::copy(st_.x(), st_.x() + n_, best_.begin());
            improved_ = true;
            stall_ = 0;
        } else {
            ++stall_;
        }
        if (e <= sink_.bar()) sink_.offer(st_.x(), e);
        if (stall_ > kStallLimit) {
            jumps_ = jumps_max_;
            stall_ = 0;
        } else if (e == previous_ && hash_ == previous_hash_) {
            jumps_ = std::min(jumps_ + 1, jumps_max_);
        } else {
            jumps_ = jumps_min_;
        }
        previous_ = e;
        previous_hash_ = hash_;
    }

    // Best improving flips, tabu or not, until none improves; false when the search must stop.
    bool descend() {
        for (uint64_t k = 1;; ++k) {
            int64_t v = 0;
            const uint32_t j = index_.select(0, rng_, v);
            if (j == n_ || v >= 0) return true;
            flip(j, false);
            if ((k & 4095) == 0 && sink_.stop()) return false;
        }
    }

    enum class Kick { kDirected, kRecency, kRandom };

    // Directed with the given chance, else flips of the longest unmoved variables or random
    // flips, even odds.
    Kick kick(double directed) {
        if (rng_.unit() < directed) return Kick::kDirected;
        return rng_() & 1 ? Kick::kRecency : Kick::kRandom;
    }

    // L perturbation flips; false when the search must stop.
    bool perturb(uint64_t jumps, Kick kind) {
        for (uint64_t k = 0; k < jumps; ++k) {
            if ((k & 4095) == 4095 && sink_.stop()) return false;
            uint32_t j = n_;
            if (kind == Kick::kDirected) {
                int64_t v = 0;
                j = index_.select(wrap_sub(best_energy_, st_.energy()), rng_, v);
            } else if (kind == Kick::kRecency) {
                j = newer_[n_];
            }
            if (j == n_) j = static_cast<uint32_t>(rng_.below(n_));
            flip(j, true);
        }
        return true;
    }

    void flip(uint32_t j, bool tabu) {
        std::vector<uint32_t>& due = expiry_[static_cast<uint64_t>(iter_) % expiry_.size()];
        for (uint32_t v : due) {
            if (tabu_[v] == iter_) index_.release(v);
        }
        due.clear();
        const int64_t dj = st_.delta_at(j);
        st_.flip(j, [this](uint32_t v, int64_t before, int64_t after) {
            index_.changed(v, before, after);
        });
        if (tabu) {
            index_.flipped_tabu(j, dj, st_.delta_at(j));
            const uint64_t tenure = tenure_lo_ + rng_.below(tenure_hi_ - tenure_lo_ + 1);
            tabu_[j] = iter_ + static_cast<int64_t>(tenure);
            expiry_[(static_cast<uint64_t>(iter_) + tenure) % expiry_.size()].push_back(j);
        } else {
            index_.changed(j, dj, st_.delta_at(j));
        }
        hash_ ^= keys_[j];
        // j becomes the most recently moved variable.
        newer_[older_[j]] = newer_[j];
        older_[newer_[j]] = older_[j];
        older_[j] = older_[n_];
        newer_[older_[n_]] = j;
        older_[n_] = j;
        newer_[j] = n_;
        ++iter_;
        ++flips_;
        if (lists_ && st_.energy() <= sink_.bar()) sink_.offer(st_.x(), st_.energy());
    }

    State& st_;
    Rng& rng_;
    Sink& sink_;
    uint32_t n_;
    Index index_;
    std::vector<int64_t> tabu_;                  // the move at which each variable leaves
    std::vector<std::vector<uint32_t>> expiry_;  // variables leaving the tabu list, by move
    std::vector<uint8_t> best_;
    int64_t best_energy_ = INT64_MAX;
    int64_t previous_ = INT64_MAX;  // energy of the last local optimum
    // A hash of the state, kept up to date by each flip (a key per variable), and that of the
    // last local optimum: equal energies alone would count plateau neighbours as returns.
    std::vector<uint64_t> keys_;
    uint64_t hash_ = 0, previous_hash_ = 0;
    std::vector<uint32_t> older_, newer_;  // the ring by last move; newer_[n] is the oldest
    double stall_ = 0;                     // local optima since the last new best
    uint64_t jumps_ = 1, jumps_min_ = 1, jumps_max_ = 2;
    uint64_t tenure_lo_ = 1, tenure_hi_ = 1;
    int64_t iter_ = 0;
    uint64_t flips_ = 0;
    bool improved_ = false;
    bool lists_;
};

}  // namespace

int64_t bucket_range(const Problem& p) {
    if (!p.ccons.empty()) return 0;
    // Magnitudes beyond the limit count as just beyond it: no overflow at the ends of the ring.
    auto magnitude = [](int64_t v) {
        return v < -kMaxBucketRange || v > kMaxBucketRange ? kMaxBucketRange + 1 : std::llabs(v);
    };
    int64_t range = 0;
    for (uint32_t i = 0; i < p.n(); ++i) {
        int64_t b = magnitude(p.lin[i]);
        for (uint64_t k = p.adj_off[i]; k < p.adj_off[i + 1] && b <= kMaxBucketRange; ++k)
            b += magnitude(p.adj[k].coeff);
        for (uint64_t k = p.var_prod_off[i]; k < p.var_prod_off[i + 1] && b <= kMaxBucketRange; ++k)
            b += magnitude(p.products[p.var_prod[k] & ~kNegBit].coeff);
        if (b > kMaxBucketRange) return 0;
        range = std::max(range, b);
    }
    return range;
}

std::unique_ptr<Breakout> make_breakout(const Problem& p, State& st, Rng& rng, Sink& sink) {
    const int64_t range = bucket_range(p);
    if (range > 0) return std::make_unique<Search<BucketIndex>>(st, rng, sink, p.n(), range);
    return std::make_unique<Search<MoveIndex>>(st, rng, sink, p.n());
}

void relink(State& st, const uint8_t* guide, Rng& rng) {
    std::vector<uint32_t> diff;
    for (uint32_t i = 0; i < st.n(); ++i) {
        if (st.x()[i] != guide[i]) diff.push_back(i);
    }
    const uint64_t m = diff.size();
    if (m < 3) return;
    const uint64_t lo = m / 3, hi = m - lo;
    std::vector<uint32_t> order;
    int64_t best = INT64_MAX;
    uint64_t best_step = lo;
    const int64_t* d = st.delta();
    for (uint64_t step = 1; step <= hi; ++step) {
        uint64_t chosen = 0, ties = 0;
        int64_t dmin = INT64_MAX;
        // Long walks compare a random sample of the remaining variables at each step.
        const bool sample = diff.size() > kSample;
        const uint64_t looks = sample ? kSample : diff.size();
        for (uint64_t q = 0; q < looks; ++q) {
            const uint64_t k = sample ? rng.below(diff.size()) : q;
            const int64_t dk = d[diff[k]];
            if (dk < dmin) {
                dmin = dk;
                chosen = k;
                ties = 1;
            } else if (dk == dmin && rng.below(++ties) == 0) {
                chosen = k;
            }
        }
        const uint32_t j = diff[chosen];
        diff[chosen] = diff.back();
        diff.pop_back();
        st.flip(j);
        order.push_back(j);
        if (step >= lo && st.energy() < best) {
            best = st.energy();
            best_step = step;
        }
    }
    while (order.size() > best_step) {
        st.flip(order.back());
        order.pop_back();
    }
}

}  // namespace brisk
