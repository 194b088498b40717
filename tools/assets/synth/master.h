// The master chain: effects, mixdown, air, DC blocker, loudness normalisation and limiting.
//
// The buses' effects, their mixdown under the piece's level automation and closing fade, a bed
// of air, a DC blocker, and loudness normalisation under the peak limiter.
#pragma once
#include <cstdint>
#include <functional>

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

// Where the master goes: the whole piece, kTotal stereo frames, written in blocks and read back
// in blocks (the loudness search goes over it several times); it ends holding the finished song.
class SongStore {
  public:
    virtual ~SongStore() = default;
    virtual void write(int64_t at, const float *l, const float *r, int count) = 0;
    virtual void read(int64_t at, float *l, float *r, int count) = 0;
};

// How far the work is, 0 to 1.
using Progress = std::function<void(double)>;

// Mixes the buses into `store` and masters it there: closing fade, DC blocker, loudness
// normalisation to `targetLufs` with the limiter in the loop, peaks at most `ceilingDb`.
Mastered mixdown(Mix &mix, const MixAutomation &automation, double targetLufs, double ceilingDb,
                 SongStore &store, const Progress &progress);

} // namespace synth
