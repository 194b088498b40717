// The show at given demo times, for every edition that draws it other than by its own free-running
// frame loop (the capture, the browser's stills and jumps, the still programs): the tempo, the
// bar a clock step yields, an exact frame clock, the still clock, the times the tools take, and
// one frame drawn after a given previous clock step. Everything here calls the show's own
// routines; nothing of the show's rules is restated.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace moment {

// The show draws every frame up to and including the first one whose bar number exceeds 66.
constexpr uint32_t LAST_BAR = 66;
constexpr uint32_t END_BAR = LAST_BAR + 1; // the bar of the single closing frame
constexpr uint32_t MOVEMENT_TWO_BAR = 32;  // the first bar drawn as movement two
// The frame rate of the clock a still is taken on when no previous frame is named.
constexpr uint32_t STILL_FPS = 60;

// The tempo, through the demo start's own routine. Every function below that needs it sets it
// first, so nothing depends on having drawn before.
void set_tempo();
// The bar number that a clock step starting from `prev_aika` yields.
uint32_t bar_after(uint32_t prev_aika);
// The time of a position on the beat grid, in ms, in double precision.
double beat_ms(double beats);

// One frame as the frame loop draws it after a clock step from `prev_aika` to `aika`: the bar
// number from the previous step's time, then the action step and the frame. The clear colour
// of a frame is the one the previous frame's camera set, so a frame is exact only when the
// frame before it was drawn first.
void draw_frame(uint32_t prev_aika, uint32_t aika);

// Frame n of a capture at F frames per second is drawn at aika = round(n * 1000 / F), with the
// bar number from frame n - 1's aika, as the show's clock step derives it.
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

// A still: the frame at `now` after a frame at `previous`; when `two_frames`, the frame at
// `previous` (after one at `before`) is drawn first, unseen, for the clear colour it leaves.
struct Still {
    uint32_t before = 0, previous = 0, now = 0;
    bool two_frames = true;
    // The frame of the clock when the still is taken on it, otherwise none.
    std::optional<uint64_t> frame;
};
// The still at time `at` (ms): after a frame at `after` when given, the frame before that one
// taken at the same spacing; otherwise the frame of `clock` nearest to `at`, after the frame
// before it. Nothing, with the reason in `error`, for a moment outside the show.
std::optional<Still> still_clock(double at, std::optional<double> after, const FrameClock &clock,
                                 std::string *error);
// The same from times as the tools take them (`after` may be empty).
std::optional<Still> still_clock(const std::string &at, const std::string &after,
                                 const FrameClock &clock, std::string *error);
void draw_still(const Still &still);

// A time as the tools take it: milliseconds ("61936", "61936ms"), seconds ("61.9s") or a
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

} // namespace moment
