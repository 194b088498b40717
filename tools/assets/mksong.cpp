// mksong: composes and renders the Vellamor soundtrack, data/ruvo_megasong_bpm_124c.ogg.
//
// A small synthesizer and sequencer. The piece is written on the show's bar grid (124 BPM, four
// beats to the bar, bar n starting at n x 1935.484 ms, the first bar at 0 s exactly): chords,
// bass lines, melodies and drum patterns are placed per bar by the arrangement below, rendered
// note by note into float buses, processed (bus filters, sidechain, delay, reverb), mixed,
// normalised to about -14 LUFS under a look-ahead peak limiter and encoded with libvorbisenc.
//
// The form follows the show's timeline, in A minor:
//   bars  0-9   intro under the fade from black: pad swelling in, a muffled heartbeat kick,
//               plucked arpeggio from bar 2, hats from bar 4, a riser into
//   bar  10     the camera cut: crash, the full kick, the sub; bass and arpeggio return at 11,
//   bars 11-19  growth while the towers break apart: claps, open hats, a first hint of the theme,
//   bars 20-24  the darkening: Dm Bb F E, closed filters, rolling bass, a snare build,
//   bars 25-29  lift as the logo appears: the main theme, everything open,
//   bars 30-31  falling away into the fade to black: drums out, a downlifter, the heartbeat,
//   bars 32-41  movement two, the full beat; bass from 33, the arpeggio hook from 34,
//   bars 42-52  the camera rises: a second, higher theme, ride and off-beat hats, a build,
//   bars 53-59  the colder turn as the arc greys: glassy pad, bells, long sub notes,
//   bars 60-66  the closing fade with the picture's (to silence at bar 66.2), the drums leaving
//               one by one; then a breath of air to the end (bar 69, 133.5 s).
//
// Deterministic: all noise comes from seeded generators of our own, nothing reads the clock or
// the environment, and the Ogg stream serial number is fixed, so the same source and build give
// the same file byte for byte.
#include <sys/mman.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "outfile.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Time grid

constexpr int kRate = 44100;
constexpr double kBpm = 124.0;
constexpr double kSamplesPerBeat = 60.0 / kBpm * kRate; // 21338.709677...
constexpr int kBars = 69;                               // 133.5 s: outlasts the show (129.7 s)
constexpr double kPi = 3.14159265358979323846;

const int64_t kTotal = static_cast<int64_t>(std::ceil(kBars * 4 * kSamplesPerBeat));

inline int64_t beatToSample(double beat) {
    return std::llround(beat * kSamplesPerBeat);
}
inline double bars(double b) {
    return 4.0 * b;
} // bar position -> beat position
inline double midiHz(double note) {
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

// ---------------------------------------------------------------------------------------------
// Deterministic noise: splitmix64, one generator per use, seeded by name.

class Rng {
  public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    float uni() {
        return static_cast<float>(next() >> 40) * (2.0f / 16777216.0f) - 1.0f;
    } // [-1, 1)
    double unit() {
        return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);
    } // [0, 1)

  private:
    uint64_t s_;
};

// ---------------------------------------------------------------------------------------------
// DSP building blocks

// Topology-preserving state-variable filter (Zavalishin / Simper).
struct Svf {
    double ic1 = 0, ic2 = 0, a1 = 1, a2 = 0, a3 = 0, k = 1;
    void set(double hz, double q) {
        hz = std::clamp(hz, 10.0, kRate * 0.45);
        const double g = std::tan(kPi * hz / kRate);
        k = 1.0 / q;
        a1 = 1.0 / (1.0 + g * (g + k));
        a2 = g * a1;
        a3 = g * a2;
    }
    // Returns low-pass; band and high available through the out-parameters.
    double tick(double v0, double *band = nullptr, double *high = nullptr) {
        const double v3 = v0 - ic2;
        const double v1 = a1 * ic1 + a2 * v3;
        const double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2 * v1 - ic1;
        ic2 = 2 * v2 - ic2;
        if (band)
            *band = v1;
        if (high)
            *high = v0 - k * v1 - v2;
        return v2;
    }
};

struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0, z1 = 0, z2 = 0;
    double tick(double x) {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

// Sine of a phase given in cycles, from a table with linear interpolation (error < 1e-7).
class SineTable {
  public:
    SineTable() {
        for (int i = 0; i <= kSize; ++i)
            t_[i] = std::sin(2.0 * kPi * i / kSize);
    }
    double operator()(double cycles) const {
        const double x = (cycles - std::floor(cycles)) * kSize;
        const int i = static_cast<int>(x);
        const double f = x - i;
        return t_[i] + (t_[i + 1] - t_[i]) * f;
    }

  private:
    static constexpr int kSize = 8192;
    std::array<double, kSize + 1> t_{};
};
const SineTable fsin;

inline double polyblep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

// Band-limited sawtooth and pulse oscillators.
struct Osc {
    double phase = 0;
    double saw(double hz) {
        const double dt = hz / kRate;
        const double v = 2.0 * phase - 1.0 - polyblep(phase, dt);
        phase += dt;
        if (phase >= 1.0)
            phase -= 1.0;
        return v;
    }
    double pulse(double hz, double width) {
        const double dt = hz / kRate;
        double v = phase < width ? 1.0 : -1.0;
        v += polyblep(phase, dt);
        double t2 = phase - width;
        if (t2 < 0)
            t2 += 1.0;
        v -= polyblep(t2, dt);
        phase += dt;
        if (phase >= 1.0)
            phase -= 1.0;
        return v;
    }
    double sine(double hz) {
        const double v = fsin(phase);
        phase += hz / kRate;
        if (phase >= 1.0)
            phase -= 1.0;
        return v;
    }
};

// Attack / decay / sustain / release, all times in seconds; `held` is the gate length.
inline double adsr(double t, double held, double a, double d, double s, double r) {
    auto gate = [&](double u) {
        if (u < a)
            return u / a;
        if (u < a + d)
            return 1.0 - (1.0 - s) * (u - a) / d;
        return s;
    };
    if (t < held)
        return gate(t);
    const double end = gate(held);
    const double u = t - held;
    return u >= r ? 0.0 : end * (1.0 - u / r) * (1.0 - u / r);
}

// ---------------------------------------------------------------------------------------------
// Buses

// kTotal zeroed floats, straight from the kernel: fresh anonymous pages are zero, so there is no
// clearing pass, and huge pages (where the system offers them) keep the page faults few.
class Track {
  public:
    Track() {
        void *p = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            std::fprintf(stderr, "mksong: out of memory\n");
            std::exit(1);
        }
        madvise(p, kBytes, MADV_HUGEPAGE); // advice only; failure is harmless
        data_ = static_cast<float *>(p);
    }
    ~Track() { munmap(data_, kBytes); }
    Track(const Track &) = delete;
    Track &operator=(const Track &) = delete;
    float *data() const { return data_; }

  private:
    static constexpr size_t kBytes =
        static_cast<size_t>(kBars * 4 * kSamplesPerBeat + 2) * sizeof(float);
    float *data_;
};

// A stereo bus over the whole piece.
struct Buf {
    Track left, right;
    float *const l = left.data();
    float *const r = right.data();
};

