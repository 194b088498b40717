#include "frame_size.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>

#include "failure.h"

namespace capture {

namespace {

std::string size_text(long w, long h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

// Up to five digits, nothing else.
bool side(const std::string &text, long *value) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::strtol(text.c_str(), nullptr, 10);
    return *value > 0;
}

} // namespace

std::optional<FrameSize> parse_frame_size(const std::string &text, int supersample, int build_width,
                                          int build_height, bool even, std::string *error) {
    if (supersample < 1 || supersample > MAX_SUPERSAMPLE) {
        fail(error, "--supersample " + std::to_string(supersample) + " is not 1 to " +
                        std::to_string(MAX_SUPERSAMPLE));
        return std::nullopt;
    }
    long w = build_width, h = build_height;
    if (!text.empty()) {
        const auto x = text.find_first_of("xX");
        if (x == std::string::npos || !side(text.substr(0, x), &w) ||
            !side(text.substr(x + 1), &h)) {
            fail(error, "'" + text + "' is not a size (WIDTHxHEIGHT, for example 1920x1080)");
            return std::nullopt;
        }
    }
    // Sizes of the aspect are whole multiples of its smallest one, a:b; a yuv420p frame also
    // needs even sides.
    const long g = std::gcd(build_width, build_height);
    long a = build_width / g, b = build_height / g;
    if (even && (a % 2 != 0 || b % 2 != 0)) {
        a *= 2;
        b *= 2;
    }
    const long largest = std::min(MAX_FRAME_SIDE / a, MAX_FRAME_SIDE / b);
    if (w % a != 0 || h % b != 0 || w / a != h / b || w / a > largest) {
        long best = 1;
        for (long k : {w / a, w / a + 1, h / b, h / b + 1}) {
            k = std::max(1L, std::min(k, largest));
            if (std::labs(a * k - w) + std::labs(b * k - h) <
                std::labs(a * best - w) + std::labs(b * best - h))
                best = k;
        }
        const std::string kind = w / a > largest && w % a == 0 && h % b == 0 && w / a == h / b
                                     ? "is larger than the largest frame, " +
                                           std::to_string(MAX_FRAME_SIDE) + " pixels a side"
                                 : even ? "is not an even size of the show's aspect"
                                        : "is not of the show's aspect";
        fail(error, size_text(w, h) + " " + kind + " (" + std::to_string(build_width / g) + ":" +
                        std::to_string(build_height / g) + ", as " +
                        size_text(build_width, build_height) + "); the nearest size that fits is " +
                        size_text(a * best, b * best));
        return std::nullopt;
    }
    if (std::max(w, h) * supersample > MAX_DRAWN_SIDE) {
        fail(error, size_text(w, h) + " supersampled " + std::to_string(supersample) + "x" +
                        std::to_string(supersample) + " would be drawn " +
                        size_text(w * supersample, h * supersample) + ", more than " +
                        std::to_string(MAX_DRAWN_SIDE) + " pixels a side: at most --supersample " +
                        std::to_string(std::max(1L, MAX_DRAWN_SIDE / std::max(w, h))));
        return std::nullopt;
    }
    return FrameSize{static_cast<int>(w), static_cast<int>(h), supersample};
}

} // namespace capture
