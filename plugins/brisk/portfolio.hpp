// Which search a thread runs next: annealing runs or breakout local search, each drawn with a
// share that follows what its recent episodes added to the elite pool per unit of work, and
// never below a tenth while both may run. Work is counted in flips and visits rather than
// seconds so that one thread with a fixed seed repeats itself. Not locked: the caller holds
// the search's lock.
#pragma once

#include <algorithm>
#include <cstdint>

namespace brisk {

enum class Kind : uint8_t { kAnnealing = 0, kBreakout = 1 };

inline const char* kind_name(Kind k) { return k == Kind::kAnnealing ? "annealing" : "breakout"; }

class Portfolio {
  public:
    static constexpr int kKinds = 2;
    static constexpr double kFloor = 0.1;    // smallest share of a kind that may run
    static constexpr double kMemory = 0.97;  // weight of the past at each episode of a kind

    Portfolio(bool annealing, bool breakout) {
        allowed_[0] = annealing;
        allowed_[1] = breakout;
    }

    // The kind of the next episode, from r uniform in [0, 1).
    Kind choose(double r) const {
        if (!allowed_[0]) return Kind::kBreakout;
        if (!allowed_[1]) return Kind::kAnnealing;
        return r < share(Kind::kAnnealing) ? Kind::kAnnealing : Kind::kBreakout;
    }

    // The chance of each kind: squared rates of reward per work, so that the better kind gets
    // most of the time, shares clamped to [floor, 1 - floor].
    double share(Kind k) const {
        double a = reward_[0] / work_[0], b = reward_[1] / work_[1];
        a *= a;
        b *= b;
        const double s = a + b > 0 ? a / (a + b) : 0.5;
        const double sa = std::clamp(s, kFloor, 1.0 - kFloor);
        return k == Kind::kAnnealing ? sa : 1.0 - sa;
    }

    void report(Kind k, double reward, double work, double seconds) {
        const int i = static_cast<int>(k);
        reward_[i] = kMemory * reward_[i] + reward;
        work_[i] = kMemory * work_[i] + std::max(work, 1.0);
        seconds_[i] += seconds;
    }

    // Each kind's part of the time spent in episodes so far.
    double time_share(Kind k) const {
        const double total = seconds_[0] + seconds_[1];
        if (total <= 0) return allowed_[static_cast<int>(k)] && !allowed_[1 - static_cast<int>(k)];
        return seconds_[static_cast<int>(k)] / total;
    }

  private:
    bool allowed_[kKinds] = {true, true};
    // Each kind starts as if a few episodes of average length had earned a fifth of a reward.
    double reward_[kKinds] = {0.2, 0.2};
    double work_[kKinds] = {1e7, 1e7};
    double seconds_[kKinds] = {0.0, 0.0};
};

}  // namespace brisk