// Sidechain: the kick on each beat (its velocity, 0 where there is none) and the shape of the
// dip after a kick, shared by every part that ducks under it.
class Ducker {
  public:
    Ducker()
        : vel_(kBars * 4 + 2, 0.0f), start_(kBars * 4 + 3),
          shape_(static_cast<size_t>(0.9 * kSamplesPerBeat)) {
        for (size_t b = 0; b < start_.size(); ++b)
            start_[b] = beatToSample(static_cast<double>(b));
        for (size_t i = 0; i < shape_.size(); ++i) {
            const double t = static_cast<double>(i) / kRate;
            shape_[i] = static_cast<float>(t < 0.006 ? t / 0.006 : std::exp(-(t - 0.006) / 0.1));
        }
    }
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

struct Sends {
    float reverb = 0, delay = 0;
};

// The buses: everything that is mixed as it is placed (drums, bass, lead lines, effects), the
// pad (filtered as a whole later), and the reverb and delay sends.
struct Mix {
    Buf dry, pad, reverb, delay;
    Ducker duck;
};

void addTo(Buf &bus, const std::vector<float> &l, const std::vector<float> &r, int64_t start,
           float gain) {
    for (size_t i = 0; i < l.size(); ++i) {
        const int64_t n = start + static_cast<int64_t>(i);
        if (n < 0)
            continue;
        if (n >= kTotal)
            break;
        bus.l[n] += l[i] * gain;
        bus.r[n] += r[i] * gain;
    }
}

// Places a rendered stereo sound at sample `start` on the dry bus, with sends, ducked under the
// kick by `duck` (0 to 1).
void place(Mix &mix, const std::vector<float> &l, const std::vector<float> &r, int64_t start,
           float gain, Sends sends = {}, float duck = 0.0f) {
    for (size_t i = 0; i < l.size(); ++i) {
        const int64_t n = start + static_cast<int64_t>(i);
        if (n < 0)
            continue;
        if (n >= kTotal)
            break;
        const float g = duck == 0.0f ? gain : gain * (1.0f - duck * mix.duck.at(n));
        const float a = l[i] * g, b = r[i] * g;
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
}

void placeMono(Mix &mix, const std::vector<float> &m, int64_t start, float gain, float pan,
               Sends sends = {}, float duck = 0.0f) {
    const double ang = (pan + 1.0) * kPi / 4.0;
    const float gl = static_cast<float>(std::cos(ang) * std::sqrt(2.0));
    const float gr = static_cast<float>(std::sin(ang) * std::sqrt(2.0));
    for (size_t i = 0; i < m.size(); ++i) {
        const int64_t n = start + static_cast<int64_t>(i);
        if (n < 0)
            continue;
        if (n >= kTotal)
            break;
        const float g = duck == 0.0f ? gain : gain * (1.0f - duck * mix.duck.at(n));
        const float a = m[i] * gl * g, b = m[i] * gr * g;
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
}

// ---------------------------------------------------------------------------------------------
// Automation: piecewise curves over bar positions.

struct Curve {
    std::vector<std::pair<double, double>> pts; // (bar, value), bars ascending
    bool exponential = false;                   // interpolate in the log domain (frequencies)
    double at(double bar) const {
        if (bar <= pts.front().first)
            return pts.front().second;
        if (bar >= pts.back().first)
            return pts.back().second;
        for (size_t i = 1; i < pts.size(); ++i) {
            if (bar < pts[i].first) {
                const auto &p = pts[i - 1], &q = pts[i];
                const double x = (bar - p.first) / (q.first - p.first);
                if (exponential)
                    return p.second * std::pow(q.second / p.second, x);
                return p.second + (q.second - p.second) * x;
            }
        }
        return pts.back().second;
    }
};

inline double sampleBar(int64_t n) {
    return n / (4.0 * kSamplesPerBeat);
}

// ---------------------------------------------------------------------------------------------
// Harmony: one chord per bar.

struct Chord {
    int bass;               // bass note (octave 2), MIDI
    std::array<int, 4> pad; // pad voicing, MIDI
};

enum ChordName { Am, F, C, G, Dm, E, E7, Esus, Bb, Em, Am9c, Em7c, Fl, Dm9c };

Chord chordOf(ChordName c) {
    switch (c) {
    case Am:
        return {45, {57, 60, 64, 71}};
    case F:
        return {41, {57, 60, 64, 67}};
    case C:
        return {48, {55, 60, 64, 67}};
    case G:
        return {43, {55, 59, 62, 67}};
    case Dm:
        return {38, {57, 60, 62, 65}};
    case E:
        return {40, {56, 59, 64, 68}};
    case E7:
        return {40, {56, 59, 62, 64}};
    case Esus:
        return {40, {57, 59, 64, 69}};
    case Bb:
        return {46, {58, 62, 65, 69}};
    case Em:
        return {40, {55, 59, 62, 64}};
    case Am9c:
        return {45, {55, 59, 60, 64}};
    case Em7c:
        return {40, {59, 62, 64, 67}};
    case Fl:
        return {41, {57, 59, 64, 67}};
    case Dm9c:
        return {38, {53, 57, 60, 64}};
    }
    return {45, {57, 60, 64, 71}};
}

// The chord of every bar, written against the show's timeline (see the section comments in
// arrange()).
const ChordName kChords[kBars] = {
    Am,   Am,   F,  F,    C,    C,    G,    G,  F,  Esus, // 0-9   intro under the fade from black
    Am,   F,    C,  G,    Am,   F,    C,    G,  Dm, E,    // 10-19 the cut, then growth
    Dm,   Bb,   F,  E,    E7,                             // 20-24 darkening, build
    Am,   F,    C,  G,    Am,                             // 25-29 lift: the logo
    F,    Esus,                                           // 30-31 falling away
    Am,   F,    C,  G,    Am,   F,    C,    G,  Dm, E,    // 32-41 movement two, full beat
    F,    G,    Em, Am,   F,    G,    Em,   Am, Dm, F,    E, // 42-52 the camera rises
    Am9c, Em7c, Fl, Em7c, Dm9c, Em7c, Esus,                  // 53-59 colder
    Am,   F,    C,  G,    Am,   F,    Am,   Am, Am,          // 60-68 closing fade and tail
};

// ---------------------------------------------------------------------------------------------
// Instruments. Each renders one note into a buffer that starts at the note's onset.

// Fades the last `seconds` of a rendered sound to zero, so that cutting off a long decay never
// clicks.
void fadeTail(std::vector<float> &v, double seconds) {
    const size_t n = std::min(v.size(), static_cast<size_t>(seconds * kRate));
    for (size_t i = 0; i < n; ++i)
        v[v.size() - 1 - i] *= static_cast<float>(i) / static_cast<float>(n);
}

std::vector<float> kick(Rng &rng, double decay = 0.19) {
    const int n = static_cast<int>(0.55 * kRate);
    std::vector<float> out(n);
    double ph = 0, prevNoise = 0;
    Svf top; // the "tick" layer: a short burst of bright noise that marks the beat
    top.set(4200, 0.9);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double hz = 51.0 + 120.0 * std::exp(-t / 0.03) + 260.0 * std::exp(-t / 0.005);
        ph += hz / kRate;
        double amp = std::exp(-t / decay);
        if (t > 0.42)
            amp *= std::max(0.0, 1.0 - (t - 0.42) / 0.13);
        const double body = std::tanh(2.2 * fsin(ph) * amp) / std::tanh(2.2);
        const double nz = rng.uni();
        const double click = (nz - prevNoise) * 0.5 * std::exp(-t / 0.0015);
        prevNoise = nz;
        double tick = 0;
        top.tick(nz, &tick);
        tick *= std::exp(-t / 0.009);
        out[i] = static_cast<float>(0.92 * body + 0.45 * click + 0.35 * tick);
    }
    return out;
}

// A clap over a short snare body; stereo through decorrelated noise.
void clap(Rng &rng, std::vector<float> &l, std::vector<float> &r) {
    const int n = static_cast<int>(0.45 * kRate);
    l.assign(n, 0);
    r.assign(n, 0);
    Svf bl, br;
    bl.set(1350, 1.1);
    br.set(1500, 1.1);
    Osc body;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double env = 0;
        for (double b : {0.0, 0.0095, 0.019}) {
            if (t >= b)
                env += std::exp(-(t - b) / 0.0055) * (t < b + 0.012 ? 1.0 : 0.0);
        }
        if (t >= 0.026)
            env += 0.85 * std::exp(-(t - 0.026) / 0.13);
        const double common = rng.uni();
        const double nl = 0.7 * common + 0.3 * rng.uni(), nr = 0.7 * common + 0.3 * rng.uni();
        double bandL = 0, bandR = 0, highL = 0, highR = 0;
        bl.tick(nl, &bandL, &highL);
        br.tick(nr, &bandR, &highR);
        const double snare =
            body.sine(188.0 + 40.0 * std::exp(-t / 0.01)) * std::exp(-t / 0.055) * 0.45;
        l[i] = static_cast<float>(env * (1.6 * bandL + 0.25 * highL) + snare);
        r[i] = static_cast<float>(env * (1.6 * bandR + 0.25 * highR) + snare);
    }
    fadeTail(l, 0.08);
    fadeTail(r, 0.08);
}

// Snare for rolls: body and bright noise, short.
std::vector<float> snare(Rng &rng) {
    const int n = static_cast<int>(0.22 * kRate);
    std::vector<float> out(n);
    Svf hp;
    hp.set(2200, 0.8);
    Osc body;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double high = 0;
        hp.tick(rng.uni(), nullptr, &high);
        const double tone = body.sine(200.0 + 60.0 * std::exp(-t / 0.008)) * std::exp(-t / 0.045);
        out[i] = static_cast<float>(0.55 * tone + 0.8 * high * std::exp(-t / 0.07));
    }
    fadeTail(out, 0.05);
    return out;
}

// Metallic cymbal source: six detuned square waves (the classic analogue hat recipe) plus noise.
struct Metal {
    std::array<Osc, 6> osc;
    double tick(double scale, Rng &rng, double noiseMix) {
        static constexpr std::array<double, 6> f = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
        double s = 0;
        for (int k = 0; k < 6; ++k)
            s += osc[k].pulse(f[k] * scale, 0.5);
        return s / 6.0 * (1.0 - noiseMix) + rng.uni() * noiseMix;
    }
};

std::vector<float> hat(Rng &rng, double decay, double tone) {
    const int n = static_cast<int>(std::min(1.2, decay * 7.0 + 0.02) * kRate);
    std::vector<float> out(n);
    Metal m;
    Svf bp, hp;
    bp.set(9000 * tone, 1.2);
    hp.set(6500 * tone, 0.7);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double band = 0, high = 0;
        bp.tick(m.tick(1.9 * tone, rng, 0.45), &band);
        hp.tick(band, nullptr, &high);
        const double env = std::min(1.0, t / 0.0008) * std::exp(-t / decay);
        out[i] = static_cast<float>(high * env * 2.2);
    }
    return out;
}

