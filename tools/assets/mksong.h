// The score as its players see it: the parts, the mix's automation, the kick plan, the render.
#pragma once
#include <vector>

#include "synth/bus.h"
#include "synth/master.h"

namespace score {

struct Kick {
    double beat;
    float velocity;
    bool muffled; // the filtered heartbeat kick
};

// Every kick drum hit, in order.
std::vector<Kick> kickPlan();
// Renders every part onto the buses of `mix`.
void arrange(synth::Mix &mix);
// What the master chain follows.
synth::MixAutomation automation();
// The whole song, arranged, mixed and mastered into `store` (kTotal stereo frames), reporting
// how far it is to `progress`; what mastering measured.
synth::Mastered render(synth::SongStore &store, const synth::Progress &progress);

} // namespace score
