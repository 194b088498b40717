// The drum kit: a few takes of each drum and cymbal sound, played round-robin.
//
// Every take is rendered once, from one noise generator, so that no two neighbouring hits are
// quite the same.
#pragma once
#include <array>
#include <cstddef>

#include "bus.h"
#include "dsp.h"
#include "noise.h"

namespace synth {

class Kit {
  public:
    // Renders every take, drawing its noise from `rng` in a fixed order.
    explicit Kit(Rng &rng);

    SoundPtr kick;
    SoundPtr kickMuffled;  // through a wall: a heartbeat
    SoundPtr kickHalfOpen; // the wall thinning
    std::array<StereoSoundPtr, 4> claps;
    std::array<SoundPtr, 6> snares;
    std::array<SoundPtr, 8> closedHats, longClosedHats;
    std::array<SoundPtr, 4> openHats;
    std::array<StereoSoundPtr, 4> rides;
    StereoSoundPtr crash, darkCrash;
    // A crash played backwards, ending in a quick fade: it swells into a hit.
    StereoSoundPtr reverseCymbal;

    // The next take from `takes`. One counter runs through all the round-robin sounds, in the
    // order they are played.
    template <class Take, size_t count> const Take &next(const std::array<Take, count> &takes) {
        return takes[take_++ % count];
    }

  private:
    int take_ = 0;
};

} // namespace synth