// Crash or ride: long metallic noise, stereo.
void cymbal(Rng &rng, double decay, double tone, double metalMix, std::vector<float> &l,
            std::vector<float> &r, double maxSeconds = 3.5) {
    const int n = static_cast<int>(std::min(maxSeconds, decay * 5.0) * kRate);
    l.assign(n, 0);
    r.assign(n, 0);
    Metal ml, mr;
    for (int k = 0; k < 6; ++k)
        mr.osc[k].phase = 0.13 * (k + 1);
    Svf hpl, hpr, lpl, lpr;
    hpl.set(3800 * tone, 0.7);
    hpr.set(4100 * tone, 0.7);
    lpl.set(13000, 0.7);
    lpr.set(12500, 0.7);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double env = std::min(1.0, t / 0.001) *
                           (0.6 * std::exp(-t / (decay * 0.25)) + 0.4 * std::exp(-t / decay));
        const double nl = ml.tick(2.3 * tone, rng, 1.0 - metalMix),
                     nr = mr.tick(2.31 * tone, rng, 1.0 - metalMix);
        double hl = 0, hr = 0;
        hpl.tick(nl, nullptr, &hl);
        hpr.tick(nr, nullptr, &hr);
        l[i] = static_cast<float>(lpl.tick(hl) * env);
        r[i] = static_cast<float>(lpr.tick(hr) * env);
    }
    fadeTail(l, 0.2 * n / kRate);
    fadeTail(r, 0.2 * n / kRate);
}

// Mid bass: two slightly detuned saws through a resonant low-pass with its own envelope, with a
// soft attack so that the off-beat notes groove without pulling the ear (or a beat tracker) off
// the kick.
std::vector<float> bassNote(double note, double len, double cutoff, double envAmt) {
    const double hz = midiHz(note);
    const double rel = 0.03;
    const int n = static_cast<int>((len + rel) * kRate);
    std::vector<float> out(n);
    Osc a, b;
    b.phase = 0.37;
    Svf lp, hp;
    hp.set(70, 0.7);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        if ((i & 15) == 0)
            lp.set(cutoff + envAmt * std::min(1.0, t / 0.012) * std::exp(-t / 0.09), 1.6);
        const double saws = 0.5 * (a.saw(hz) + b.saw(hz * 1.0045));
        double high = 0;
        hp.tick(lp.tick(saws), nullptr, &high);
        const double amp = adsr(t, len, 0.02, 0.12, 0.75, rel);
        out[i] = static_cast<float>(std::tanh(1.4 * high) * amp);
    }
    return out;
}

// Sub bass: a held sine an octave below the mid bass, with a touch of second harmonic so that it
// still speaks on small speakers; it ducks deeply under the kick.
std::vector<float> subNote(double note, double len) {
    const double hz = midiHz(note);
    const double rel = 0.06;
    const int n = static_cast<int>((len + rel) * kRate);
    std::vector<float> out(n);
    Osc s, h;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double amp = adsr(t, len, 0.03, 0.1, 1.0, rel);
        out[i] = static_cast<float>((s.sine(hz) + 0.18 * h.sine(2 * hz)) * amp);
    }
    return out;
}

// Pad voice: five detuned saws spread across the stereo field ("saw" timbre) blended with a
// glassy stack of sines ("glass" timbre, the colder colour of bars 53-59).
void padNote(Rng &rng, double note, double len, double attack, double release, double glass,
             std::vector<float> &l, std::vector<float> &r) {
    const int n = static_cast<int>((len + release) * kRate);
    l.assign(n, 0);
    r.assign(n, 0);
    const double hz = midiHz(note);
    static constexpr std::array<double, 5> cents = {-15.0, -6.5, 0.0, 7.0, 14.0};
    static constexpr std::array<double, 5> pans = {-0.85, 0.45, 0.0, -0.45, 0.85};
    std::array<Osc, 5> saws;
    std::array<double, 5> f{}, gl{}, gr{};
    for (int k = 0; k < 5; ++k) {
        saws[k].phase = rng.unit();
        f[k] = hz * std::pow(2.0, cents[k] / 1200.0);
        const double ang = (pans[k] + 1.0) * kPi / 4.0;
        gl[k] = std::cos(ang);
        gr[k] = std::sin(ang);
    }
    Osc g1, g2, g3, g4;
    g1.phase = rng.unit();
    g2.phase = rng.unit();
    g3.phase = rng.unit();
    g4.phase = rng.unit();
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double amp = adsr(t, len, attack, 0.5, 0.85, release);
        if (amp <= 0 && t > len)
            break;
        double sl = 0, sr = 0;
        if (glass < 1.0) {
            for (int k = 0; k < 5; ++k) {
                const double v = saws[k].saw(f[k]);
                sl += v * gl[k];
                sr += v * gr[k];
            }
            sl *= 0.32 * (1.0 - glass);
            sr *= 0.32 * (1.0 - glass);
        }
        if (glass > 0.0) {
            const double wob = 1.0 + 0.0025 * fsin(0.35 * t);
            const double a = g1.sine(hz * 1.003 * wob), b = g2.sine(hz * 0.997 / wob);
            const double c = g3.sine(hz * 2.0 * wob), d = g4.sine(hz * 3.0);
            const double shimmer = 0.18 * c * (0.6 + 0.4 * fsin(0.21 * t + note / 7.0));
            sl += glass * (0.55 * a + 0.2 * b + shimmer + 0.07 * d);
            sr += glass * (0.2 * a + 0.55 * b + shimmer + 0.07 * d);
        }
        l[i] = static_cast<float>(sl * amp);
        r[i] = static_cast<float>(sr * amp);
    }
}

// Plucked arpeggio note: saw and narrow pulse through a quickly closing low-pass.
std::vector<float> pluck(double note, double cutoff, double decay) {
    const double hz = midiHz(note);
    const int n = static_cast<int>((decay * 4.6) * kRate); // down to -40 dB, then faded out
    const int fadeFrom = n * 4 / 5;
    std::vector<float> out(n);
    Osc a, b;
    b.phase = 0.5;
    Svf lp;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        if ((i & 15) == 0)
            lp.set(cutoff * (0.25 + 2.5 * std::exp(-t / 0.06)), 1.3);
        const double v = 0.6 * a.saw(hz) + 0.4 * b.pulse(hz * 1.002, 0.3);
        const double fade = i < fadeFrom ? 1.0 : static_cast<double>(n - i) / (n - fadeFrom);
        out[i] =
            static_cast<float>(lp.tick(v) * std::min(1.0, t / 0.002) * std::exp(-t / decay) * fade);
    }
    return out;
}

// Lead: three saws and a square an octave down, vibrato after the attack, soft filter envelope.
void leadNote(double note, double len, double cutoff, std::vector<float> &l,
              std::vector<float> &r) {
    const double rel = 0.18;
    const int n = static_cast<int>((len + rel) * kRate);
    l.assign(n, 0);
    r.assign(n, 0);
    const double hz = midiHz(note);
    Osc a, b, c, d;
    b.phase = 0.31;
    c.phase = 0.67;
    Svf lpl, lpr;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double vibDepth = 0.0045 * std::clamp((t - 0.22) / 0.3, 0.0, 1.0);
        const double vib = 1.0 + vibDepth * fsin(5.4 * t);
        if ((i & 15) == 0) {
            const double fc = cutoff * (0.7 + 1.1 * std::exp(-t / 0.15));
            lpl.set(fc, 1.1);
            lpr.set(fc * 1.04, 1.1);
        }
        const double va = a.saw(hz * vib * 0.9965), vb = b.saw(hz * vib),
                     vc = c.saw(hz * vib * 1.0035);
        const double vd = d.pulse(hz * 0.5 * vib, 0.5);
        const double amp = adsr(t, len, 0.006, 0.25, 0.72, rel);
        l[i] = static_cast<float>(lpl.tick(0.5 * va + 0.3 * vb + 0.25 * vd) * amp);
        r[i] = static_cast<float>(lpr.tick(0.5 * vc + 0.3 * vb + 0.25 * vd) * amp);
    }
}

// FM bell: an inharmonic modulator with a decaying index over a sine carrier.
std::vector<float> bell(double note, double decay) {
    const double hz = midiHz(note);
    const int n = static_cast<int>(decay * 5.0 * kRate);
    std::vector<float> out(n);
    double pc = 0, pm = 0, p2 = 0;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double index = 2.2 * std::exp(-t / 0.35) + 0.3;
        const double m = fsin(pm);
        const double v = fsin(pc + index * m / (2 * kPi)) + 0.25 * fsin(p2);
        pc += hz / kRate;
        pm += hz * 3.5 / kRate;
        p2 += hz * 2.0 / kRate;
        out[i] = static_cast<float>(v * std::min(1.0, t / 0.0015) * std::exp(-t / decay));
    }
    fadeTail(out, 0.2 * n / kRate);
    return out;
}

// Noise swell through a rising band-pass (riser) or falling one (downlifter).
void sweep(Rng &rng, double seconds, double fromHz, double toHz, bool rising, std::vector<float> &l,
           std::vector<float> &r) {
    const int n = static_cast<int>(seconds * kRate);
    l.assign(n, 0);
    r.assign(n, 0);
    Svf bl, br;
    for (int i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) / n;
        if ((i & 15) == 0) {
            const double hz = fromHz * std::pow(toHz / fromHz, x);
            bl.set(hz, 2.5);
            br.set(hz * 1.07, 2.5);
        }
        const double common = rng.uni();
        double bandL = 0, bandR = 0;
        bl.tick(0.6 * common + 0.4 * rng.uni(), &bandL);
        br.tick(0.6 * common + 0.4 * rng.uni(), &bandR);
        double env =
            rising ? x * x * (0.3 + 0.7 * x) : (1.0 - x) * (1.0 - x) * std::min(1.0, x * 40.0);
        if (rising)
            env *= std::min(1.0, (n - i) / (0.006 * kRate)); // no click at the end
        l[i] = static_cast<float>(bandL * env * 2.5);
        r[i] = static_cast<float>(bandR * env * 2.5);
    }
}

