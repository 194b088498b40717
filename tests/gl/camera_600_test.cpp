// The 1024 x 600 build: the same camera with its own aspect ratio.
#include <cmath>

#include <GL/gl.h>

#include "build_constants.h"
#include "camera_model.h"
#include "direction/direction.h"
#include "gl_harness/context.h"
#include "gl_harness/matrices.h"
#include "runtime/runtime.h"

namespace vt {
namespace {

using Camera600 = GlTest;

TEST_F(Camera600, ProjectionHasTheAspectOfTheSmallScreen) {
    EXPECT_EQ(LEVEYS, 1024);
    EXPECT_EQ(KORKEUS, 600);
    startup_render_state();
    use_perspective(1.0f); // not the show's: kamera must set its own
    for (uint32_t t : {0u, 50000u, 100000u}) {
        SCOPED_TRACE(::testing::Message() << "aika " << t);
        set_clock(t, bars_at(t));
        kamera();
        const Mat4 P = current_projection();
        EXPECT_NEAR(P.m[5], 1.0 / std::tan(22.5 * M_PI / 180.0), 1e-6);
        EXPECT_NEAR(P.m[5] / P.m[0], 1024.0 / 600.0, 1e-6);
        // The view is the same as in the large build.
        const CameraExpectation want = expected_camera(t, bars_at(t));
        const Mat4 M = current_modelview();
        EXPECT_LT(length(M.point(want.eye)), 2e-6 * std::max(1.0, length(want.eye)));
        const auto clear = get4(GL_COLOR_CLEAR_VALUE);
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(clear[c], want.colour[c], 1e-7);
    }
}

} // namespace
} // namespace vt
