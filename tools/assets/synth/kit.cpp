// Rendering the drum kit's takes.
#include "kit.h"

#include <algorithm>
#include <cstdint>
#include <utility>

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

Kit::Kit(Rng &rng) {
    const Sound plain = synth::kick(rng);
    kick = share(plain);
    kickMuffled = share(muffle(plain, 260));
    kickHalfOpen = share(muffle(plain, 700));
    for (auto &v : claps)
        v = share(clap(rng));
    for (auto &v : snares)
        v = share(snare(rng));
    for (auto &v : closedHats)
        v = share(hat(rng, 0.028, 1.0));
    for (auto &v : longClosedHats)
        v = share(hat(rng, 0.040, 1.0));
    for (auto &v : openHats)
        v = share(hat(rng, 0.16, 0.92));
    for (auto &v : rides)
        v = share(cymbal(rng, 0.5, 1.35, 0.75));
    crash = share(cymbal(rng, 1.6, 1.0, 0.35));
    darkCrash = share(cymbal(rng, 1.6, 0.8, 0.35));

    StereoSound reverse = cymbal(rng, 0.9, 1.0, 0.3, 1.6);
    Sound &l = reverse.l, &r = reverse.r;
    std::reverse(l.begin(), l.end());
    std::reverse(r.begin(), r.end());
    const int64_t fade = static_cast<int64_t>(0.006 * kRate), len = static_cast<int64_t>(l.size());
    for (int64_t i = 0; i < fade; ++i) {
        l[len - 1 - i] *= static_cast<float>(i) / fade;
        r[len - 1 - i] *= static_cast<float>(i) / fade;
    }
    reverseCymbal = share(std::move(reverse));
}

} // namespace synth
