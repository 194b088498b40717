// Deterministic noise: splitmix64 generators, one per use, seeded by name.
//
// Nothing in the piece depends on the clock, the environment or the order threads run in.
#pragma once
#include <cstdint>

namespace synth {

class Rng {
  public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // [-1, 1), in steps of 2^-23: white noise.
    float bipolar() { return static_cast<float>(next() >> 40) * (2.0f / 16777216.0f) - 1.0f; }
    // [0, 1), in steps of 2^-53: random phases.
    double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

  private:
    uint64_t s_;
};

} // namespace synth
