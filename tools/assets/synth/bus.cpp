// The buses: the sidechain's shape, placing sounds, and mixing them block by block.
#include "bus.h"

#include <algorithm>
#include <cmath>

#include "maths.h"

namespace synth {

Ducker::Ducker()
    : vel_(kBars * 4 + 2, 0.0f), start_(kBars * 4 + 3),
      shape_(static_cast<size_t>(0.9 * kSamplesPerBeat)) {
    for (size_t b = 0; b < start_.size(); ++b)
        start_[b] = beatToSample(static_cast<double>(b));
    for (size_t i = 0; i < shape_.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        shape_[i] = static_cast<float>(t < 0.006 ? t / 0.006 : maths::exp(-(t - 0.006) / 0.1));
    }
}

void place(Mix &mix, StereoSoundPtr sound, int64_t start, float gain, Sends sends, float duck) {
    sound->useAt(start);
    mix.placed.push_back({std::move(sound), nullptr, start, gain, 1.0f, 1.0f, sends, duck, false});
}

void placeMono(Mix &mix, SoundPtr sound, int64_t start, float gain, float pan, Sends sends,
               float duck) {
    const double ang = (pan + 1.0) * kPi / 4.0;
    const float gl = static_cast<float>(maths::cos(ang) * std::sqrt(2.0));
    const float gr = static_cast<float>(maths::sin(ang) * std::sqrt(2.0));
    sound->useAt(start);
    mix.placed.push_back({nullptr, std::move(sound), start, gain, gl, gr, sends, duck, false});
}

void addToPad(Mix &mix, StereoSoundPtr sound, int64_t start, float gain) {
    sound->useAt(start);
    mix.placed.push_back({std::move(sound), nullptr, start, gain, 1.0f, 1.0f, {}, 0.0f, true});
}

Buses::Buses()
    : dryL(kFrames), dryR(kFrames), padL(kFrames), padR(kFrames), reverbL(kFrames),
      reverbR(kFrames), delayL(kFrames), delayR(kFrames) {}

namespace {

// Calls fn(i, k) for every sample i of a sound `length` samples long, placed at sample `start`,
// that falls in the block, k being its place in the block; in order.
template <class Fn> void forEachInBlock(const Buses &b, int64_t start, size_t length, Fn fn) {
    const int64_t first = std::max<int64_t>(0, b.from - start);
    const int64_t end = std::min<int64_t>(static_cast<int64_t>(length), b.from + b.count - start);
    for (int64_t i = first; i < end; ++i)
        fn(static_cast<size_t>(i), static_cast<int>(start + i - b.from));
}

// One sample of a placed sound, already panned: onto the dry bus and into the sends.
inline void mixSample(Buses &b, int k, float l, float r, Sends sends) {
    b.dryL[k] += l;
    b.dryR[k] += r;
    if (sends.reverb != 0) {
        b.reverbL[k] += l * sends.reverb;
        b.reverbR[k] += r * sends.reverb;
    }
    if (sends.delay != 0) {
        b.delayL[k] += l * sends.delay;
        b.delayR[k] += r * sends.delay;
    }
}

void mixPlacement(const Mix &mix, const Placement &p, Buses &b) {
    // The gain at sample n of a sound ducked under the kick.
    auto gainAt = [&](int64_t n) {
        return p.duck == 0.0f ? p.gain : p.gain * (1.0f - p.duck * mix.duck.at(n));
    };
    if (p.pad) {
        const StereoSound *sound = p.stereo->reach();
        if (!sound)
            return;
        const StereoSound &s = *sound;
        forEachInBlock(b, p.start, s.l.size(), [&](size_t i, int k) {
            b.padL[k] += s.l[i] * p.gain;
            b.padR[k] += s.r[i] * p.gain;
        });
    } else if (p.stereo) {
        const StereoSound *sound = p.stereo->reach();
        if (!sound)
            return;
        const StereoSound &s = *sound;
        forEachInBlock(b, p.start, s.l.size(), [&](size_t i, int k) {
            const float g = gainAt(b.from + k);
            mixSample(b, k, s.l[i] * g, s.r[i] * g, p.sends);
        });
    } else {
        const Sound *sound = p.mono->reach();
        if (!sound)
            return;
        const Sound &s = *sound;
        forEachInBlock(b, p.start, s.size(), [&](size_t i, int k) {
            const float g = gainAt(b.from + k);
            mixSample(b, k, s[i] * p.gl * g, s[i] * p.gr * g, p.sends);
        });
    }
}

} // namespace

void mixBlock(Mix &mix, int64_t from, int count, Buses &b) {
    b.from = from;
    b.count = count;
    for (auto *bus :
         {&b.dryL, &b.dryR, &b.padL, &b.padR, &b.reverbL, &b.reverbR, &b.delayL, &b.delayR})
        std::fill(bus->begin(), bus->begin() + count, 0.0f);
    const int64_t end = from + count;
    // Every sound placed before the block's end: rendered now if it has not been yet, skipped
    // if the mix is already past it.
    for (const Placement &p : mix.placed) {
        if (p.start < end)
            mixPlacement(mix, p, b);
    }
    for (Placement &p : mix.placed) {
        if (p.stereo)
            p.stereo->releaseBefore(end);
        else
            p.mono->releaseBefore(end);
    }
}

} // namespace synth
