// The master chain: effects, mixdown, air, DC blocker, loudness normalisation and limiting.
#include "master.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "effects.h"
#include "limiter.h"
#include "loudness.h"
#include "maths.h"
#include "noise.h"

namespace synth {

namespace {

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
        const double wl = rng_.bipolar(), wr = rng_.bipolar();
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

} // namespace

Mastered mixdown(Mix &m, const MixAutomation &automation, double targetLufs, double ceilingDb) {
    std::thread padThread(
        [&m, &automation] { filterPad(m.pad, automation.padCutoff, automation.padLevel); });
    delay(m.delay, m.reverb);
    padThread.join();
    for (int64_t n = 0; n < kTotal; ++n) { // the pad's reverb send, after its filter
        m.reverb.l[n] += 0.3f * m.pad.l[n];
        m.reverb.r[n] += 0.3f * m.pad.r[n];
    }
    reverb(m.reverb, 0.86f, 0.3f);

    const Curve &contour = automation.level;
    const double fadeFrom = automation.fadeFrom, fadeTo = automation.fadeTo;
    Air air;
    double dcL = 0, dcR = 0, prevL = 0, prevR = 0;
    const double dcA = maths::exp(-2 * kPi * 18.0 / kRate);
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
    const double ceiling = maths::pow(10.0, ceilingDb / 20.0);
    double gainDb = targetLufs - before.lufs();
    Limiter limiter(m.delay.l); // the delay bus is spent by now: its memory is the scratch
    for (int iter = 0; iter < 3; ++iter) {
        LoudnessMeter meter;
        limiter.run(m.dry.l, m.dry.r, kTotal, maths::pow(10.0, gainDb / 20.0), ceiling,
                    [&](int64_t, double a, double b) { meter.add(a, b); });
        const double got = meter.lufs();
        if (std::fabs(got - targetLufs) < 0.03)
            break;
        gainDb += targetLufs - got;
    }
    Mastered out;
    LoudnessMeter meter;
    double peak = 0;
    limiter.run(m.dry.l, m.dry.r, kTotal, maths::pow(10.0, gainDb / 20.0), ceiling,
                [&](int64_t n, double a, double b) {
                    m.dry.l[n] = static_cast<float>(a);
                    m.dry.r[n] = static_cast<float>(b);
                    meter.add(m.dry.l[n], m.dry.r[n]);
                    peak = std::max({peak, std::fabs(a), std::fabs(b)});
                });
    out.lufs = meter.lufs();
    out.peakDb = 20.0 * maths::log10(std::max(peak, 1e-9));
    return out;
}

} // namespace synth
