// The pitched instruments' sounds: bass, sub, pad, pluck, lead and bell.
#include "voices.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "maths.h"

namespace synth {

namespace {

inline double midiHz(double note) {
    return 440.0 * maths::pow(2.0, (note - 69.0) / 12.0);
}

} // namespace

Sound bassNote(double note, double len, double cutoff, double envAmount) {
    const double hz = midiHz(note);
    const double rel = 0.03;
    const int n = static_cast<int>((len + rel) * kRate);
    Sound out(n);
    Oscillator a, b;
    b.phase = 0.37;
    Svf lp, hp;
    hp.set(70, 0.7);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        if ((i & 15) == 0)
            lp.set(cutoff + envAmount * std::min(1.0, t / 0.012) * maths::exp(-t / 0.09), 1.6);
        const double saws = 0.5 * (a.saw(hz) + b.saw(hz * 1.0045));
        double high = 0;
        hp.tick(lp.tick(saws), nullptr, &high);
        const double amp = adsr(t, len, 0.02, 0.12, 0.75, rel);
        out[i] = static_cast<float>(maths::tanh(1.4 * high) * amp);
    }
    return out;
}

Sound subNote(double note, double len) {
    const double hz = midiHz(note);
    const double rel = 0.06;
    const int n = static_cast<int>((len + rel) * kRate);
    Sound out(n);
    Oscillator s, h;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double amp = adsr(t, len, 0.03, 0.1, 1.0, rel);
        out[i] = static_cast<float>((s.sine(hz) + 0.18 * h.sine(2 * hz)) * amp);
    }
    return out;
}

PadVoice padVoice(Rng &rng, double note, double len, double attack, double release, double glass) {
    PadVoice v{note, len, attack, release, glass, {}, {}};
    for (double &p : v.sawPhases)
        p = rng.unit();
    for (double &p : v.glassPhases)
        p = rng.unit();
    return v;
}

StereoSound renderPad(const PadVoice &v) {
    const double note = v.note, len = v.len, attack = v.attack, release = v.release,
                 glass = v.glass;
    const int n = static_cast<int>((len + release) * kRate);
    StereoSound out{Sound(n, 0), Sound(n, 0)};
    const double hz = midiHz(note);
    static constexpr std::array<double, 5> cents = {-15.0, -6.5, 0.0, 7.0, 14.0};
    static constexpr std::array<double, 5> pans = {-0.85, 0.45, 0.0, -0.45, 0.85};
    std::array<Oscillator, 5> saws;
    std::array<double, 5> f{}, gl{}, gr{};
    for (int k = 0; k < 5; ++k) {
        saws[k].phase = v.sawPhases[k];
        f[k] = hz * maths::pow(2.0, cents[k] / 1200.0);
        const double ang = (pans[k] + 1.0) * kPi / 4.0;
        gl[k] = maths::cos(ang);
        gr[k] = maths::sin(ang);
    }
    Oscillator g1, g2, g3, g4;
    g1.phase = v.glassPhases[0];
    g2.phase = v.glassPhases[1];
    g3.phase = v.glassPhases[2];
    g4.phase = v.glassPhases[3];
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
        out.l[i] = static_cast<float>(sl * amp);
        out.r[i] = static_cast<float>(sr * amp);
    }
    return out;
}

Sound pluck(double note, double cutoff, double decay) {
    const double hz = midiHz(note);
    const int n = static_cast<int>((decay * 4.6) * kRate); // down to -40 dB, then faded out
    const int fadeFrom = n * 4 / 5;
    Sound out(n);
    Oscillator a, b;
    b.phase = 0.5;
    Svf lp;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        if ((i & 15) == 0)
            lp.set(cutoff * (0.25 + 2.5 * maths::exp(-t / 0.06)), 1.3);
        const double v = 0.6 * a.saw(hz) + 0.4 * b.pulse(hz * 1.002, 0.3);
        const double fade = i < fadeFrom ? 1.0 : static_cast<double>(n - i) / (n - fadeFrom);
        out[i] = static_cast<float>(lp.tick(v) * std::min(1.0, t / 0.002) * maths::exp(-t / decay) *
                                    fade);
    }
    return out;
}

StereoSound leadNote(double note, double len, double cutoff) {
    const double rel = 0.18;
    const int n = static_cast<int>((len + rel) * kRate);
    StereoSound out{Sound(n, 0), Sound(n, 0)};
    const double hz = midiHz(note);
    Oscillator a, b, c, d;
    b.phase = 0.31;
    c.phase = 0.67;
    Svf lpl, lpr;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double vibDepth = 0.0045 * std::clamp((t - 0.22) / 0.3, 0.0, 1.0);
        const double vib = 1.0 + vibDepth * fsin(5.4 * t);
        if ((i & 15) == 0) {
            const double fc = cutoff * (0.7 + 1.1 * maths::exp(-t / 0.15));
            lpl.set(fc, 1.1);
            lpr.set(fc * 1.04, 1.1);
        }
        const double va = a.saw(hz * vib * 0.9965), vb = b.saw(hz * vib),
                     vc = c.saw(hz * vib * 1.0035);
        const double vd = d.pulse(hz * 0.5 * vib, 0.5);
        const double amp = adsr(t, len, 0.006, 0.25, 0.72, rel);
        out.l[i] = static_cast<float>(lpl.tick(0.5 * va + 0.3 * vb + 0.25 * vd) * amp);
        out.r[i] = static_cast<float>(lpr.tick(0.5 * vc + 0.3 * vb + 0.25 * vd) * amp);
    }
    return out;
}

Sound bell(double note, double decay) {
    const double hz = midiHz(note);
    const int n = static_cast<int>(decay * 5.0 * kRate);
    Sound out(n);
    double pc = 0, pm = 0, p2 = 0;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double index = 2.2 * maths::exp(-t / 0.35) + 0.3;
        const double m = fsin(pm);
        const double v = fsin(pc + index * m / (2 * kPi)) + 0.25 * fsin(p2);
        pc += hz / kRate;
        pm += hz * 3.5 / kRate;
        p2 += hz * 2.0 / kRate;
        out[i] = static_cast<float>(v * std::min(1.0, t / 0.0015) * maths::exp(-t / decay));
    }
    fadeTail(out, 0.2 * n / kRate);
    return out;
}

} // namespace synth
