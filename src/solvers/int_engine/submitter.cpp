// The GPU submitter's thread.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/fatal.hpp"
#include "solvers/int_engine/mover.hpp"
#include "solvers/int_engine/state.hpp"

namespace dalo::int_detail {

namespace {

// Feeds the integer GPU engine batches of start states and offers the verified results.
//
// The pool keeps up to kPoolSize distinct verified states in ascending energy, each tagged
// with the construction kind of the slot it came from (fresh random slots count as kind 0).
// Slots 2 to 7 are built by one of four kinds:
//   0  perturbed copy: the better of two random pool states, each position changed with
//      probability (stale + 2) / positions, where stale counts the batches since the pool's
//      best last improved;
//   1  uniform crossover: each position from one of two distinct pool states;
//   2  segment crossover: a cyclic run of positions from one distinct pool state, the rest
//      from another;
//   3  elite nudge: the pool's best state with 1 + stale mod 4 single moves.
// The kind comes with probability 19/20 from the tag of a random pool entry, so kinds that
// produce improvements are used more; otherwise it is drawn uniformly.
class Submitter {
  public:
    static constexpr uint32_t kBatch = 8;
    static constexpr size_t kPoolSize = 32;

    explicit Submitter(Shared& sh)
        : sh_(sh),
          pr_(sh.pr),
          mover_(sh.pr, sh.opts.seed ^ 0xA24BAED4963EE407ull),
          start_bits_(kBatch * pr_.words),
          start_ints_(kBatch * pr_.nint),
          out_bits_(kBatch * pr_.words),
          out_ints_(kBatch * pr_.nint),
          vals_(pr_.positions) {}

    void run() {
        const IntSearchOpts& o = sh_.opts;
        if (o.hint_bits != nullptr && o.gpu_hint != nullptr)
            o.gpu_hint(o.gpu_engine, o.hint_bits, o.hint_ints);
        std::vector<uint64_t> hbits(pr_.words);
        std::vector<int64_t> hints(pr_.nint);
        while (!sh_.should_stop()) {
            if (o.hint_fetch != nullptr &&
                o.hint_fetch(o.hint_context, 1, hbits.data(), hints.data()) &&
                o.gpu_hint != nullptr)
                o.gpu_hint(o.gpu_engine, hbits.data(), hints.data());
            uint32_t kinds[kBatch];
            for (uint32_t slot = 0; slot < kBatch; ++slot) {
                kinds[slot] = slot < 2 ? 0 : build(vals_);
                if (slot < 2) mover_.random_state(vals_);
                pack_bits(vals_.data(), pr_.nbin, start_bits_.data() + slot * pr_.words);
                std::copy(vals_.begin() + pr_.nbin, vals_.end(),
                          start_ints_.begin() + static_cast<ptrdiff_t>(slot * pr_.nint));
            }
            energy_t energies[kBatch] = {};
            uint8_t improved[kBatch] = {};
            if (o.gpu_round(o.gpu_engine, start_bits_.data(), start_ints_.data(), kBatch,
                            out_bits_.data(), out_ints_.data(), energies, improved) != 0)
                break;
            ++sh_.submissions;
            const bool had_pool = !pool_.empty();
            const energy_t pool_best = had_pool ? pool_.front().energy : 0;
            for (uint32_t slot = 0; slot < kBatch; ++slot) {
                if (improved[slot] != 0) take(slot, energies[slot], kinds[slot]);
            }
            if (!pool_.empty() && (!had_pool || pool_.front().energy < pool_best))
                stale_ = 0;
            else
                ++stale_;
        }
    }

  private:
    struct Entry {
        energy_t energy;
        uint32_t kind;
        std::vector<int64_t> vals;
    };

