// The master chain: effects, mixdown, air, DC blocker, loudness normalisation and limiting.
#include "master.h"

#include <algorithm>
#include <cmath>
#include <vector>

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

namespace {

// One pass of the limiter over the stored master, handing every output pair to sink(n, l, r).
template <class Sink>
void limitPass(SongStore &store, double gain, double ceiling, std::vector<float> &l,
               std::vector<float> &r, Sink sink) {
    Limiter limiter(gain, ceiling);
    for (int64_t from = 0; from < kTotal; from += Buses::kFrames) {
        const int count = static_cast<int>(std::min<int64_t>(Buses::kFrames, kTotal - from));
        store.read(from, l.data(), r.data(), count);
        for (int k = 0; k < count; ++k)
            limiter.push(l[k], r[k], sink);
    }
    limiter.finish(sink);
}

} // namespace

Mastered mixdown(Mix &m, const MixAutomation &automation, double targetLufs, double ceilingDb,
                 SongStore &store, const Progress &progress) {
    // The effects and the master bus run side by side, sample by sample, over blocks of the
    // buses; per sample the order is the chain's: the pad's filter, the delay (a quarter of its
    // echoes into the reverb), the pad's reverb send, the reverb, then the mixdown.
    PadFilter padFilter(automation.padCutoff, automation.padLevel);
    PingPongDelay echo;
    Reverb room(0.86f, 0.3f);
    const Curve &contour = automation.level;
    const double fadeFrom = automation.fadeFrom, fadeTo = automation.fadeTo;
    Air air;
    double dcL = 0, dcR = 0, prevL = 0, prevR = 0;
    const double dcA = maths::exp(-2 * kPi * 18.0 / kRate);
    LoudnessMeter before;
    double level = 1.0;
    Buses b;
    std::vector<float> outL(Buses::kFrames), outR(Buses::kFrames);
    for (int64_t from = 0; from < kTotal; from += Buses::kFrames) {
        const int count = static_cast<int>(std::min<int64_t>(Buses::kFrames, kTotal - from));
        mixBlock(m, from, count, b);
        for (int k = 0; k < count; ++k) {
            const int64_t n = from + k;
            padFilter.tick(n, b.padL[k], b.padR[k]);
            float delayL, delayR, reverbL, reverbR;
            echo.tick(b.delayL[k], b.delayR[k], delayL, delayR);
            b.reverbL[k] += 0.25f * delayL;
            b.reverbR[k] += 0.25f * delayR;
            b.reverbL[k] += 0.3f * b.padL[k];
            b.reverbR[k] += 0.3f * b.padR[k];
            room.tick(b.reverbL[k], b.reverbR[k], reverbL, reverbR);

            const double s = m.duck.at(n);
            const double dPad = 1.0 - 0.55 * s, dDelay = 1.0 - 0.3 * s, dRev = 1.0 - 0.35 * s;
            double l = b.dryL[k] + b.padL[k] * dPad + reverbL * 1.6 * dRev + delayL * 0.55 * dDelay;
            double r = b.dryR[k] + b.padR[k] * dPad + reverbR * 1.6 * dRev + delayR * 0.55 * dDelay;
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
            outL[k] = static_cast<float>(dcL);
            outR[k] = static_cast<float>(dcR);
            before.add(dcL, dcR);
        }
        store.write(from, outL.data(), outR.data(), count);
        progress(0.8 * (from + count) / kTotal);
    }

    // Loudness normalisation with the limiter in the loop, then the final pass in place.
    const double ceiling = maths::pow(10.0, ceilingDb / 20.0);
    double gainDb = targetLufs - before.lufs();
    std::vector<float> inL(Buses::kFrames), inR(Buses::kFrames);
    for (int iter = 0; iter < 3; ++iter) {
        LoudnessMeter meter;
        limitPass(store, maths::pow(10.0, gainDb / 20.0), ceiling, inL, inR,
                  [&](int64_t, double a, double b) { meter.add(a, b); });
        progress(0.8 + 0.05 * (iter + 1));
        const double got = meter.lufs();
        if (std::fabs(got - targetLufs) < 0.03)
            break;
        gainDb += targetLufs - got;
    }
    Mastered out;
    LoudnessMeter meter;
    double peak = 0;
    int64_t written = 0; // the finished samples go back in blocks, behind the reading
    int filled = 0;
    limitPass(store, maths::pow(10.0, gainDb / 20.0), ceiling, inL, inR,
              [&](int64_t, double a, double b) {
                  outL[filled] = static_cast<float>(a);
                  outR[filled] = static_cast<float>(b);
                  meter.add(outL[filled], outR[filled]);
                  peak = std::max({peak, std::fabs(a), std::fabs(b)});
                  if (++filled == Buses::kFrames || written + filled == kTotal) {
                      store.write(written, outL.data(), outR.data(), filled);
                      written += filled;
                      filled = 0;
                  }
              });
    progress(1.0);
    out.lufs = meter.lufs();
    out.peakDb = 20.0 * maths::log10(std::max(peak, 1e-9));
    return out;
}

} // namespace synth
