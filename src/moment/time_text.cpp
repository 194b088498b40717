// The times and bar ranges the tools and links take, parsed strictly.
#include <cstdint>
#include <cstdlib>

#include "moment/moment.h"

namespace moment {

namespace {

// A non-negative decimal number, digits with at most one point, nothing else: no sign, no
// exponent, no hexadecimal, no inf or nan, which strtod would all take.
std::optional<double> number(const std::string &text) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
        text.find_first_of("0123456789") == std::string::npos || text.find('.') != text.rfind('.'))
        return std::nullopt;
    return std::strtod(text.c_str(), nullptr);
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
    std::optional<double> ms;
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
        ms = beat_ms(4.0 * *bar + *beat);
    } else {
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
        ms = *v * scale;
    }
    // The demo clock counts whole milliseconds in 32 bits; a time past that is no time of
    // the show, and converting it to a frame number would overflow.
    if (!(*ms <= static_cast<double>(UINT32_MAX))) {
        fail(error, "time " + text + " is out of range (the clock ends at " +
                        std::to_string(UINT32_MAX) + " ms)");
        return std::nullopt;
    }
    return ms;
}

std::optional<double> parse_beat(const std::string &text, std::string *error) {
    const auto v = number(text);
    if (!v || *v >= 4.0) {
        fail(error, "beat " + text +
                        " is not a beat within a bar (a decimal number from 0 to "
                        "below 4)");
        return std::nullopt;
    }
    return v;
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

} // namespace moment
