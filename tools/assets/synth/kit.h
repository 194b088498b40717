// The drum kit: a few takes of each drum and cymbal sound, played round-robin.
//
// Every take is rendered once, from one noise generator, so that no two neighbouring hits are
// quite the same.
#pragma once
#include <array>
#include <cstddef>

#include "dsp.h"
#include "noise.h"

namespace synth {

class Kit {
  public:
    // Renders every take, drawing its noise from `rng` in a fixed order.
    explicit Kit(Rng &rng);

    Sound kick;
    Sound kickMuffled;  // through a wall: a heartbeat
    Sound kickHalfOpen; // the wall thinning
    std::array<StereoSound, 4> claps;
    std::array<Sound, 6> snares;
    std::array<Sound, 8> closedHats, longClosedHats;
    std::array<Sound, 4> openHats;
    std::array<StereoSound, 4> rides;
    StereoSound crash, darkCrash;
    // A crash played backwards, ending in a quick fade: it swells into a hit.
    StereoSound reverseCymbal;

    // The next take from `takes`. One counter runs through all the round-robin sounds, in the
    // order they are played.
    template <class Take, size_t count> const Take &next(const std::array<Take, count> &takes) {
        return takes[take_++ % count];
    }

  private:
    int take_ = 0;
};

} // namespace synth