// Low impact boom for the section arrivals.
std::vector<float> boom() {
    const int n = static_cast<int>(2.2 * kRate);
    std::vector<float> out(n);
    double ph = 0;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        ph += (34.0 + 40.0 * std::exp(-t / 0.25)) / kRate;
        out[i] = static_cast<float>(fsin(ph) * std::min(1.0, t / 0.004) * std::exp(-t / 0.7));
    }
    fadeTail(out, 0.4);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Arrangement

struct Kick {
    double beat;
    float velocity;
    bool muffled;
};

struct Song {
    Mix mix;
    std::vector<Kick> kicks;
};

// Where the kick drum plays, one hit per beat. The full kick plays from the cut at bar 10 to the
// fall at bar 30 and through movement two; a muffled one, like a heartbeat through a wall,
// carries the pulse through the intro under the fade from black, the falling away (bars 30-31)
// and the close.
std::vector<Kick> kickPlan() {
    std::vector<Kick> kicks;
    auto fullOn = [](int bar) { return (bar >= 10 && bar < 30) || (bar >= 32 && bar < 64); };
    auto muffledOn = [](int bar) {
        return bar < 10 || bar == 30 || bar == 31 || (bar >= 64 && bar < 67);
    };
    for (int bar = 0; bar < kBars; ++bar) {
        for (int b = 0; b < 4; ++b) {
            const double beat = bars(bar) + b;
            if (fullOn(bar)) {
                const float vel = (bar == 24 && b >= 2) || (bar == 52 && b >= 2) ? 0.8f : 1.0f;
                kicks.push_back({beat, vel, false});
            } else if (muffledOn(bar)) {
                float vel = 0.6f;
                if (bar < 10)
                    vel = 0.3f + 0.35f * bar / 9.0f;
                if (bar == 31)
                    vel = 0.6f - 0.05f * b;
                kicks.push_back({beat, vel, true});
            }
        }
    }
    return kicks;
}

// Melodic phrases: (start in sixteenths, length in sixteenths, MIDI note) per bar.
struct N {
    int start, len, note;
};
using Phrase = std::vector<N>;

// Theme A, over Am F C G: syncopated 3-3-2 figures.
const Phrase kThemeA[4] = {
    {{0, 3, 76}, {3, 3, 72}, {6, 2, 69}, {8, 2, 71}, {10, 3, 72}, {13, 3, 76}},
    {{0, 6, 77}, {6, 2, 76}, {8, 4, 72}, {12, 4, 69}},
    {{0, 3, 79}, {3, 3, 76}, {6, 2, 72}, {8, 2, 74}, {10, 3, 76}, {13, 3, 79}},
    {{0, 6, 74}, {6, 2, 71}, {8, 4, 67}, {12, 2, 71}, {14, 2, 74}},
};
// Theme B, over F G Em Am (bars 42-49): higher and more flowing, answered the second time.
const Phrase kThemeB[8] = {
    {{0, 2, 81}, {2, 2, 79}, {4, 2, 77}, {6, 4, 76}, {10, 2, 77}, {12, 4, 79}},
    {{0, 6, 74}, {6, 2, 79}, {8, 4, 83}, {12, 4, 81}},
    {{0, 3, 79}, {3, 3, 76}, {6, 2, 71}, {8, 4, 74}, {12, 4, 76}},
    {{0, 10, 76}, {10, 2, 72}, {12, 4, 69}},
    {{0, 2, 81}, {2, 2, 79}, {4, 2, 77}, {6, 4, 76}, {10, 2, 77}, {12, 4, 81}},
    {{0, 6, 83}, {6, 2, 81}, {8, 4, 79}, {12, 4, 83}},
    {{0, 3, 84}, {3, 3, 83}, {6, 2, 79}, {8, 4, 76}, {12, 4, 79}},
    {{0, 6, 76}, {6, 2, 79}, {8, 8, 81}},
};
// Bars 50-52 (Dm F E), leading into the colder turn.
const Phrase kThemeBEnd[3] = {
    {{0, 4, 77}, {4, 4, 76}, {8, 8, 74}},
    {{0, 4, 72}, {4, 4, 74}, {8, 8, 76}},
    {{0, 12, 80}, {12, 4, 83}},
};

// The sections of the piece, on the show's timeline.
int sectionOf(int bar) {
    if (bar < 10)
        return 0; // intro under the fade from black
    if (bar < 20)
        return 1; // the camera cut at bar 10, growth while the towers break apart
    if (bar < 25)
        return 2; // the darkening of the sky
    if (bar < 30)
        return 3; // lift: the logo appears at bar 25
    if (bar < 32)
        return 4; // falling away into the fade to black
    if (bar < 42)
        return 5; // movement two, full beat
    if (bar < 53)
        return 6; // the camera rises
    if (bar < 60)
        return 7; // colder: the arc greys
    return 8;     // closing fade
}

// The pad has a bus of its own and its own noise generator, so it is rendered on a second
// thread while the rest of the arrangement is placed; the result does not depend on timing.
void arrangePad(Buf &pad) {
    Rng rng(0x706164ull); // "pad"
    // Chords, with runs of the same chord within a section held as one.
    for (int bar = 0; bar < 67;) {
        int end = bar + 1;
        while (end < 67 && kChords[end] == kChords[bar] && sectionOf(end) == sectionOf(bar))
            ++end;
        const Chord ch = chordOf(kChords[bar]);
        const int sec = sectionOf(bar);
        const double attack = bar == 0 ? 3.0 : (sec == 4 || sec == 7 ? 0.25 : 0.06);
        const double lenSec = (end - bar) * 4 * kSamplesPerBeat / kRate - 0.02;
        const double release = end >= 66 ? 3.5 : 0.45;
        const double glass = sec == 7 ? 1.0 : (sec == 8 ? 0.5 : 0.0);
        for (int k = 0; k < 4; ++k) {
            std::vector<float> l, r;
            padNote(rng, ch.pad[k], lenSec, attack, release, glass, l, r);
            addTo(pad, l, r, beatToSample(bars(bar)), 0.20f);
        }
        // A soft octave-down root under the pad for body.
        std::vector<float> l, r;
        padNote(rng, ch.bass + 12, lenSec, attack, release, glass, l, r);
        addTo(pad, l, r, beatToSample(bars(bar)), 0.12f);
        bar = end;
    }
}

