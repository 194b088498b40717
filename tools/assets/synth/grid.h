// The time grid: the sample rate, the show's 124 BPM bar grid, the piece's length, bar lanes.
//
// Four beats to the bar, bar n starting at n x 1935.484 ms.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace synth {

constexpr int kRate = 44100;
constexpr double kBpm = 124.0;
constexpr double kSamplesPerBeat = 60.0 / kBpm * kRate; // 21338.709677...
constexpr int kBars = 69;                               // 133.5 s: outlasts the show (129.7 s)
constexpr double kPi = 3.14159265358979323846;

// Every bus holds the whole piece: kTotal samples.
const int64_t kTotal = static_cast<int64_t>(std::ceil(kBars * 4 * kSamplesPerBeat));

// Beat position -> the sample it starts on.
inline int64_t beatToSample(double beat) {
    return std::llround(beat * kSamplesPerBeat);
}
// Bar position -> beat position.
inline double bars(double b) {
    return 4.0 * b;
}
// Sample -> bar position.
inline double sampleBar(int64_t n) {
    return n / (4.0 * kSamplesPerBeat);
}

// A part's lane on the grid: the runs of bars [from, to) it plays in.
class Lane {
  public:
    Lane(std::initializer_list<std::pair<int, int>> runs) : runs_(runs) {}
    bool has(int bar) const {
        return std::any_of(runs_.begin(), runs_.end(), [bar](std::pair<int, int> run) {
            return bar >= run.first && bar < run.second;
        });
    }

  private:
    std::vector<std::pair<int, int>> runs_;
};

} // namespace synth
