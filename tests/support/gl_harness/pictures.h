// Pictures of the offscreen context: a frame composed as the timeline composes it, the colour
// buffer read back, comparisons, and PNG artefacts for a person to look at.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vt {

// The colour buffer, top row first, RGBA bytes.
struct Picture {
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    const uint8_t *at(int x, int y) const { return &rgba[(static_cast<size_t>(y) * w + x) * 4]; }
    double mean(int channel) const;
};
Picture read_picture();
// Fills the colour buffer (and depth 1) with a colour, leaving the clear colour as it was.
void fill(float r, float g, float b);

// One frame as the timeline composes it, with `scene` as the window: the clear (in the colour
// the previous frame's camera chose), the camera, blending off, then the scene.
void compose_frame(const std::function<void()> &scene);
// A whole frame at the given clock from start-up's render state, with the clear colour that the
// same frame's camera chose the time before.
Picture render_frame(uint32_t aika_ms, uint32_t tahdit_bars, const std::function<void()> &scene);

// True when every pixel is within `tolerance` of (r, g, b) in 0..255.
::testing::AssertionResult uniform(const Picture &p, double r, double g, double b,
                                   int tolerance = 1);
// Pictures equal channel by channel (alpha aside) within `tolerance`; reports the first
// difference.
::testing::AssertionResult same_picture(const Picture &a, const Picture &b, int tolerance = 0);
// Number of distinct RGB colours in the picture.
size_t distinct_colours(const Picture &p);
// Fraction of the pixels whose RGB differs from the given colour by more than 2 in any channel.
double fraction_unlike(const Picture &p, std::array<uint8_t, 3> rgb);

// Writes the picture as `name`.png under the build's artefacts folder; returns the path.
std::string save_artefact(const Picture &p, const std::string &name);

} // namespace vt
