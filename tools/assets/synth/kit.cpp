// Rendering the drum kit's takes.
#include "kit.h"

#include <algorithm>
#include <cstdint>

#include "drums.h"

namespace synth {

namespace {

// The kick through a low-pass at `hz`, a little louder to make up for what it takes away.
Sound muffle(Sound v, double hz) {
    Svf lp;
    lp.set(hz, 0.8);
    for (float &x : v)
        x = static_cast<float>(lp.tick(x) * 1.3);
    return v;
}

} // namespace

Kit::Kit(Rng &rng) : kick(synth::kick(rng)) {
    kickMuffled = muffle(kick, 260);
    kickHalfOpen = muffle(kick, 700);
    for (auto &v : claps)
        v = clap(rng);
    for (auto &v : snares)
        v = snare(rng);
    for (auto &v : closedHats)
        v = hat(rng, 0.028, 1.0);
    for (auto &v : longClosedHats)
        v = hat(rng, 0.040, 1.0);
    for (auto &v : openHats)
        v = hat(rng, 0.16, 0.92);
    for (auto &v : rides)
        v = cymbal(rng, 0.5, 1.35, 0.75);
    crash = cymbal(rng, 1.6, 1.0, 0.35);
    darkCrash = cymbal(rng, 1.6, 0.8, 0.35);

    reverseCymbal = cymbal(rng, 0.9, 1.0, 0.3, 1.6);
    Sound &l = reverseCymbal.l, &r = reverseCymbal.r;
    std::reverse(l.begin(), l.end());
    std::reverse(r.begin(), r.end());
    const int64_t fade = static_cast<int64_t>(0.006 * kRate), len = static_cast<int64_t>(l.size());
    for (int64_t i = 0; i < fade; ++i) {
        l[len - 1 - i] *= static_cast<float>(i) / fade;
        r[len - 1 - i] *= static_cast<float>(i) / fade;
    }
}

} // namespace synth
