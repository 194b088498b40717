// The capture's clock: frame n of a capture at F frames per second is drawn at the demo time
// aika = round(n * 1000 / F), with the bar number derived from the previous frame's aika
// exactly as the show's clock step derives it. Also the parsing of times and bar ranges.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace capture {

// The show draws every frame up to and including the first one whose bar number exceeds 66.
constexpr uint32_t LAST_BAR = 66;
constexpr uint32_t END_BAR = LAST_BAR + 1; // the bar of the single closing frame
constexpr uint32_t MOVEMENT_TWO_BAR = 32;  // the first bar drawn as movement two

// The bar number that a clock step starting from `prev_aika` yields. Needs `interval` set.
uint32_t bar_after(uint32_t prev_aika);
// The time of a position on the beat grid, in ms, in double precision.
double beat_ms(double beats);

class FrameClock {
  public:
    explicit FrameClock(uint32_t fps);

    uint32_t fps() const { return fps_; }
    // round(n * 1000 / fps), in integers (halves round up).
    uint32_t aika(uint64_t n) const;
    // The bar number of frame n: from frame n - 1's aika; frame 0 has bar 0, as the show's
    // first frame has when start-up took less than a bar.
    uint32_t tahdit(uint64_t n) const;
    // The last frame the show draws: the first whose bar number exceeds LAST_BAR.
    uint64_t end_frame() const { return end_frame_; }
    // The first frame in which `bar` has taken effect (bar <= END_BAR).
    uint64_t first_frame_of_bar(uint32_t bar) const;
    // The last frame whose bar number is `bar` (END_BAR gives the end frame).
    uint64_t last_frame_of_bar(uint32_t bar) const;
    // The frame whose aika is nearest to `ms` (ties to the later frame).
    uint64_t nearest_frame(double ms) const;

  private:
    uint32_t fps_;
    uint64_t end_frame_;
};

// A time on the command line: milliseconds ("61936", "61936ms"), seconds ("61.9s") or a
// position bar:beat ("32:0", "32:2.5"; beats 0 to below 4 within the bar). Gives the time in
// ms, or nothing with a reason in `error`. Only decimal digits and a point are numbers;
// times past the 32-bit millisecond clock are refused.
std::optional<double> parse_time(const std::string &text, std::string *error);
// A beat within a bar: a decimal number from 0 to below 4.
std::optional<double> parse_beat(const std::string &text, std::string *error);

struct BarRange {
    uint32_t first = 0;
    uint32_t last = END_BAR;
};
// "A:B", "A:" (to the end) or "A" (one bar); bars 0 to END_BAR.
std::optional<BarRange> parse_bars(const std::string &text, std::string *error);

} // namespace capture
