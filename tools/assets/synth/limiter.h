// The look-ahead peak limiter of the master chain.
//
// The gain reaches its target before a peak arrives (a running minimum of the needed gain over
// the last `look` samples, then a moving average over the next `look`), and recovers with a
// smooth release; the output never exceeds the ceiling. It streams: a sample comes out `look`
// samples after it went in, so only that window is held.
#pragma once
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <deque>
#include <utility>

#include "grid.h"
#include "maths.h"

namespace synth {

class Limiter {
  public:
    // Scales by `gain` and limits to `ceiling`.
    Limiter(double gain, double ceiling) : gain_(gain), ceiling_(ceiling) {}

    // Takes sample `in_` of the input; hands each output pair that is ready to sink(n, l, r),
    // in order.
    template <class Sink> void push(float l, float r, Sink sink) {
        const int64_t i = in_++;
        inL_[i & kMask] = l;
        inR_[i & kMask] = r;
        const double p = gain_ * std::max(std::fabs(l), std::fabs(r));
        const float need = static_cast<float>(p > ceiling_ ? ceiling_ / p : 1.0);
        while (!q_.empty() && q_.back().second >= need)
            q_.pop_back();
        q_.emplace_back(i, need);
        if (q_.front().first <= i - kLook)
            q_.pop_front();
        held_[i & kMask] = q_.front().second;
        if (i >= kLook)
            emit(sink);
    }
    // The input has ended: hands over the last outputs.
    template <class Sink> void finish(Sink sink) {
        while (out_ < in_)
            emit(sink);
    }

  private:
    static constexpr int kLook = static_cast<int>(0.003 * kRate);
    static constexpr int64_t kMask = 255; // the window, a power of two above kLook
    static_assert(kMask + 1 > kLook, "the window holds the look-ahead");

    // The needed gain at sample i, 1 past the end of the input.
    double heldAt(int64_t i) const { return i < in_ ? static_cast<double>(held_[i & kMask]) : 1.0; }

    template <class Sink> void emit(Sink sink) {
        const int64_t i = out_++;
        // Renew the running sum now and then, so that no rounding drift builds up.
        if (i % 65536 == 0) {
            acc_ = 0;
            for (int64_t k = i; k < i + kLook; ++k)
                acc_ += heldAt(k);
        }
        g_ = std::min(acc_ / kLook, g_ + (1.0 - g_) * kRelease);
        acc_ += heldAt(i + kLook) - heldAt(i);
        const double a = std::clamp(inL_[i & kMask] * gain_ * g_, -ceiling_, ceiling_);
        const double b = std::clamp(inR_[i & kMask] * gain_ * g_, -ceiling_, ceiling_);
        sink(i, a, b);
    }

    const double kRelease = 1.0 - maths::exp(-1.0 / (0.12 * kRate));
    double gain_, ceiling_;
    std::deque<std::pair<int64_t, float>> q_; // increasing needed gains in the window
    std::array<float, kMask + 1> inL_{}, inR_{}, held_{};
    int64_t in_ = 0, out_ = 0;
    double acc_ = 0, g_ = 1.0;
};

} // namespace synth