void arrange(Song &song) {
    Mix &mix = song.mix;
    std::thread padThread(arrangePad, std::ref(mix.pad));
    Rng rng(0x56656C6C616D6F72ull); // "Vellamor"

    // --- Drum sounds: a few takes of each, rendered once and reused round-robin.
    const std::vector<float> kickSound = kick(rng);
    auto muffle = [](std::vector<float> v, double hz) {
        Svf lp;
        lp.set(hz, 0.8);
        for (float &x : v)
            x = static_cast<float>(lp.tick(x) * 1.3);
        return v;
    };
    const std::vector<float> kickMuffled = muffle(kickSound, 260),
                             kickHalfOpen = muffle(kickSound, 700);
    std::array<std::vector<float>, 4> clapL, clapR;
    for (int v = 0; v < 4; ++v)
        clap(rng, clapL[v], clapR[v]);
    std::array<std::vector<float>, 6> snares;
    for (auto &v : snares)
        v = snare(rng);
    std::array<std::vector<float>, 8> hatsShort, hatsLong;
    for (auto &v : hatsShort)
        v = hat(rng, 0.028, 1.0);
    for (auto &v : hatsLong)
        v = hat(rng, 0.040, 1.0);
    std::array<std::vector<float>, 4> openHatSounds;
    for (auto &v : openHatSounds)
        v = hat(rng, 0.16, 0.92);
    std::array<std::vector<float>, 4> rideL, rideR;
    for (int v = 0; v < 4; ++v)
        cymbal(rng, 0.5, 1.35, 0.75, rideL[v], rideR[v]);
    int take = 0;

    // Plucks and bells repeat the same notes many times: each distinct one is rendered once.
    std::map<std::tuple<int, double, double>, std::vector<float>> plucks;
    auto cachedPluck = [&plucks](int note, double cutoff,
                                 double decay) -> const std::vector<float> & {
        auto [it, fresh] = plucks.try_emplace({note, cutoff, decay});
        if (fresh)
            it->second = pluck(note, cutoff, decay);
        return it->second;
    };
    std::map<int, std::vector<float>> bells;
    auto cachedBell = [&bells](int note) -> const std::vector<float> & {
        auto [it, fresh] = bells.try_emplace(note);
        if (fresh)
            it->second = bell(note, 0.55);
        return it->second;
    };

    // --- Kick drum and bass line.
    song.kicks = kickPlan();
    for (const Kick &k : song.kicks) {
        const int beat = static_cast<int>(k.beat);
        const int bar = beat / 4;
        if (!k.muffled) {
            mix.duck.kick(beat, k.velocity);
            placeMono(mix, kickSound, beatToSample(k.beat), 0.85f * k.velocity, 0.0f);
        } else {
            const auto &sound = (bar >= 8 && bar < 10) ? kickHalfOpen : kickMuffled;
            mix.duck.kick(beat, 0.3f * k.velocity);
            placeMono(mix, sound, beatToSample(k.beat), 0.95f * k.velocity, 0.0f);
        }
    }

    // The bass enters a bar after each arrival (bar 11, bar 33): the cut at bar 10 and the start of
    // movement two at bar 32 land on kick, crash and pad alone.
    for (int bar = 11; bar < 64; ++bar) {
        const int sec = sectionOf(bar);
        if (sec == 4 || bar == 32)
            continue;
        const Chord ch = chordOf(kChords[bar]);
        const int root = ch.bass;
        std::vector<std::pair<int, int>> steps; // (sixteenth, semitone offset)
        double cutoff = 420, envAmt = 900, len16 = 1.7;
        switch (sec) {
        case 1: // off-beat house bass; opens with the growth
            steps = {{2, 0}, {6, 0}, {10, 0}, {14, 0}};
            cutoff = 300 + 35.0 * (bar - 10);
            envAmt = 700 + 60.0 * (bar - 10);
            len16 = 1.8;
            break;
        case 2: // darker: rolling, lower, closed
            steps = {{2, 0}, {3, 0}, {6, 0}, {7, 0}, {10, 0}, {11, 0}, {14, 0}, {15, 12}};
            cutoff = 260;
            envAmt = 650;
            len16 = 0.85;
            break;
        case 3:
        case 5: // full: rolling with octave lifts
            steps = {{2, 0}, {3, 0}, {6, 0}, {7, 12}, {10, 0}, {11, 0}, {14, 0}, {15, 12}};
            cutoff = 380;
            envAmt = 1400;
            len16 = 0.85;
            break;
        case 6: // the camera rises: octave pattern, brighter
            steps = {{2, 0}, {4, 12}, {6, 0}, {7, 0}, {10, 0}, {12, 12}, {14, 0}, {15, 7}};
            cutoff = 450;
            envAmt = 1800;
            len16 = 0.9;
            break;
        case 7: // colder: long notes, mostly sub
            steps = {{0, 0}, {6, 0}, {10, 0}};
            cutoff = 220;
            envAmt = 300;
            len16 = 3.5;
            break;
        default: // closing
            steps = {{0, 0}, {8, 0}};
            cutoff = 200;
            envAmt = 200;
            len16 = 7.0;
            break;
        }
        for (auto [s, off] : steps) {
            const double beat = bars(bar) + s / 4.0;
            const double len = len16 * kSamplesPerBeat / 4.0 / kRate;
            auto v = bassNote(root + off, len, cutoff, envAmt);
            const float accent = (s % 4 == 2) ? 1.0f : 0.8f;
            placeMono(mix, v, beatToSample(beat), 0.42f * accent, 0.0f, {}, 0.45f);
        }
    }
    // The sub under it, one held note per chord.
    for (int bar = 10; bar < 64;) {
        int end = bar + 1;
        while (end < 64 && chordOf(kChords[end]).bass == chordOf(kChords[bar]).bass &&
               sectionOf(end) == sectionOf(bar))
            ++end;
        if (sectionOf(bar) != 4) {
            const double len = (end - bar) * 4 * kSamplesPerBeat / kRate - 0.03;
            placeMono(mix, subNote(chordOf(kChords[bar]).bass - 12, len), beatToSample(bars(bar)),
                      0.2f, 0.0f, {}, 0.85f);
        }
        bar = end;
    }

    // --- Claps, snare rolls, hats, ride, crashes.
    for (int bar = 0; bar < kBars; ++bar) {
        const int sec = sectionOf(bar);
        const bool claps = (bar >= 12 && bar < 24) || (bar >= 25 && bar < 30) ||
                           (bar >= 32 && bar < 52) || (bar >= 53 && bar < 62);
        if (claps) {
            for (int b : {1, 3}) {
                const int v = take++ % 4;
                place(mix, clapL[v], clapR[v], beatToSample(bars(bar) + b), 0.52f, {0.18f, 0.0f});
            }
        }
        if (bar == 19) { // a small fill into the darkening
            for (int s : {12, 13, 14}) {
                const auto &sn = snares[take++ % snares.size()];
                placeMono(mix, sn, beatToSample(bars(bar) + s / 4.0), 0.28f + 0.06f * (s - 12),
                          0.1f, {0.2f, 0.0f});
            }
        }
        const bool build = bar == 24 || bar == 52;
        if (build) { // snare builds: eighths, sixteenths, thirty-seconds, then an eighth's breath
            for (int s = 0; s < 12; ++s) {
                const double pos =
                    s < 4 ? s * 0.5 : (s < 8 ? 2.0 + (s - 4) * 0.25 : 3.0 + (s - 8) * 0.125);
                const auto &sn = snares[take++ % snares.size()];
                const float vel = static_cast<float>(0.15 + 0.3 * pos / 4.0);
                placeMono(mix, sn, beatToSample(bars(bar) + pos), vel, (s % 2) ? 0.15f : -0.15f,
                          {0.25f, 0.0f});
            }
        }
        // Closed hats on sixteenths, with a little swing on the off-sixteenths.
        const bool hats = (bar >= 4 && bar < 30) || (bar >= 32 && bar < 62);
        if (hats) {
            static constexpr std::array<float, 4> accents = {0.8f, 0.25f, 0.45f, 0.25f};
            double level = sec == 0 ? 0.25 + 0.5 * (bar - 4) / 5.0 : (sec == 2 ? 0.8 : 1.0);
            if (sec == 7)
                level = 0.75;
            for (int s = 0; s < 16; ++s) {
                if (sec == 0 && bar < 6 && s % 2 == 1)
                    continue; // eighths first
                if (build && s >= 14)
                    continue;
                const double swing = (s % 2) ? 0.035 : 0.0;
                const auto &h = (s % 4 == 2 ? hatsLong : hatsShort)[take++ % 8];
                placeMono(mix, h, beatToSample(bars(bar) + s / 4.0 + swing),
                          static_cast<float>(0.32 * level * accents[s % 4]), 0.25f, {0.05f, 0.0f});
            }
        }
        // Open hats: on every off-beat in the two peaks (the lift under the logo, the camera's
        // rise), elsewhere only on the last off-beat of every other bar.
        const bool openHats =
            (bar >= 14 && bar < 24) || (bar >= 25 && bar < 30) || (bar >= 32 && bar < 52);
        const bool offbeatHats = (bar >= 25 && bar < 30) || (bar >= 42 && bar < 52);
        if (openHats) {
            for (int b = 0; b < 4; ++b) {
                if (!offbeatHats && !(b == 3 && bar % 2 == 1))
                    continue;
                const auto &h = openHatSounds[take++ % openHatSounds.size()];
                placeMono(mix, h, beatToSample(bars(bar) + b + 0.5), 0.1f, -0.3f, {0.12f, 0.0f});
            }
        }
        if (bar >= 42 && bar < 52) { // ride on the beats while the camera rises
            for (int b = 0; b < 4; ++b) {
                const int v = take++ % 4;
                place(mix, rideL[v], rideR[v], beatToSample(bars(bar) + b), 0.09f, {0.1f, 0.0f});
            }
        }
    }
    struct Hit {
        int bar;
        float gain;
    };
    // Crashes on the arrivals: two takes, bright and (for the colder turn) dark.
    std::vector<float> crashL, crashR, darkCrashL, darkCrashR;
    cymbal(rng, 1.6, 1.0, 0.35, crashL, crashR);
    cymbal(rng, 1.6, 0.8, 0.35, darkCrashL, darkCrashR);
    for (Hit c : {Hit{10, 0.32f}, Hit{20, 0.22f}, Hit{25, 0.36f}, Hit{32, 0.36f}, Hit{42, 0.32f},
                  Hit{53, 0.22f}, Hit{60, 0.18f}}) {
        const bool dark = c.bar == 53;
        place(mix, dark ? darkCrashL : crashL, dark ? darkCrashR : crashR,
              beatToSample(bars(c.bar)), c.gain, {0.3f, 0.0f});
    }
    // Reverse cymbals swelling into the big arrivals. Each ends a thirty-second before the bar line
    // (a breath before the hit), with a quick fade.
    std::vector<float> swellL, swellR;
    cymbal(rng, 0.9, 1.0, 0.3, swellL, swellR, 1.6);
    std::reverse(swellL.begin(), swellL.end());
    std::reverse(swellR.begin(), swellR.end());
    {
        const int64_t fade = static_cast<int64_t>(0.006 * kRate),
                      len = static_cast<int64_t>(swellL.size());
        for (int64_t i = 0; i < fade; ++i) {
            swellL[len - 1 - i] *= static_cast<float>(i) / fade;
            swellR[len - 1 - i] *= static_cast<float>(i) / fade;
        }
    }
    for (Hit c : {Hit{10, 0.2f}, Hit{25, 0.24f}, Hit{32, 0.3f}, Hit{53, 0.2f}}) {
        const int64_t gap = static_cast<int64_t>(kSamplesPerBeat / 8),
                      len = static_cast<int64_t>(swellL.size());
        place(mix, swellL, swellR, beatToSample(bars(c.bar)) - gap - len, c.gain, {0.2f, 0.0f});
    }
    // Risers over the two bars before a change, a downlifter into the fall.
    for (Hit c : {Hit{8, 0.10f}, Hit{23, 0.12f}, Hit{51, 0.12f}}) {
        std::vector<float> l, r;
        const double sec =
            (2 * 4 - 0.25) * kSamplesPerBeat / kRate; // ends a sixteenth before the change
        sweep(rng, sec, 250, 7000, true, l, r);
        place(mix, l, r, beatToSample(bars(c.bar)), c.gain, {0.25f, 0.0f});
    }
    {
        std::vector<float> l, r;
        sweep(rng, 2 * 4 * kSamplesPerBeat / kRate, 6000, 180, false, l, r);
        place(mix, l, r, beatToSample(bars(30)), 0.12f, {0.4f, 0.0f});
    }
    for (Hit c : {Hit{25, 0.30f}, Hit{32, 0.34f}}) {
        placeMono(mix, boom(), beatToSample(bars(c.bar)), c.gain, 0.0f, {0.1f, 0.0f});
    }

    // --- Arpeggio: chord tones an octave above the pad.
    // It rests at the cut (bar 10) and for the first two bars of movement two, where its hook
    // enters.
    for (int bar = 2; bar < 64; ++bar) {
        const int sec = sectionOf(bar);
        if (sec == 4 || sec == 7 || bar == 10 || bar == 32 || bar == 33)
            continue;
        const Chord ch = chordOf(kChords[bar]);
        std::array<int, 5> tones = {ch.pad[0] + 12, ch.pad[1] + 12, ch.pad[2] + 12, ch.pad[3] + 12,
                                    ch.pad[0] + 24};
        std::vector<std::pair<int, int>> pat; // (sixteenth, tone index)
        if (sec == 5) { // movement two's hook: a 3-3-2 figure against the four-to-the-floor
            pat = {{0, 4}, {3, 2}, {6, 3}, {8, 4}, {11, 2}, {14, 1}};
        } else {
            static constexpr std::array<int, 16> updown = {0, 1, 2, 3, 4, 3, 2, 1,
                                                           0, 1, 2, 3, 4, 3, 2, 1};
            for (int s = 0; s < 16; ++s) {
                if (sec == 0 && bar < 6 && s % 2)
                    continue;
                pat.push_back({s, updown[s]});
            }
        }
        double cutoff = 1800, level = 0.16, decay = 0.16;
        switch (sec) {
        case 0:
            cutoff = 500 + 170.0 * (bar - 2);
            level = 0.10 + 0.012 * (bar - 2);
            break;
        case 1:
            cutoff = 1500 + 220.0 * (bar - 10);
            level = 0.15;
            break;
        case 2:
            cutoff = 900;
            level = 0.13;
            break;
        case 3:
            cutoff = 3200;
            level = 0.12;
            break;
        case 5:
            cutoff = 2600;
            level = 0.20;
            decay = 0.2;
            break;
        case 6:
            cutoff = 2400;
            level = 0.09;
            break;
        default:
            cutoff = 1100;
            level = 0.09;
            break;
        }
        for (auto [s, idx] : pat) {
            const auto &p = cachedPluck(tones[idx], cutoff, decay);
            const float pan = (s % 2) ? 0.35f : -0.35f;
            placeMono(mix, p, beatToSample(bars(bar) + s / 4.0), static_cast<float>(1.25 * level),
                      pan, {0.15f, 0.22f}, 0.3f);
        }
    }

    // --- Lead melodies.
    auto playPhrase = [&](const Phrase &ph, int bar, double cutoff, float level) {
        for (const N &nt : ph) {
            std::vector<float> l, r;
            leadNote(nt.note, nt.len * kSamplesPerBeat / 4.0 / kRate - 0.01, cutoff, l, r);
            place(mix, l, r, beatToSample(bars(bar) + nt.start / 4.0), 1.25f * level, {0.25f, 0.3f},
                  0.15f);
        }
    };
    auto themeAIndex = [](ChordName c) { return c == Am ? 0 : c == F ? 1 : c == C ? 2 : 3; };
    for (int bar = 14; bar < 18; ++bar)
        playPhrase(kThemeA[themeAIndex(kChords[bar])], bar, 900 + 150.0 * (bar - 14), 0.10f);
    for (int bar = 25; bar < 29; ++bar)
        playPhrase(kThemeA[themeAIndex(kChords[bar])], bar, 3000, 0.17f);
    playPhrase({{0, 16, 81}}, 29, 3200, 0.16f);
    playPhrase({{0, 8, 79}, {8, 8, 76}}, 30, 1800, 0.09f);
    for (int bar = 42; bar < 50; ++bar)
        playPhrase(kThemeB[bar - 42], bar, 3400, 0.15f);
    for (int bar = 50; bar < 53; ++bar)
        playPhrase(kThemeBEnd[bar - 50], bar, 3000, 0.15f);

    // --- Bells: the colder turn, and the close.
    for (int bar = 53; bar < 66; ++bar) {
        const Chord ch = chordOf(kChords[bar]);
        static constexpr std::array<std::pair<int, int>, 6> pat = {
            {{0, 3}, {3, 2}, {6, 0}, {8, 1}, {11, 2}, {14, 1}}};
        const float level = bar < 60 ? 0.12f : 0.10f;
        for (auto [s, idx] : pat) {
            const auto &b = cachedBell(ch.pad[idx] + 12);
            placeMono(mix, b, beatToSample(bars(bar) + s / 4.0), level, (idx % 2) ? 0.4f : -0.4f,
                      {0.4f, 0.35f}, 0.3f);
        }
    }
    // A last bell chord to end on.
    for (int k = 0; k < 4; ++k) {
        auto b = bell(chordOf(Am).pad[k] + 12, 1.6);
        placeMono(mix, b, beatToSample(bars(64)) + k * 900, 0.09f, -0.3f + 0.2f * k, {0.5f, 0.3f});
    }

    padThread.join();
}

