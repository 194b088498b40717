// The drum machine's sounds: kick, clap, snare, hats, cymbals, sweeps and the boom.
#include "drums.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "maths.h"

namespace synth {

namespace {

// Metallic cymbal source: six detuned square waves (the classic analogue hat recipe) plus noise.
struct Metal {
    std::array<Oscillator, 6> osc;
    double tick(double scale, Rng &rng, double noiseMix) {
        static constexpr std::array<double, 6> f = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
        double s = 0;
        for (int k = 0; k < 6; ++k)
            s += osc[k].pulse(f[k] * scale, 0.5);
        return s / 6.0 * (1.0 - noiseMix) + rng.bipolar() * noiseMix;
    }
};

} // namespace

Sound kick(Rng &rng, double decay) {
    const int n = static_cast<int>(0.55 * kRate);
    Sound out(n);
    double ph = 0, prevNoise = 0;
    Svf top; // the "tick" layer: a short burst of bright noise that marks the beat
    top.set(4200, 0.9);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double hz = 51.0 + 120.0 * maths::exp(-t / 0.03) + 260.0 * maths::exp(-t / 0.005);
        ph += hz / kRate;
        double amp = maths::exp(-t / decay);
        if (t > 0.42)
            amp *= std::max(0.0, 1.0 - (t - 0.42) / 0.13);
        const double body = maths::tanh(2.2 * fsin(ph) * amp) / maths::tanh(2.2);
        const double nz = rng.bipolar();
        const double click = (nz - prevNoise) * 0.5 * maths::exp(-t / 0.0015);
        prevNoise = nz;
        double tick = 0;
        top.tick(nz, &tick);
        tick *= maths::exp(-t / 0.009);
        out[i] = static_cast<float>(0.92 * body + 0.45 * click + 0.35 * tick);
    }
    return out;
}

StereoSound clap(Rng &rng) {
    const int n = static_cast<int>(0.45 * kRate);
    StereoSound out{Sound(n, 0), Sound(n, 0)};
    Svf bl, br;
    bl.set(1350, 1.1);
    br.set(1500, 1.1);
    Oscillator body;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double env = 0;
        for (double b : {0.0, 0.0095, 0.019}) {
            if (t >= b)
                env += maths::exp(-(t - b) / 0.0055) * (t < b + 0.012 ? 1.0 : 0.0);
        }
        if (t >= 0.026)
            env += 0.85 * maths::exp(-(t - 0.026) / 0.13);
        const double common = rng.bipolar();
        const double nl = 0.7 * common + 0.3 * rng.bipolar(),
                     nr = 0.7 * common + 0.3 * rng.bipolar();
        double bandL = 0, bandR = 0, highL = 0, highR = 0;
        bl.tick(nl, &bandL, &highL);
        br.tick(nr, &bandR, &highR);
        const double snare =
            body.sine(188.0 + 40.0 * maths::exp(-t / 0.01)) * maths::exp(-t / 0.055) * 0.45;
        out.l[i] = static_cast<float>(env * (1.6 * bandL + 0.25 * highL) + snare);
        out.r[i] = static_cast<float>(env * (1.6 * bandR + 0.25 * highR) + snare);
    }
    fadeTail(out.l, 0.08);
    fadeTail(out.r, 0.08);
    return out;
}

Sound snare(Rng &rng) {
    const int n = static_cast<int>(0.22 * kRate);
    Sound out(n);
    Svf hp;
    hp.set(2200, 0.8);
    Oscillator body;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double high = 0;
        hp.tick(rng.bipolar(), nullptr, &high);
        const double tone =
            body.sine(200.0 + 60.0 * maths::exp(-t / 0.008)) * maths::exp(-t / 0.045);
        out[i] = static_cast<float>(0.55 * tone + 0.8 * high * maths::exp(-t / 0.07));
    }
    fadeTail(out, 0.05);
    return out;
}

Sound hat(Rng &rng, double decay, double tone) {
    const int n = static_cast<int>(std::min(1.2, decay * 7.0 + 0.02) * kRate);
    Sound out(n);
    Metal m;
    Svf bp, hp;
    bp.set(9000 * tone, 1.2);
    hp.set(6500 * tone, 0.7);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double band = 0, high = 0;
        bp.tick(m.tick(1.9 * tone, rng, 0.45), &band);
        hp.tick(band, nullptr, &high);
        const double env = std::min(1.0, t / 0.0008) * maths::exp(-t / decay);
        out[i] = static_cast<float>(high * env * 2.2);
    }
    return out;
}

StereoSound cymbal(Rng &rng, double decay, double tone, double metalMix, double maxSeconds) {
    const int n = static_cast<int>(std::min(maxSeconds, decay * 5.0) * kRate);
    StereoSound out{Sound(n, 0), Sound(n, 0)};
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
                           (0.6 * maths::exp(-t / (decay * 0.25)) + 0.4 * maths::exp(-t / decay));
        const double nl = ml.tick(2.3 * tone, rng, 1.0 - metalMix),
                     nr = mr.tick(2.31 * tone, rng, 1.0 - metalMix);
        double hl = 0, hr = 0;
        hpl.tick(nl, nullptr, &hl);
        hpr.tick(nr, nullptr, &hr);
        out.l[i] = static_cast<float>(lpl.tick(hl) * env);
        out.r[i] = static_cast<float>(lpr.tick(hr) * env);
    }
    fadeTail(out.l, 0.2 * n / kRate);
    fadeTail(out.r, 0.2 * n / kRate);
    return out;
}

StereoSound sweep(Rng &rng, double seconds, double fromHz, double toHz, bool rising) {
    const int n = static_cast<int>(seconds * kRate);
    StereoSound out{Sound(n, 0), Sound(n, 0)};
    Svf bl, br;
    for (int i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) / n;
        if ((i & 15) == 0) {
            const double hz = fromHz * maths::pow(toHz / fromHz, x);
            bl.set(hz, 2.5);
            br.set(hz * 1.07, 2.5);
        }
        const double common = rng.bipolar();
        double bandL = 0, bandR = 0;
        bl.tick(0.6 * common + 0.4 * rng.bipolar(), &bandL);
        br.tick(0.6 * common + 0.4 * rng.bipolar(), &bandR);
        double env =
            rising ? x * x * (0.3 + 0.7 * x) : (1.0 - x) * (1.0 - x) * std::min(1.0, x * 40.0);
        if (rising)
            env *= std::min(1.0, (n - i) / (0.006 * kRate)); // no click at the end
        out.l[i] = static_cast<float>(bandL * env * 2.5);
        out.r[i] = static_cast<float>(bandR * env * 2.5);
    }
    return out;
}

Sound boom() {
    const int n = static_cast<int>(2.2 * kRate);
    Sound out(n);
    double ph = 0;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        ph += (34.0 + 40.0 * maths::exp(-t / 0.25)) / kRate;
        out[i] = static_cast<float>(fsin(ph) * std::min(1.0, t / 0.004) * maths::exp(-t / 0.7));
    }
    fadeTail(out, 0.4);
    return out;
}

} // namespace synth
