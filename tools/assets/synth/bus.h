// The buses: whole-piece stereo tracks, the kick's sidechain, placing sounds with their sends.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsp.h"
#include "grid.h"

namespace synth {

// kTotal zeroed floats, straight from the kernel: fresh anonymous pages are zero, so there is no
// clearing pass, and huge pages (where the system offers them) keep the page faults few.
class Track {
  public:
    Track();
    ~Track();
    Track(const Track &) = delete;
    Track &operator=(const Track &) = delete;
    float *data() const { return data_; }

  private:
    float *data_;
};

// A stereo bus over the whole piece.
struct StereoBus {
    Track left, right;
    float *const l = left.data();
    float *const r = right.data();
};

// Sidechain: the kick on each beat (its velocity, 0 where there is none) and the shape of the
// dip after a kick, shared by every part that ducks under it.
class Ducker {
  public:
    Ducker();
    void kick(int beat, float velocity) { vel_[beat] = velocity; }
    // 0 between kicks, up to the kick's velocity just after one.
    float at(int64_t n) const {
        int64_t b = static_cast<int64_t>(n * (1.0 / kSamplesPerBeat));
        if (b < 0 || b >= static_cast<int64_t>(vel_.size()))
            return 0.0f;
        if (start_[b] > n)
            --b;
        if (start_[b + 1] <= n)
            ++b;
        if (b < 0)
            return 0.0f;
        const int64_t off = n - start_[b];
        return off < static_cast<int64_t>(shape_.size()) ? shape_[off] * vel_[b] : 0.0f;
    }

  private:
    std::vector<float> vel_;
    std::vector<int64_t> start_;
    std::vector<float> shape_;
};

// How much of a sound also goes to the reverb and the delay.
struct Sends {
    float reverb = 0, delay = 0;
};

// The buses: everything that is mixed as it is placed (drums, bass, lead lines, effects), the
// pad (filtered as a whole later), and the reverb and delay sends.
struct Mix {
    StereoBus dry, pad, reverb, delay;
    Ducker duck;
};

// Adds a stereo sound to a bus from sample `start` on, scaled by `gain`.
void addTo(StereoBus &bus, const StereoSound &sound, int64_t start, float gain);

// Places a rendered stereo sound at sample `start` on the dry bus, with sends, ducked under the
// kick by `duck` (0 to 1).
void place(Mix &mix, const StereoSound &sound, int64_t start, float gain, Sends sends = {},
           float duck = 0.0f);

// The same for a mono sound, panned by `pan` (-1 left to 1 right) at constant power.
void placeMono(Mix &mix, const Sound &sound, int64_t start, float gain, float pan, Sends sends = {},
               float duck = 0.0f);

} // namespace synth