// ---------------------------------------------------------------------------------------------
// Effects and mixing

// Freeverb-style stereo reverb.
struct Comb {
    std::vector<float> buf;
    size_t i = 0;
    float store = 0;
    explicit Comb(size_t n) : buf(n, 0) {}
    float tick(float x, float fb, float damp) {
        const float y = buf[i];
        store = y * (1 - damp) + store * damp;
        buf[i] = x + store * fb;
        if (++i == buf.size())
            i = 0;
        return y;
    }
};
struct Allpass {
    std::vector<float> buf;
    size_t i = 0;
    explicit Allpass(size_t n) : buf(n, 0) {}
    float tick(float x) {
        const float b = buf[i];
        const float y = -x + b;
        buf[i] = x + b * 0.5f;
        if (++i == buf.size())
            i = 0;
        return y;
    }
};

void reverb(Buf &io, float roomSize, float damp) {
    static constexpr std::array<int, 8> combs = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    static constexpr std::array<int, 4> aps = {556, 441, 341, 225};
    constexpr int spread = 23;
    std::vector<Comb> cl, cr;
    std::vector<Allpass> al, ar;
    for (int c : combs) {
        cl.emplace_back(c);
        cr.emplace_back(c + spread);
    }
    for (int a : aps) {
        al.emplace_back(a);
        ar.emplace_back(a + spread);
    }
    // Pre-delay of 20 ms and a gentle high-pass on the input keep the low end clean.
    const int pre = static_cast<int>(0.02 * kRate);
    std::vector<float> dl(pre, 0), dr(pre, 0);
    Svf hpl, hpr;
    hpl.set(250, 0.7);
    hpr.set(250, 0.7);
    size_t pi = 0;
    for (int64_t n = 0; n < kTotal; ++n) {
        double hl = 0, hr = 0;
        hpl.tick(io.l[n], nullptr, &hl);
        hpr.tick(io.r[n], nullptr, &hr);
        const float inL = dl[pi], inR = dr[pi];
        dl[pi] = static_cast<float>(hl);
        dr[pi] = static_cast<float>(hr);
        if (++pi == dl.size())
            pi = 0;
        const float in = (inL + inR) * 0.015f;
        float ol = 0, orr = 0;
        for (size_t k = 0; k < combs.size(); ++k) {
            ol += cl[k].tick(in, roomSize, damp);
            orr += cr[k].tick(in, roomSize, damp);
        }
        for (size_t k = 0; k < aps.size(); ++k) {
            ol = al[k].tick(ol);
            orr = ar[k].tick(orr);
        }
        io.l[n] = ol;
        io.r[n] = orr;
    }
}

// Ping-pong delay of a dotted eighth, darkened on every repeat.
void delay(Buf &io, Buf &reverbSend) {
    const int d = static_cast<int>(std::lround(0.75 * kSamplesPerBeat));
    std::vector<float> bl(d, 0), br(d, 0);
    size_t i = 0;
    double lpL = 0, lpR = 0;
    const double a = std::exp(-2 * kPi * 3500.0 / kRate);
    for (int64_t n = 0; n < kTotal; ++n) {
        const float yl = bl[i], yr = br[i];
        lpL = (1 - a) * yl + a * lpL;
        lpR = (1 - a) * yr + a * lpR;
        const float inMono = 0.5f * (io.l[n] + io.r[n]);
        bl[i] = static_cast<float>(inMono + 0.42 * lpR);
        br[i] = static_cast<float>(0.42 * lpL);
        if (++i == bl.size())
            i = 0;
        io.l[n] = yl;
        io.r[n] = yr;
        reverbSend.l[n] += 0.25f * yl;
        reverbSend.r[n] += 0.25f * yr;
    }
}

