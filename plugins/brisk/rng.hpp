// Two small fast generators (xoshiro256** seeded through splitmix64, and a counter-based one
// for the annealing sweep) and the time helpers.
#pragma once

#include <chrono>
#include <cstdint>

namespace brisk {

inline uint64_t splitmix(uint64_t& s) {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

class Rng {
  public:
    explicit Rng(uint64_t seed) {
        for (uint64_t& w : s_) w = splitmix(seed);
    }
    uint64_t operator()() {
        const uint64_t r = rotl(s_[1] * 5, 7) * 9;
        const uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return r;
    }
    // Uniform below n (n > 0) by a multiply-high.
    uint64_t below(uint64_t n) {
        __extension__ typedef unsigned __int128 u128;
        return static_cast<uint64_t>((static_cast<u128>((*this)()) * n) >> 64);
    }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>((*this)() >> 11) * 0x1p-53; }

  private:
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    uint64_t s_[4];
};

// A counter-based generator (wyrand) for the annealing sweep: its state advances by one
// addition, so successive draws do not wait on each other's multiply.
class FastRng {
  public:
    explicit FastRng(uint64_t seed) : s_(seed) {}
    uint64_t operator()() {
        __extension__ typedef unsigned __int128 u128;
        s_ += 0xA0761D6478BD642Full;
        const u128 t = static_cast<u128>(s_) * (s_ ^ 0xE7037ED1A0B428DBull);
        return static_cast<uint64_t>(t >> 64) ^ static_cast<uint64_t>(t);
    }

  private:
    uint64_t s_;
};

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace brisk
