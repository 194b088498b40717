// The score as mksong's command line sees it: the parts, the mix's automation, the kick plan.
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

} // namespace score