// Pad bus: low-pass whose cutoff follows the sections, and the level curve.
void processPad(Buf &pad) {
    const Curve cutoff{{{0, 320},
                        {8, 1300},
                        {10, 1000},
                        {19.95, 3400},
                        {20, 850},
                        {23, 1100},
                        {24.95, 2600},
                        {25, 5200},
                        {29.5, 5200},
                        {31.9, 550},
                        {32, 2200},
                        {41.95, 3000},
                        {42, 4200},
                        {52.95, 4800},
                        {53, 2800},
                        {59.95, 3000},
                        {60, 2400},
                        {67, 420}},
                       true};
    const Curve level{
        {{0, 1.0}, {20, 1.0}, {20.5, 0.85}, {25, 1.0}, {30, 1.0}, {31.8, 0.65}, {32, 1.0}}};
    Svf fl, fr;
    double lvl = 1;
    for (int64_t n = 0; n < kTotal; ++n) {
        if ((n & 31) == 0) {
            const double bar = sampleBar(n);
            const double lfo = 1.0 + 0.18 * fsin(bar / 4.0);
            const double hz = cutoff.at(bar) * lfo;
            fl.set(hz, 0.9);
            fr.set(hz * 1.03, 0.9);
            lvl = level.at(bar);
        }
        pad.l[n] = static_cast<float>(fl.tick(pad.l[n]) * lvl);
        pad.r[n] = static_cast<float>(fr.tick(pad.r[n]) * lvl);
    }
}

// Air: a faint, slowly breathing pink-noise bed under everything (the dusk city; it also keeps
// the signal out of digital silence, where beat trackers lose their footing).
class Air {
  public:
    void tick(int64_t n, double &outL, double &outR) {
        if (n == 0) {
            lpl_.set(1800, 0.7);
            lpr_.set(1700, 0.7);
        }
        const double t = static_cast<double>(n) / kRate;
        const double wl = rng_.uni(), wr = rng_.uni();
        b0_ = 0.99765 * b0_ + wl * 0.0990460;
        b1_ = 0.96300 * b1_ + wl * 0.2965164;
        b2_ = 0.57000 * b2_ + wl * 1.0526913;
        c0_ = 0.99765 * c0_ + wr * 0.0990460;
        c1_ = 0.96300 * c1_ + wr * 0.2965164;
        c2_ = 0.57000 * c2_ + wr * 1.0526913;
        const double breathe = 0.75 + 0.25 * fsin(t / 7.7);
        const double tail = std::clamp((kTotal - n) / (1.5 * kRate), 0.0, 1.0);
        const double g = 0.006 * breathe * tail * std::min(1.0, t / 0.05 + 0.2);
        outL = lpl_.tick(b0_ + b1_ + b2_ + wl * 0.1848) * g;
        outR = lpr_.tick(c0_ + c1_ + c2_ + wr * 0.1848) * g;
    }

  private:
    Rng rng_{0x616972ull}; // "air"
    double b0_ = 0, b1_ = 0, b2_ = 0, c0_ = 0, c1_ = 0, c2_ = 0;
    Svf lpl_, lpr_;
};

// Loudness after ITU-R BS.1770-4: K-weighting, 400 ms blocks every 100 ms, the absolute gate at
// -70 LUFS and the relative gate 10 LU below the absolutely gated loudness.
class LoudnessMeter {
  public:
    LoudnessMeter() {
        const double G = 3.999843853973347, f0 = 1681.974450955533, Q = 0.7071752369554196;
        const double A = std::pow(10.0, G / 40.0), w0 = 2 * kPi * f0 / kRate,
                     alpha = std::sin(w0) / (2 * Q);
        const double cw = std::cos(w0), sA = std::sqrt(A);
        const double a0 = (A + 1) - (A - 1) * cw + 2 * sA * alpha;
        Biquad sh;
        sh.b0 = A * ((A + 1) + (A - 1) * cw + 2 * sA * alpha) / a0;
        sh.b1 = -2 * A * ((A - 1) + (A + 1) * cw) / a0;
        sh.b2 = A * ((A + 1) + (A - 1) * cw - 2 * sA * alpha) / a0;
        sh.a1 = 2 * ((A - 1) - (A + 1) * cw) / a0;
        sh.a2 = ((A + 1) - (A - 1) * cw - 2 * sA * alpha) / a0;
        const double hf0 = 38.13547087602444, hQ = 0.5003270373238773;
        const double hw0 = 2 * kPi * hf0 / kRate, halpha = std::sin(hw0) / (2 * hQ),
                     hcw = std::cos(hw0);
        Biquad hp;
        hp.b0 = 1 / (1 + halpha);
        hp.b1 = -2 / (1 + halpha);
        hp.b2 = 1 / (1 + halpha);
        hp.a1 = -2 * hcw / (1 + halpha);
        hp.a2 = (1 - halpha) / (1 + halpha);
        shelf_ = {sh, sh};
        highpass_ = {hp, hp};
    }
    void add(double l, double r) {
        const double a = highpass_[0].tick(shelf_[0].tick(l)),
                     b = highpass_[1].tick(shelf_[1].tick(r));
        acc_ += a * a + b * b;
        if (++count_ == kStep) {
            steps_.push_back(acc_);
            acc_ = 0;
            count_ = 0;
        }
    }
    double lufs() const {
        std::vector<double> blocks;
        for (size_t i = 0; i + 4 <= steps_.size(); ++i) {
            blocks.push_back((steps_[i] + steps_[i + 1] + steps_[i + 2] + steps_[i + 3]) /
                             (4.0 * kStep));
        }
        auto loud = [](double z) { return -0.691 + 10.0 * std::log10(std::max(z, 1e-20)); };
        double sum = 0;
        int n = 0;
        for (double z : blocks) {
            if (loud(z) > -70.0)
                sum += z, ++n;
        }
        if (n == 0)
            return -100.0;
        const double gate = loud(sum / n) - 10.0;
        sum = 0;
        n = 0;
        for (double z : blocks) {
            if (loud(z) > -70.0 && loud(z) > gate)
                sum += z, ++n;
        }
        return loud(sum / n);
    }

  private:
    static constexpr int kStep = kRate / 10;
    std::array<Biquad, 2> shelf_, highpass_;
    std::vector<double> steps_;
    double acc_ = 0;
    int count_ = 0;
};

// Look-ahead peak limiter. The gain reaches its target before a peak arrives (a running minimum
// of the needed gain over the last `look` samples, then a moving average over the next `look`),
// and recovers with a smooth release; the output never exceeds the ceiling. run() hands every
// output pair to sink(n, l, r) in order; it may write back into the input at n. `scratch` holds n
// floats of working space.
class Limiter {
  public:
    explicit Limiter(float *scratch) : held(scratch) {}
    template <class Sink>
    void run(const float *inL, const float *inR, int64_t n, double gain, double ceiling,
             Sink sink) {
        const int look = static_cast<int>(0.003 * kRate);
        std::deque<std::pair<int64_t, float>> q; // increasing needed gains in the window
        for (int64_t i = 0; i < n; ++i) {
            const double p = gain * std::max(std::fabs(inL[i]), std::fabs(inR[i]));
            const float need = static_cast<float>(p > ceiling ? ceiling / p : 1.0);
            while (!q.empty() && q.back().second >= need)
                q.pop_back();
            q.emplace_back(i, need);
            if (q.front().first <= i - look)
                q.pop_front();
            held[i] = q.front().second;
        }
        auto heldAt = [&](int64_t i) { return i < n ? static_cast<double>(held[i]) : 1.0; };
        double acc = 0;
        for (int64_t i = 0; i < look; ++i)
            acc += heldAt(i);
        const double rel = 1.0 - std::exp(-1.0 / (0.12 * kRate));
        double g = 1.0;
        for (int64_t i = 0; i < n; ++i) {
            if (i % 65536 ==
                0) { // renew the running sum now and then, so no rounding drift builds up
                acc = 0;
                for (int64_t k = i; k < i + look; ++k)
                    acc += heldAt(k);
            }
            g = std::min(acc / look, g + (1.0 - g) * rel);
            acc += heldAt(i + look) - heldAt(i);
            const double a = std::clamp(inL[i] * gain * g, -ceiling, ceiling);
            const double b = std::clamp(inR[i] * gain * g, -ceiling, ceiling);
            sink(i, a, b);
        }
    }

  private:
    float *held;
};

struct Master {
    double lufs = 0, peakDb = 0;
};

