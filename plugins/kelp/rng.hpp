// The plug-in's random numbers: xorshift-multiply seeded through splitmix64.
#pragma once

#include <cstdint>

namespace kelp {

class Rng {
  public:
    explicit Rng(uint64_t seed) : s_(seed) {
        for (int k = 0; k < 4; ++k) next_seed();
        if (s_ == 0) s_ = 0x2545F4914F6CDD1Dull;
    }
    uint64_t operator()() {
        s_ ^= s_ >> 12;
        s_ ^= s_ << 25;
        s_ ^= s_ >> 27;
        return s_ * 0x2545F4914F6CDD1Dull;
    }
    uint64_t below(uint64_t n) {
        __extension__ typedef unsigned __int128 u128;
        return static_cast<uint64_t>((static_cast<u128>((*this)()) * n) >> 64);
    }
    double unit() { return static_cast<double>((*this)() >> 11) * 0x1p-53; }

  private:
    void next_seed() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        s_ = z ^ (z >> 31);
    }
    uint64_t s_;
};

}  // namespace kelp
