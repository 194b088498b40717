// The size frames are written at: the build's own, or another of exactly its aspect (the show
// sets its projection from the build's width and height, so only the pixel count may change),
// drawn N times as large each way when supersampled.
#pragma once
#include <optional>
#include <string>

namespace capture {

// The largest framebuffer side drawn (Mesa's software renderer allows 16384) and the
// largest frame side written.
constexpr int MAX_DRAWN_SIDE = 16384;
constexpr int MAX_FRAME_SIDE = 8192;
constexpr int MAX_SUPERSAMPLE = 4;

struct FrameSize {
    int width = 0;
    int height = 0;
    int supersample = 1;
    bool native(int build_width, int build_height) const {
        return width == build_width && height == build_height && supersample == 1;
    }
};

// "WxH" (empty: the build's size) with the build's aspect, `supersample` from 1 to 4. With
// `even`, both sides must be even (a yuv420p video). A size that does not fit is refused with
// the nearest one that does.
std::optional<FrameSize> parse_frame_size(const std::string &text, int supersample, int build_width,
                                          int build_height, bool even, std::string *error);

} // namespace capture