    // Verifies a returned state, keeps it in the pool and offers it.
    void take(uint32_t slot, energy_t energy, uint32_t kind) {
        unpack_state(pr_.nbin, pr_.nint, out_bits_.data() + slot * pr_.words,
                     out_ints_.data() + slot * pr_.nint, vals_.data());
        bool in_bounds = true;
        for (uint64_t i = pr_.nbin; i < pr_.positions; ++i)
            in_bounds = in_bounds && vals_[i] >= pr_.pos[i].lo && vals_[i] <= pr_.pos[i].hi;
        if (!in_bounds || evaluate_state(pr_.m, vals_.data()).energy != energy)
            fatal(sh_.opts.name + ": internal error — GPU integer engine energy mismatch.");
        remember(energy, kind);
        if (!has_best_ || energy < best_ || (sh_.opts.best_energy_sols && energy == best_)) {
            has_best_ = true;
            best_ = energy;
            sh_.offer(vals_.data(), energy);
        }
    }

    void remember(energy_t energy, uint32_t kind) {
        for (const Entry& e : pool_) {
            if (e.energy == energy && e.vals == vals_) return;
        }
        if (pool_.size() >= kPoolSize && energy >= pool_.back().energy) return;
        auto at = std::upper_bound(pool_.begin(), pool_.end(), energy,
                                   [](energy_t x, const Entry& e) { return x < e.energy; });
        pool_.insert(at, Entry{energy, kind, vals_});
        if (pool_.size() > kPoolSize) pool_.pop_back();
    }

    // Builds a slot's start state into v; returns its construction kind.
    uint32_t build(std::vector<int64_t>& v) {
        const uint64_t n = pool_.size();
        uint32_t kind = static_cast<uint32_t>(mover_.draw() % 4);
        if (n > 0 && mover_.draw() % 20 != 0) kind = pool_[below(mover_.draw(), n)].kind;
        const uint64_t positions = pr_.positions;
        if (n == 0 || (n < 2 && (kind == 1 || kind == 2)) || positions == 0) {
            mover_.random_state(v);
            return kind;
        }
        switch (kind) {
            case 0: {
                const uint64_t a = below(mover_.draw(), n), b = below(mover_.draw(), n);
                v = pool_[std::min(a, b)].vals;
                const double p = static_cast<double>(stale_ + 2) / static_cast<double>(positions);
                mover_.kick(v, p);
                break;
            }
            case 1:
            case 2: {
                const uint64_t a = below(mover_.draw(), n);
                uint64_t b = below(mover_.draw(), n - 1);
                if (b >= a) ++b;
                const std::vector<int64_t>& x = pool_[a].vals;
                const std::vector<int64_t>& y = pool_[b].vals;
                v = x;
                if (kind == 1) {
                    for (uint64_t i = 0; i < positions; ++i) {
                        if (mover_.draw() & 1) v[i] = y[i];
                    }
                } else {
                    const uint64_t first = below(mover_.draw(), positions);
                    const uint64_t len = 1 + below(mover_.draw(), positions);
                    for (uint64_t k = 0; k < len; ++k) {
                        const uint64_t i = (first + k) % positions;
                        v[i] = y[i];
                    }
                }
                break;
            }
            default: {
                v = pool_.front().vals;
                for (uint64_t k = 0; k < 1 + stale_ % 4; ++k) {
                    uint64_t p;
                    int64_t nv;
                    if (mover_.propose(v, p, nv)) v[p] = nv;
                }
                break;
            }
        }
        return kind;
    }

    Shared& sh_;
    const Problem& pr_;
    Mover mover_;
    std::vector<uint64_t> start_bits_;
    std::vector<int64_t> start_ints_;
    std::vector<uint64_t> out_bits_;
    std::vector<int64_t> out_ints_;
    std::vector<int64_t> vals_;
    std::vector<Entry> pool_;
    uint64_t stale_ = 0;
    bool has_best_ = false;
    energy_t best_ = 0;
};

}  // namespace

void run_submitter(Shared& sh) { Submitter(sh).run(); }

}  // namespace dalo::int_detail
