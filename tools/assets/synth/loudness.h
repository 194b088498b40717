// The loudness meter: integrated loudness in LUFS after ITU-R BS.1770-4.
//
// K-weighting, 400 ms blocks every 100 ms, the absolute gate at -70 LUFS and the relative gate
// 10 LU below the absolutely gated loudness.
#pragma once
#include <array>
#include <vector>

#include "dsp.h"
#include "grid.h"

namespace synth {

class LoudnessMeter {
  public:
    LoudnessMeter();
    // One stereo sample.
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
    // The integrated loudness of everything added so far, in LUFS (-100 for silence).
    double lufs() const;

  private:
    static constexpr int kStep = kRate / 10;
    std::array<Biquad, 2> shelf_, highpass_;
    std::vector<double> steps_;
    double acc_ = 0;
    int count_ = 0;
};

} // namespace synth
