// The buses: their memory, the sidechain's shape, and the mixing of sounds onto them.
#include "bus.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "maths.h"

namespace synth {

namespace {
constexpr size_t kTrackBytes = static_cast<size_t>(kBars * 4 * kSamplesPerBeat + 2) * sizeof(float);
} // namespace

Track::Track() {
    void *p =
        mmap(nullptr, kTrackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        std::fprintf(stderr, "mksong: out of memory\n");
        std::exit(1);
    }
    madvise(p, kTrackBytes, MADV_HUGEPAGE); // advice only; failure is harmless
    data_ = static_cast<float *>(p);
}

Track::~Track() {
    munmap(data_, kTrackBytes);
}

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

namespace {

// Calls fn(i, n) for every sample i of a sound `length` samples long, placed at sample `start`,
// whose position n lies inside the piece, in order.
template <class Fn> void forEachInPiece(int64_t start, size_t length, Fn fn) {
    const int64_t first = std::max<int64_t>(0, -start);
    const int64_t end = std::min<int64_t>(static_cast<int64_t>(length), kTotal - start);
    for (int64_t i = first; i < end; ++i)
        fn(static_cast<size_t>(i), start + i);
}

// The gain at sample n of a sound ducked under the kick by `duck` (0: not at all).
inline float duckedGain(const Mix &mix, int64_t n, float gain, float duck) {
    return duck == 0.0f ? gain : gain * (1.0f - duck * mix.duck.at(n));
}

// One sample of a placed sound, already panned: onto the dry bus and into the sends.
inline void mixSample(Mix &mix, int64_t n, float a, float b, Sends sends) {
    mix.dry.l[n] += a;
    mix.dry.r[n] += b;
    if (sends.reverb != 0) {
        mix.reverb.l[n] += a * sends.reverb;
        mix.reverb.r[n] += b * sends.reverb;
    }
    if (sends.delay != 0) {
        mix.delay.l[n] += a * sends.delay;
        mix.delay.r[n] += b * sends.delay;
    }
}

} // namespace

void addTo(StereoBus &bus, const StereoSound &sound, int64_t start, float gain) {
    forEachInPiece(start, sound.l.size(), [&](size_t i, int64_t n) {
        bus.l[n] += sound.l[i] * gain;
        bus.r[n] += sound.r[i] * gain;
    });
}

void place(Mix &mix, const StereoSound &sound, int64_t start, float gain, Sends sends, float duck) {
    forEachInPiece(start, sound.l.size(), [&](size_t i, int64_t n) {
        const float g = duckedGain(mix, n, gain, duck);
        mixSample(mix, n, sound.l[i] * g, sound.r[i] * g, sends);
    });
}

void placeMono(Mix &mix, const Sound &sound, int64_t start, float gain, float pan, Sends sends,
               float duck) {
    const double ang = (pan + 1.0) * kPi / 4.0;
    const float gl = static_cast<float>(maths::cos(ang) * std::sqrt(2.0));
    const float gr = static_cast<float>(maths::sin(ang) * std::sqrt(2.0));
    forEachInPiece(start, sound.size(), [&](size_t i, int64_t n) {
        const float g = duckedGain(mix, n, gain, duck);
        mixSample(mix, n, sound[i] * gl * g, sound[i] * gr * g, sends);
    });
}

} // namespace synth
