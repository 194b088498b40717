// The loudness meter's K-weighting filters and its gated integration.
#include "loudness.h"

#include <algorithm>
#include <cmath>

#include "maths.h"

namespace synth {

LoudnessMeter::LoudnessMeter() {
    // The stage 1 shelf and the stage 2 high-pass, designed for this sample rate from the
    // analogue prototypes the 48 kHz coefficients of the standard come from.
    const double G = 3.999843853973347, f0 = 1681.974450955533, Q = 0.7071752369554196;
    const double A = maths::pow(10.0, G / 40.0), w0 = 2 * kPi * f0 / kRate,
                 alpha = maths::sin(w0) / (2 * Q);
    const double cw = maths::cos(w0), sA = std::sqrt(A);
    const double a0 = (A + 1) - (A - 1) * cw + 2 * sA * alpha;
    Biquad sh;
    sh.b0 = A * ((A + 1) + (A - 1) * cw + 2 * sA * alpha) / a0;
    sh.b1 = -2 * A * ((A - 1) + (A + 1) * cw) / a0;
    sh.b2 = A * ((A + 1) + (A - 1) * cw - 2 * sA * alpha) / a0;
    sh.a1 = 2 * ((A - 1) - (A + 1) * cw) / a0;
    sh.a2 = ((A + 1) - (A - 1) * cw - 2 * sA * alpha) / a0;
    const double hf0 = 38.13547087602444, hQ = 0.5003270373238773;
    const double hw0 = 2 * kPi * hf0 / kRate, halpha = maths::sin(hw0) / (2 * hQ),
                 hcw = maths::cos(hw0);
    Biquad hp;
    hp.b0 = 1 / (1 + halpha);
    hp.b1 = -2 / (1 + halpha);
    hp.b2 = 1 / (1 + halpha);
    hp.a1 = -2 * hcw / (1 + halpha);
    hp.a2 = (1 - halpha) / (1 + halpha);
    shelf_ = {sh, sh};
    highpass_ = {hp, hp};
}

double LoudnessMeter::lufs() const {
    std::vector<double> blocks;
    for (size_t i = 0; i + 4 <= steps_.size(); ++i) {
        blocks.push_back((steps_[i] + steps_[i + 1] + steps_[i + 2] + steps_[i + 3]) /
                         (4.0 * kStep));
    }
    auto loud = [](double z) { return -0.691 + 10.0 * maths::log10(std::max(z, 1e-20)); };
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

} // namespace synth
