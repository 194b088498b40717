// The time grid: the sample rate and the show's bar grid (124 BPM, four beats to the bar, bar n at
// n x 1935.484 ms), and the length of the piece on it.
#pragma once
#include <cmath>
#include <cstdint>

namespace synth {

constexpr int kRate = 44100;
constexpr double kBpm = 124.0;
constexpr double kSamplesPerBeat = 60.0 / kBpm * kRate; // 21338.709677...
constexpr int kBars = 69;                               // 133.5 s: outlasts the show (129.7 s)
constexpr double kPi = 3.14159265358979323846;

// Every bus holds the whole piece: kTotal samples.
const int64_t kTotal = static_cast<int64_t>(std::ceil(kBars * 4 * kSamplesPerBeat));

inline int64_t beatToSample(double beat) {
    return std::llround(beat * kSamplesPerBeat);
}
inline double bars(double b) {
    return 4.0 * b;
} // bar position -> beat position
inline double sampleBar(int64_t n) {
    return n / (4.0 * kSamplesPerBeat);
} // sample -> bar position

} // namespace synth
