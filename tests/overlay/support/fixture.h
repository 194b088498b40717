// The fixture of the overlay tests: a fresh offscreen context at the build's size for every
// test, alusta's render state, and a camera-like projection and view, as the overlays find
// them in a frame. Helpers to load a logo from bytes through the real alusta_texturet.
#pragma once
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "draw/draw.h"
#include "gl_support.h"
#include "images.h"
#include "offscreen.h"
#include "runtime/runtime.h"

namespace vt {

class GlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        open_context();
        if (HasFatalFailure())
            return;
        logo_texture = 0; // names of a closed context mean nothing in the new one
        startup_render_state();
        camera_like_view();
        aika = 0;
        interval = 60000.0f / 124.0f;
        bpm = 124.0f;
    }
    void TearDown() override { offscreen_close(); }

    // Puts `bytes` at data/logo3.png in a scratch working directory and runs the real
    // alusta_texturet there; returns what it printed on standard output.
    static std::string load_logo(const Bytes &bytes) {
        ScratchDir dir;
        dir.write("data/logo3.png", bytes);
        return capture_stdout(alusta_texturet);
    }
    // The same with no data/logo3.png at all.
    static std::string load_missing_logo() {
        ScratchDir dir;
        return capture_stdout(alusta_texturet);
    }
};

// True when every pixel of the picture is within `tolerance` of (r, g, b) in 0..255.
inline ::testing::AssertionResult uniform(const Picture &p, double r, double g, double b,
                                          int tolerance = 1) {
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            const uint8_t *c = p.at(x, y);
            if (std::abs(c[0] - r) > tolerance || std::abs(c[1] - g) > tolerance ||
                std::abs(c[2] - b) > tolerance)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") is (" << int(c[0]) << ", " << int(c[1])
                       << ", " << int(c[2]) << "), expected about (" << r << ", " << g << ", " << b
                       << ") +- " << tolerance;
        }
    return ::testing::AssertionSuccess();
}

// Pictures equal channel by channel within `tolerance`; reports the first difference.
inline ::testing::AssertionResult same_picture(const Picture &a, const Picture &b,
                                               int tolerance = 0) {
    if (a.w != b.w || a.h != b.h)
        return ::testing::AssertionFailure() << "sizes differ";
    for (size_t i = 0; i < a.rgba.size(); ++i)
        if (i % 4 != 3 && std::abs(int(a.rgba[i]) - int(b.rgba[i])) > tolerance) {
            const size_t pixel = i / 4;
            return ::testing::AssertionFailure()
                   << "pixel (" << pixel % a.w << ", " << pixel / a.w << ") channel " << i % 4
                   << ": " << int(a.rgba[i]) << " vs " << int(b.rgba[i]);
        }
    return ::testing::AssertionSuccess();
}

} // namespace vt
