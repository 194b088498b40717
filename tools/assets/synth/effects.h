// The effects on the send buses and the pad bus: reverb, ping-pong delay and the pad's filter,
// each taking one stereo sample at a time, in order, so that the master chain runs them side by
// side over the blocks of the buses.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsp.h"

namespace synth {

// Freeverb-style stereo reverb with a 20 ms pre-delay.
class Reverb {
  public:
    Reverb(float roomSize, float damp);
    void tick(float inL, float inR, float &outL, float &outR);

  private:
    struct Comb {
        std::vector<float> buf;
        size_t i = 0;
        float store = 0;
        explicit Comb(size_t n) : buf(n, 0) {}
    };
    struct Allpass {
        std::vector<float> buf;
        size_t i = 0;
        explicit Allpass(size_t n) : buf(n, 0) {}
    };
    float roomSize_, damp_;
    std::vector<Comb> cl_, cr_;
    std::vector<Allpass> al_, ar_;
    std::vector<float> dl_, dr_; // the pre-delay
    size_t pi_ = 0;
    Svf hpl_, hpr_;
};

// Ping-pong delay of a dotted eighth, darkened on every repeat; what comes out is the echoes.
class PingPongDelay {
  public:
    PingPongDelay();
    void tick(float inL, float inR, float &outL, float &outR);

  private:
    std::vector<float> bl_, br_;
    size_t i_ = 0;
    double lpL_ = 0, lpR_ = 0, a_;
};

// The pad bus's low-pass, whose cutoff follows `cutoff` (Hz over bars) with a slow wobble, and
// its level curve `level`; sample n of the piece.
class PadFilter {
  public:
    PadFilter(const Curve &cutoff, const Curve &level) : cutoff_(cutoff), level_(level) {}
    void tick(int64_t n, float &l, float &r);

  private:
    const Curve &cutoff_, &level_;
    Svf fl_, fr_;
    double lvl_ = 1;
};

} // namespace synth
