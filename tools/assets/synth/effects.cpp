// Reverb, delay and the pad filter, one stereo sample at a time.
#include "effects.h"

#include <cmath>

#include "maths.h"

namespace synth {

namespace {

constexpr std::array<int, 8> kCombs = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr std::array<int, 4> kAllpasses = {556, 441, 341, 225};
constexpr int kSpread = 23; // the right channel's extra length

} // namespace

Reverb::Reverb(float roomSize, float damp)
    : roomSize_(roomSize), damp_(damp), dl_(static_cast<int>(0.02 * kRate), 0),
      dr_(static_cast<int>(0.02 * kRate), 0) {
    for (int c : kCombs) {
        cl_.emplace_back(c);
        cr_.emplace_back(c + kSpread);
    }
    for (int a : kAllpasses) {
        al_.emplace_back(a);
        ar_.emplace_back(a + kSpread);
    }
    // A gentle high-pass on the input, with the pre-delay, keeps the low end clean.
    hpl_.set(250, 0.7);
    hpr_.set(250, 0.7);
}

void Reverb::tick(float inL, float inR, float &outL, float &outR) {
    auto comb = [this](Comb &c, float x) {
        const float y = c.buf[c.i];
        c.store = y * (1 - damp_) + c.store * damp_;
        c.buf[c.i] = x + c.store * roomSize_;
        if (++c.i == c.buf.size())
            c.i = 0;
        return y;
    };
    auto allpass = [](Allpass &a, float x) {
        const float b = a.buf[a.i];
        const float y = -x + b;
        a.buf[a.i] = x + b * 0.5f;
        if (++a.i == a.buf.size())
            a.i = 0;
        return y;
    };
    double hl = 0, hr = 0;
    hpl_.tick(inL, nullptr, &hl);
    hpr_.tick(inR, nullptr, &hr);
    const float dl = dl_[pi_], dr = dr_[pi_];
    dl_[pi_] = static_cast<float>(hl);
    dr_[pi_] = static_cast<float>(hr);
    if (++pi_ == dl_.size())
        pi_ = 0;
    const float in = (dl + dr) * 0.015f;
    float ol = 0, orr = 0;
    for (size_t k = 0; k < kCombs.size(); ++k) {
        ol += comb(cl_[k], in);
        orr += comb(cr_[k], in);
    }
    for (size_t k = 0; k < kAllpasses.size(); ++k) {
        ol = allpass(al_[k], ol);
        orr = allpass(ar_[k], orr);
    }
    outL = ol;
    outR = orr;
}

PingPongDelay::PingPongDelay()
    : bl_(static_cast<int>(std::lround(0.75 * kSamplesPerBeat)), 0),
      br_(static_cast<int>(std::lround(0.75 * kSamplesPerBeat)), 0),
      a_(maths::exp(-2 * kPi * 3500.0 / kRate)) {}

void PingPongDelay::tick(float inL, float inR, float &outL, float &outR) {
    const float yl = bl_[i_], yr = br_[i_];
    lpL_ = (1 - a_) * yl + a_ * lpL_;
    lpR_ = (1 - a_) * yr + a_ * lpR_;
    const float inMono = 0.5f * (inL + inR);
    bl_[i_] = static_cast<float>(inMono + 0.42 * lpR_);
    br_[i_] = static_cast<float>(0.42 * lpL_);
    if (++i_ == bl_.size())
        i_ = 0;
    outL = yl;
    outR = yr;
}

void PadFilter::tick(int64_t n, float &l, float &r) {
    if ((n & 31) == 0) {
        const double bar = sampleBar(n);
        const double lfo = 1.0 + 0.18 * fsin(bar / 4.0);
        const double hz = cutoff_.at(bar) * lfo;
        fl_.set(hz, 0.9);
        fr_.set(hz * 1.03, 0.9);
        lvl_ = level_.at(bar);
    }
    l = static_cast<float>(fl_.tick(l) * lvl_);
    r = static_cast<float>(fr_.tick(r) * lvl_);
}

} // namespace synth
