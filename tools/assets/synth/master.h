// The master chain: effects, mixdown, air, DC blocker, loudness normalisation and limiting.
//
// The buses' effects, their mixdown under the piece's level automation and closing fade, a bed
// of air, a DC blocker, and loudness normalisation under the peak limiter.
#pragma once
#include "bus.h"
#include "dsp.h"

namespace synth {

// The automation the master chain follows, over bar positions.
struct MixAutomation {
    Curve padCutoff;         // the pad's low-pass, Hz
    Curve padLevel;          // the pad bus's level
    Curve level;             // the level contour of the whole mix
    double fadeFrom, fadeTo; // the closing fade to silence, from bar to bar
};

// What mastering measured on the finished samples.
struct Mastered {
    double lufs = 0, peakDb = 0;
};

// Mixes the buses into mix.dry (in place) and masters it: closing fade, DC blocker, loudness
// normalisation to `targetLufs` with the limiter in the loop, peaks at most `ceilingDb`.
Mastered mixdown(Mix &mix, const MixAutomation &automation, double targetLufs, double ceilingDb);

} // namespace synth