// Mixes the buses into mix.dry (in place) and masters it: closing fade, DC blocker, loudness
// normalisation to `targetLufs` with the limiter in the loop, peaks at most `ceilingDb`.
Master mixdown(Mix &m, double targetLufs, double ceilingDb) {
    std::thread padThread(processPad, std::ref(m.pad));
    delay(m.delay, m.reverb);
    padThread.join();
    for (int64_t n = 0; n < kTotal; ++n) { // the pad's reverb send, after its filter
        m.reverb.l[n] += 0.3f * m.pad.l[n];
        m.reverb.r[n] += 0.3f * m.pad.r[n];
    }
    reverb(m.reverb, 0.86f, 0.3f);

    // The level contour of the piece: the growth, the darker stretch, the lift, the falling away
    // into the fade to black, movement two and its colder turn.
    const Curve contour{{{0, 1.0},
                         {10, 0.86},
                         {19.9, 1.0},
                         {20, 0.8},
                         {24.9, 0.86},
                         {25, 1.06},
                         {29.9, 1.06},
                         {30, 0.95},
                         {31.95, 0.5},
                         {32, 1.0},
                         {41.9, 1.0},
                         {42, 1.06},
                         {52.9, 1.08},
                         {53, 0.86},
                         {60, 0.86}}};
    // Closing fade with the picture's: bar 60 to bar 66.2 (116.1 s to 128.1 s).
    const double fadeFrom = 60.0, fadeTo = 66.2;
    Air air;
    double dcL = 0, dcR = 0, prevL = 0, prevR = 0;
    const double dcA = std::exp(-2 * kPi * 18.0 / kRate);
    LoudnessMeter before;
    double level = 1.0;
    for (int64_t n = 0; n < kTotal; ++n) {
        const double s = m.duck.at(n);
        const double dPad = 1.0 - 0.55 * s, dDelay = 1.0 - 0.3 * s, dRev = 1.0 - 0.35 * s;
        double l = m.dry.l[n] + m.pad.l[n] * dPad + m.reverb.l[n] * 1.6 * dRev +
                   m.delay.l[n] * 0.55 * dDelay;
        double r = m.dry.r[n] + m.pad.r[n] * dPad + m.reverb.r[n] * 1.6 * dRev +
                   m.delay.r[n] * 0.55 * dDelay;
        const double bar = sampleBar(n);
        if ((n & 63) == 0)
            level = contour.at(bar);
        l *= level;
        r *= level;
        if (bar >= fadeFrom) {
            const double x = std::min(1.0, (bar - fadeFrom) / (fadeTo - fadeFrom));
            l *= (1.0 - x) * (1.0 - x);
            r *= (1.0 - x) * (1.0 - x);
        }
        double al, ar;
        air.tick(n, al, ar);
        l += al;
        r += ar;
        dcL = l - prevL + dcA * dcL;
        dcR = r - prevR + dcA * dcR;
        prevL = l;
        prevR = r;
        m.dry.l[n] = static_cast<float>(dcL);
        m.dry.r[n] = static_cast<float>(dcR);
        before.add(dcL, dcR);
    }

    // Loudness normalisation with the limiter in the loop, then the final pass in place.
    const double ceiling = std::pow(10.0, ceilingDb / 20.0);
    double gainDb = targetLufs - before.lufs();
    Limiter limiter(m.delay.l); // the delay bus is spent by now: its memory is the scratch
    for (int iter = 0; iter < 3; ++iter) {
        LoudnessMeter meter;
        limiter.run(m.dry.l, m.dry.r, kTotal, std::pow(10.0, gainDb / 20.0), ceiling,
                    [&](int64_t, double a, double b) { meter.add(a, b); });
        const double got = meter.lufs();
        if (std::fabs(got - targetLufs) < 0.03)
            break;
        gainDb += targetLufs - got;
    }
    Master out;
    LoudnessMeter meter;
    double peak = 0;
    limiter.run(m.dry.l, m.dry.r, kTotal, std::pow(10.0, gainDb / 20.0), ceiling,
                [&](int64_t n, double a, double b) {
                    m.dry.l[n] = static_cast<float>(a);
                    m.dry.r[n] = static_cast<float>(b);
                    meter.add(m.dry.l[n], m.dry.r[n]);
                    peak = std::max({peak, std::fabs(a), std::fabs(b)});
                });
    out.lufs = meter.lufs();
    out.peakDb = 20.0 * std::log10(std::max(peak, 1e-9));
    return out;
}

// ---------------------------------------------------------------------------------------------
// Ogg Vorbis encoding

bool encode(const Buf &pcm, OutFile &file, std::string *error) {
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, 2, kRate, 0.6f) != 0) {
        *error = "vorbis_encode_init_vbr refused 44100 Hz stereo at quality 0.6";
        vorbis_info_clear(&vi);
        return false;
    }
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_comment_add_tag(&vc, "TITLE", "Vellamor");
    vorbis_comment_add_tag(&vc, "ARTIST", "Korvek");
    vorbis_comment_add_tag(&vc, "BPM", "124");
    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, 0x56656C6C); // fixed serial number: deterministic output
    ogg_page og;
    ogg_packet op, hc, hcode;
    bool ok = true;
    auto writePage = [&](const ogg_page &p) {
        ok = ok && file.write(p.header, static_cast<size_t>(p.header_len)) &&
             file.write(p.body, static_cast<size_t>(p.body_len));
    };
    vorbis_analysis_headerout(&vd, &vc, &op, &hc, &hcode);
    ogg_stream_packetin(&os, &op);
    ogg_stream_packetin(&os, &hc);
    ogg_stream_packetin(&os, &hcode);
    while (ogg_stream_flush(&os, &og) != 0)
        writePage(og);

    // Feed the samples in chunks, then an empty write that marks the end of the stream, and
    // drain the encoder after each.
    auto drain = [&] {
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            while (vorbis_bitrate_flushpacket(&vd, &op)) {
                ogg_stream_packetin(&os, &op);
                while (ogg_stream_pageout(&os, &og) != 0)
                    writePage(og);
            }
        }
    };
    constexpr int64_t kChunk = 4096;
    for (int64_t pos = 0; pos < kTotal && ok; pos += kChunk) {
        const int count = static_cast<int>(std::min(kChunk, kTotal - pos));
        float **buf = vorbis_analysis_buffer(&vd, count);
        std::memcpy(buf[0], pcm.l + pos, sizeof(float) * count);
        std::memcpy(buf[1], pcm.r + pos, sizeof(float) * count);
        vorbis_analysis_wrote(&vd, count);
        drain();
    }
    vorbis_analysis_wrote(&vd, 0);
    drain();
    while (ogg_stream_flush(&os, &og) != 0)
        writePage(og);
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    if (!ok || !file.commit()) {
        *error = file.error();
        return false;
    }
    return true;
}

void usage(FILE *to) {
    std::fprintf(
        to,
        "Usage: mksong [--quiet] [--verbose] OUTPUT.ogg\n"
        "       mksong --print-kicks\n"
        "       mksong --help\n"
        "\n"
        "Composes and renders the Vellamor soundtrack (124 BPM, bar n at n x 1935.484 ms,\n"
        "%d bars, %.1f s) and writes it as Ogg Vorbis, 44.1 kHz stereo, to OUTPUT.ogg\n"
        "(written to a temporary file beside it and renamed when complete).\n"
        "\n"
        "  --print-kicks  print every kick drum hit as 'beat time_ms velocity kind' and exit\n"
        "                 (kind: 'kick', or 'muffled' for the filtered heartbeat kick)\n"
        "  --quiet        print nothing on success\n"
        "  --verbose      also print how long each stage took\n"
        "  --help         show this help\n",
        kBars, kTotal / static_cast<double>(kRate));
}

} // namespace

int main(int argc, char **argv) {
    std::string output;
    bool quiet = false, printKicks = false, verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--quiet" || a == "-q") {
            quiet = true;
        } else if (a == "--verbose" || a == "-v") {
            verbose = true;
        } else if (a == "--print-kicks") {
            printKicks = true;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "mksong: unknown option %s\n", a.c_str());
            usage(stderr);
            return 2;
        } else if (output.empty()) {
            output = a;
        } else {
            std::fprintf(stderr, "mksong: more than one output path given\n");
            usage(stderr);
            return 2;
        }
    }
    if (output.empty() && !printKicks) {
        std::fprintf(stderr, "mksong: no output path given\n");
        usage(stderr);
        return 2;
    }

    if (printKicks) {
        for (const Kick &k : kickPlan()) {
            std::printf("%d %.3f %.2f %s\n", static_cast<int>(std::lround(k.beat)),
                        k.beat * 60000.0 / kBpm, k.velocity, k.muffled ? "muffled" : "kick");
        }
        return 0;
    }
    const auto t0 = std::chrono::steady_clock::now();
    auto since = [&t0] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    };
    // Open the output first, so that a bad path fails at once rather than after the rendering.
    auto file = std::make_unique<OutFile>(output);
    if (!file->open()) {
        std::fprintf(stderr, "mksong: %s\n", file->error().c_str());
        return 1;
    }
    auto song = std::make_unique<Song>();
    arrange(*song);
    const double tArrange = since();
    const Master master = mixdown(song->mix, -14.0, -2.0);
    const double tMix = since();
    std::string error;
    if (!encode(song->mix.dry, *file, &error)) {
        std::fprintf(stderr, "mksong: %s\n", error.c_str());
        return 1;
    }
    const double secs = since();
    if (verbose) {
        std::printf("mksong: arrangement and instruments %.2f s, mixing and mastering %.2f s, "
                    "encoding %.2f s\n",
                    tArrange, tMix - tArrange, secs - tMix);
    }
    if (!quiet) {
        std::printf("mksong: wrote %s: %.3f s, %d bars at %.0f BPM, %.2f LUFS, peak %.2f dBFS "
                    "before encoding, in %.2f s\n",
                    output.c_str(), kTotal / static_cast<double>(kRate), kBars, kBpm, master.lufs,
                    master.peakDb, secs);
    }
    return 0;
}
