#include "frame_clock.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "runtime/runtime.h"

namespace capture {

uint32_t bar_after(uint32_t prev_aika) {
    // The clock step's own expression: a double quotient, truncated. A single-precision
    // division would move the bar-31 line from 60001 to 60000.
    const double tahti = 4.0 * static_cast<double>(interval);
    return static_cast<uint32_t>(static_cast<double>(prev_aika) / tahti);
}

double beat_ms(double beats) {
    return beats * static_cast<double>(interval);
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

namespace {

// A whole non-negative decimal number, nothing else.
std::optional<double> number(const std::string &text) {
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.'))
        return std::nullopt;
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<uint32_t> whole(const std::string &text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return static_cast<uint32_t>(std::stoul(text));
}

bool fail(std::string *error, const std::string &why) {
    if (error)
        *error = why;
    return false;
}

} // namespace

std::optional<double> parse_time(const std::string &text, std::string *error) {
    const auto colon = text.find(':');
    if (colon != std::string::npos) {
        const auto bar = whole(text.substr(0, colon));
        const auto beat = number(text.substr(colon + 1));
        if (!bar || !beat) {
            fail(error, "'" + text + "' is not bar:beat (for example 32:0)");
            return std::nullopt;
        }
        if (*beat >= 4.0) {
            fail(error, "beat " + text.substr(colon + 1) + " is not within a bar (0 to below 4)");
            return std::nullopt;
        }
        return beat_ms(4.0 * *bar + *beat);
    }
    std::string digits = text;
    double scale = 1.0;
    if (digits.size() > 2 && digits.compare(digits.size() - 2, 2, "ms") == 0) {
        digits.resize(digits.size() - 2);
    } else if (digits.size() > 1 && digits.back() == 's') {
        digits.pop_back();
        scale = 1000.0;
    }
    const auto v = number(digits);
    if (!v) {
        fail(error,
             "'" + text + "' is not a time (ms like 61936, seconds like 61.9s, or bar:beat)");
        return std::nullopt;
    }
    return *v * scale;
}

std::optional<BarRange> parse_bars(const std::string &text, std::string *error) {
    BarRange range;
    const auto colon = text.find(':');
    const auto first = whole(text.substr(0, colon));
    std::optional<uint32_t> last = first;
    if (colon != std::string::npos)
        last = colon + 1 == text.size() ? std::optional<uint32_t>(END_BAR)
                                        : whole(text.substr(colon + 1));
    if (!first || !last) {
        fail(error, "'" + text + "' is not a bar range (FIRST:LAST, FIRST: or BAR)");
        return std::nullopt;
    }
    if (*first > END_BAR || *last > END_BAR) {
        fail(error, "bar range " + text + " goes beyond the show, which ends in bar " +
                        std::to_string(END_BAR));
        return std::nullopt;
    }
    if (*last < *first) {
        fail(error, "bar range " + text + " runs backwards");
        return std::nullopt;
    }
    range.first = *first;
    range.last = *last;
    return range;
}

} // namespace capture
