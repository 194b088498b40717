// The buses: the sounds placed on them, the kick's sidechain, and their samples block by block.
//
// The arrangement does not write whole-piece tracks: it records where each sound goes, and the
// master chain asks for the buses one block at a time. Within a block every placed sound is
// added in the order it was placed, so each sample is the same sum, in single precision, as on
// a whole-piece track; only a block's worth of each bus is ever held.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "dsp.h"
#include "grid.h"

namespace synth {

// A placed sound: rendered at once (`share`) or when the mix first reaches it (`later`), and let
// go when the mix is past the last place it sounds, so that only the sounds around the current
// block are held. A drum take or a repeated note is one sound placed many times.
template <class S> class Placed {
  public:
    explicit Placed(S sound) : sound_(std::make_unique<S>(std::move(sound))) {}
    explicit Placed(std::function<S()> make) : make_(std::move(make)) {}
    // The samples, rendered if need be; nullptr once they have been let go.
    const S *reach() {
        if (released_)
            return nullptr;
        if (!sound_)
            sound_ = std::make_unique<S>(make_());
        return sound_.get();
    }
    // Called for each place it is put; the latest start decides when it is let go.
    void useAt(int64_t start) { lastStart_ = std::max(lastStart_, start); }
    // Lets the samples go if the mix is done with them once it reaches sample `upTo`.
    void releaseBefore(int64_t upTo) {
        if (sound_ && lastStart_ + static_cast<int64_t>(length()) <= upTo) {
            sound_.reset();
            released_ = true;
        }
    }
    // Its length in samples, once rendered.
    size_t length() const;

  private:
    std::function<S()> make_;
    std::unique_ptr<S> sound_;
    int64_t lastStart_ = INT64_MIN;
    bool released_ = false;
};
template <> inline size_t Placed<Sound>::length() const {
    return sound_->size();
}
template <> inline size_t Placed<StereoSound>::length() const {
    return sound_->l.size();
}

using SoundPtr = std::shared_ptr<Placed<Sound>>;
using StereoSoundPtr = std::shared_ptr<Placed<StereoSound>>;
inline SoundPtr share(Sound s) {
    return std::make_shared<Placed<Sound>>(std::move(s));
}
inline StereoSoundPtr share(StereoSound s) {
    return std::make_shared<Placed<StereoSound>>(std::move(s));
}
template <class Make> auto later(Make make) {
    using S = decltype(make());
    return std::make_shared<Placed<S>>(std::function<S()>(std::move(make)));
}

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

// A sound on a bus: on the dry bus with its sends, stereo or mono (panned by the gains gl and
// gr), or on the pad bus.
struct Placement {
    StereoSoundPtr stereo;
    SoundPtr mono;
    int64_t start;
    float gain, gl, gr;
    Sends sends;
    float duck; // 0 to 1: how far it ducks under the kick
    bool pad;
};

// The buses: everything mixed as it is placed (drums, bass, lead lines, effects) on the dry
// bus, the pad (filtered as a whole by the master chain), and the reverb and delay sends.
struct Mix {
    std::vector<Placement> placed; // in the order placed
    Ducker duck;
};

// Places a rendered stereo sound at sample `start` on the dry bus, with sends, ducked under the
// kick by `duck` (0 to 1).
void place(Mix &mix, StereoSoundPtr sound, int64_t start, float gain, Sends sends = {},
           float duck = 0.0f);
// The same for a mono sound, panned by `pan` (-1 left to 1 right) at constant power.
void placeMono(Mix &mix, SoundPtr sound, int64_t start, float gain, float pan, Sends sends = {},
               float duck = 0.0f);
// Adds a stereo sound to the pad bus from sample `start` on, scaled by `gain`.
void addToPad(Mix &mix, StereoSoundPtr sound, int64_t start, float gain);

// One block of every bus, stereo, from sample `from` on.
struct Buses {
    static constexpr int kFrames = 8192;
    int64_t from = 0;
    int count = 0;
    std::vector<float> dryL, dryR, padL, padR, reverbL, reverbR, delayL, delayR;
    Buses();
};

// Fills `out` with the buses' samples [from, from + count): every placed sound that sounds
// there, in the order placed. Blocks must come in order: sounds are rendered on the way and let
// go behind it.
void mixBlock(Mix &mix, int64_t from, int count, Buses &out);

} // namespace synth
