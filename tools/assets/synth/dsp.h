// DSP building blocks: filters, the table sine, oscillators, envelopes and automation curves.
//
// All of it is small and runs per sample, so it lives here, inline, where every instrument and
// effect has it compiled into its own loop.
#pragma once
#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include "grid.h"
#include "maths.h"

namespace synth {

// A rendered sound: its samples from the onset of the note.
using Sound = std::vector<float>;
struct StereoSound {
    Sound l, r;
};

// Fades the last `seconds` of a rendered sound to zero, so that cutting off a long decay never
// clicks.
inline void fadeTail(Sound &v, double seconds) {
    const size_t n = std::min(v.size(), static_cast<size_t>(seconds * kRate));
    for (size_t i = 0; i < n; ++i)
        v[v.size() - 1 - i] *= static_cast<float>(i) / static_cast<float>(n);
}

// Topology-preserving state-variable filter (Zavalishin / Simper).
struct Svf {
    double ic1 = 0, ic2 = 0, a1 = 1, a2 = 0, a3 = 0, k = 1;
    void set(double hz, double q) {
        hz = std::clamp(hz, 10.0, kRate * 0.45);
        const double g = maths::tan(kPi * hz / kRate);
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

// Direct form II transposed biquad; the caller sets the coefficients.
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
            t_[i] = maths::sin(2.0 * kPi * i / kSize);
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
// fsin(cycles): the table sine every oscillator and LFO uses.
inline const SineTable fsin;

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

// Band-limited sawtooth and pulse, and a table sine; the phase runs over [0, 1).
struct Oscillator {
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

// Automation: a piecewise curve over bar positions.
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
                    return p.second * maths::pow(q.second / p.second, x);
                return p.second + (q.second - p.second) * x;
            }
        }
        return pts.back().second;
    }
};

} // namespace synth
