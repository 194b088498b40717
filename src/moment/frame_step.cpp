// The show's frame drawn at a given clock step, and the exact frame clock built on it.
#include <cmath>

#include "moment/moment.h"
#include "runtime/runtime.h"

namespace moment {

void set_tempo() {
    aseta_tempo();
}

uint32_t bar_after(uint32_t prev_aika) {
    set_tempo();
    return tahdit_ajassa(prev_aika);
}

double beat_ms(double beats) {
    set_tempo();
    return beats * static_cast<double>(interval);
}

void draw_frame(uint32_t prev_aika, uint32_t now) {
    // What a clock step from `prev_aika` to `now` leaves: the bar from the earlier time.
    tahdit = bar_after(prev_aika);
    aika = now;
    toimi_ja_piirra();
}

FrameClock::FrameClock(uint32_t fps) : fps_(fps), end_frame_(0) {
    while (tahdit(end_frame_) <= LAST_BAR)
        ++end_frame_;
}

uint32_t FrameClock::aika(uint64_t n) const {
    return static_cast<uint32_t>((2 * n * 1000 + fps_) / (2 * static_cast<uint64_t>(fps_)));
}

uint32_t FrameClock::tahdit(uint64_t n) const {
    return n == 0 ? 0 : bar_after(aika(n - 1));
}

uint64_t FrameClock::first_frame_of_bar(uint32_t bar) const {
    uint64_t n = 0;
    while (n < end_frame_ && tahdit(n) < bar)
        ++n;
    return n;
}

uint64_t FrameClock::last_frame_of_bar(uint32_t bar) const {
    if (bar >= END_BAR)
        return end_frame_;
    return first_frame_of_bar(bar + 1) - 1;
}

uint64_t FrameClock::nearest_frame(double ms) const {
    return static_cast<uint64_t>(std::floor(ms * fps_ / 1000.0 + 0.5));
}

} // namespace moment
