// Random choices of the search threads: start states, single moves and kicks. Kept in a header
// so the workers' inner loops inline them.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "solvers/int_engine/detail.hpp"
#include "solvers/int_engine/setup.hpp"

namespace dalo::int_detail {

__extension__ typedef unsigned __int128 u128;

// Uniform index below n from one draw (multiply-high).
inline uint64_t below(uint64_t draw, uint64_t n) {
    return static_cast<uint64_t>((static_cast<u128>(draw) * n) >> 64);
}
// Uniform in [0, 1).
inline double unit(uint64_t draw) { return static_cast<double>(draw >> 11) * 0x1p-53; }

// Random choices shared by the workers and the submitter.
class Mover {
  public:
    Mover(const Problem& p, uint64_t seed) : pr_(p), rng_(seed) {}

    uint64_t draw() { return rng_(); }

    void random_state(std::vector<int64_t>& vals) {
        for (uint64_t i = 0; i < pr_.positions; ++i) {
            const PosData& d = pr_.pos[i];
            const uint64_t r = rng_();
            vals[i] = i < pr_.nbin ? s(r & 1)
                                   : s(u(d.lo) + (d.range == UINT64_MAX ? r : r % (d.range + 1)));
        }
    }

    // A move at a random position; false when the draw is no move.
    bool propose(const std::vector<int64_t>& vals, uint64_t& p, int64_t& n) {
        p = below(rng_(), pr_.positions);
        return move_at(vals, p, n);
    }

    bool move_at(const std::vector<int64_t>& vals, uint64_t p, int64_t& n) {
        const PosData& d = pr_.pos[p];
        const int64_t o = vals[p];
        switch (d.kind) {
            case MoveKind::Binary:
                n = 1 - o;
                return true;
            case MoveKind::Small:
                n = s(u(d.lo) + rng_() % (d.range + 1));
                return n != o;
            case MoveKind::Stepped: {
                const uint64_t r = rng_();
                return shift(d, o, uint64_t{1} << ((r >> 1) % d.steps), r & 1, n);
            }
        }
        return false;
    }

    // Changes each position with probability p (every position when p >= 1).
    void kick(std::vector<int64_t>& vals, double p) {
        for (uint64_t i = 0; i < pr_.positions; ++i) {
            if (p < 1.0 && unit(rng_()) >= p) continue;
            kick_one(vals, i);
        }
    }

    void kick_one(std::vector<int64_t>& vals, uint64_t i) {
        const PosData& d = pr_.pos[i];
        switch (d.kind) {
            case MoveKind::Binary:
                vals[i] = 1 - vals[i];
                return;
            case MoveKind::Small:
                vals[i] = s(u(d.lo) + rng_() % (d.range + 1));
                return;
            case MoveKind::Stepped: {
                const bool up = rng_() & 1;
                uint64_t dist;
                if (d.has_weight && rng_() % 10 != 0) {
                    const double x = (static_cast<double>(rng_() >> 11) + 0.5) * 0x1p-53;
                    const double jump = std::floor(std::log(x) / d.weight) + 1.0;
                    if (!(jump <= 9e18)) return;
                    dist = static_cast<uint64_t>(jump);
                } else {
                    dist = uint64_t{1} << (rng_() % d.steps);
                }
                int64_t n;
                if (shift(d, vals[i], dist, up, n)) vals[i] = n;
                return;
            }
        }
    }

    static bool shift(const PosData& d, int64_t o, uint64_t dist, bool up, int64_t& n) {
        if (up) {
            if (u(d.hi) - u(o) < dist) return false;
            n = s(u(o) + dist);
        } else {
            if (u(o) - u(d.lo) < dist) return false;
            n = s(u(o) - dist);
        }
        return true;
    }

  private:
    const Problem& pr_;
    std::mt19937_64 rng_;
};

}  // namespace dalo::int_detail
