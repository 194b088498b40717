// Which frames a still draws before the one asked for: a still shows the clear colour that the
// frame before it left, so that frame is drawn first, unseen, from its own previous clock step.
#include <cmath>
#include <cstdio>

#include "moment/moment.h"

namespace moment {

namespace {

std::optional<Still> refuse(std::string *error, const std::string &why) {
    if (error)
        *error = why;
    return std::nullopt;
}

// `at_text` and `after_text` name the two times in the reasons, as the caller was given them.
std::optional<Still> clock_for(double at, std::optional<double> after, const FrameClock &clock,
                               const std::string &at_text, const std::string &after_text,
                               std::string *error) {
    Still still;
    if (after) {
        still.previous = static_cast<uint32_t>(std::llround(*after));
        still.now = static_cast<uint32_t>(std::llround(at));
        if (still.previous > still.now)
            return refuse(error, "the previous frame's time " + after_text +
                                     " comes after the frame's time " + at_text);
        // The frame before the previous one is taken at the same spacing; it decides only the
        // previous frame's bar number. The show ends after the first frame whose bar number
        // passes the last bar, so that previous frame must not have been the closing one.
        const uint32_t step = still.now - still.previous;
        still.before = still.previous >= step ? still.previous - step : 0;
        if (bar_after(still.before) > LAST_BAR)
            return refuse(error, "time " + at_text + " after " + after_text +
                                     " is beyond the show, which ends with the first frame "
                                     "whose bar number passes " +
                                     std::to_string(LAST_BAR));
        return still;
    }
    const uint64_t n = clock.nearest_frame(at);
    if (n > clock.end_frame())
        return refuse(error, "time " + at_text +
                                 " is beyond the show: the show ends with the frame at " +
                                 std::to_string(clock.aika(clock.end_frame())) + " ms (at " +
                                 std::to_string(clock.fps()) + " fps)");
    still.frame = n;
    still.two_frames = n > 0;
    still.before = n >= 2 ? clock.aika(n - 2) : 0;
    still.previous = n >= 1 ? clock.aika(n - 1) : 0;
    still.now = clock.aika(n);
    return still;
}

std::string ms_text(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f ms", ms);
    return text;
}

} // namespace

std::optional<Still> still_clock(double at, std::optional<double> after, const FrameClock &clock,
                                 std::string *error) {
    return clock_for(at, after, clock, ms_text(at), after ? ms_text(*after) : "", error);
}

std::optional<Still> still_clock(const std::string &at, const std::string &after,
                                 const FrameClock &clock, std::string *error) {
    const auto t = parse_time(at, error);
    if (!t)
        return std::nullopt;
    std::optional<double> p;
    if (!after.empty() && !(p = parse_time(after, error)))
        return std::nullopt;
    return clock_for(*t, p, clock, at, after, error);
}

void draw_still(const Still &still) {
    if (still.two_frames)
        draw_frame(still.before, still.previous);
    draw_frame(still.previous, still.now);
}

} // namespace moment
