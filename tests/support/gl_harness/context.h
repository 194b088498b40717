// The GL test harness's context: a fresh offscreen Mesa context for every test (tools/offscreen),
// the show's own start-up render state on it, the demo clock, and GL state queries.
#pragma once
#include <array>
#include <cstdint>

#include <GL/gl.h>
#include <gtest/gtest.h>

#include "build_constants.h"

namespace vt {

// Opens the offscreen context at width x height; fails the current test when EGL refuses.
void open_context(int width, int height);

// A fresh context for every test, since the show's GL names (the logo texture's) mean nothing in
// another context, and a clock at time 0 with the show's tempo. Small unless a fixture asks for
// more: most tests read state or feedback, not pixels.
class GlTest : public ::testing::Test {
  protected:
    GlTest() = default;
    GlTest(int width, int height) : width_(width), height_(height) {}
    void SetUp() override;
    void TearDown() override;
    // Reopens the context with another framebuffer size, for a test that looks at pictures.
    void reopen(int width, int height) { open_context(width, height); }

  private:
    int width_ = 64, height_ = 64;
};

// Sets the demo clock the way the clock step would leave it, with the tempo the demo start sets.
void set_clock(uint32_t aika_ms, uint32_t tahdit_bars);
// What the tests expect of the clock, worked out on their own: the bar number the clock step
// derives from a time, and the beat length, 60000 / 124 held in single precision.
uint32_t bars_at(uint32_t aika_ms);
float beat_ms();

// The render state start-up leaves on the current context, set by start-up's own routine:
// perspective projection for the build's screen, smooth shading, depth test, colour material,
// light 1 fixed to the eye, two-sided lighting, clear and fog colour, linear fog, source-alpha
// blending, GL_MODELVIEW current with the identity loaded.
void startup_render_state();
// Replaces the projection with a 45 degree perspective of another aspect: a square one for a
// square picture, or one unlike the show's, so that a test sees kamera set its own.
void use_perspective(float aspect);

// Single GL state values.
std::array<float, 4> get4(GLenum pname);
float get1(GLenum pname);
int geti(GLenum pname);

// A snapshot of the render state a scene or overlay works in, and of what it must not touch.
struct State {
    bool lighting, colour_material, blend, texture_2d, depth_test, fog, light1;
    GLint blend_src, blend_dst, blend_src_alpha, blend_dst_alpha, depth_func, matrix_mode;
    GLint modelview_depth, projection_depth, bound_texture;
    GLfloat colour[4];
    GLfloat modelview[16];
    GLfloat projection[16];
};
State state();

} // namespace vt
