// The look-ahead peak limiter of the master chain.
//
// The gain reaches its target before a peak arrives (a running minimum of the needed gain over
// the last `look` samples, then a moving average over the next `look`), and recovers with a
// smooth release; the output never exceeds the ceiling.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <utility>

#include "grid.h"
#include "maths.h"

namespace synth {

class Limiter {
  public:
    // `scratch` holds n floats of working space for run().
    explicit Limiter(float *scratch) : held(scratch) {}
    // Limits n stereo samples, scaled by `gain`, to `ceiling`, handing every output pair to
    // sink(n, l, r) in order; sink may write back into the input at n.
    template <class Sink>
    void run(const float *inL, const float *inR, int64_t n, double gain, double ceiling,
             Sink sink) {
        const int look = static_cast<int>(0.003 * kRate);
        std::deque<std::pair<int64_t, float>> q; // increasing needed gains in the window
        for (int64_t i = 0; i < n; ++i) {
            const double p = gain * std::max(std::fabs(inL[i]), std::fabs(inR[i]));
            const float need = static_cast<float>(p > ceiling ? ceiling / p : 1.0);
            while (!q.empty() && q.back().second >= need)
                q.pop_back();
            q.emplace_back(i, need);
            if (q.front().first <= i - look)
                q.pop_front();
            held[i] = q.front().second;
        }
        auto heldAt = [&](int64_t i) { return i < n ? static_cast<double>(held[i]) : 1.0; };
        double acc = 0;
        for (int64_t i = 0; i < look; ++i)
            acc += heldAt(i);
        const double rel = 1.0 - maths::exp(-1.0 / (0.12 * kRate));
        double g = 1.0;
        for (int64_t i = 0; i < n; ++i) {
            // Renew the running sum now and then, so that no rounding drift builds up.
            if (i % 65536 == 0) {
                acc = 0;
                for (int64_t k = i; k < i + look; ++k)
                    acc += heldAt(k);
            }
            g = std::min(acc / look, g + (1.0 - g) * rel);
            acc += heldAt(i + look) - heldAt(i);
            const double a = std::clamp(inL[i] * gain * g, -ceiling, ceiling);
            const double b = std::clamp(inR[i] * gain * g, -ceiling, ceiling);
            sink(i, a, b);
        }
    }

  private:
    float *held;
};

} // namespace synth
