// Reverb, delay and the pad filter, each run once over a whole bus.
#include "effects.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

#include "maths.h"

namespace synth {

namespace {

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

} // namespace

void reverb(StereoBus &io, float roomSize, float damp) {
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

void delay(StereoBus &io, StereoBus &reverbSend) {
    const int d = static_cast<int>(std::lround(0.75 * kSamplesPerBeat));
    std::vector<float> bl(d, 0), br(d, 0);
    size_t i = 0;
    double lpL = 0, lpR = 0;
    const double a = maths::exp(-2 * kPi * 3500.0 / kRate);
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

void filterPad(StereoBus &pad, const Curve &cutoff, const Curve &level) {
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

} // namespace synth
