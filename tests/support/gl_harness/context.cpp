#include "gl_harness/context.h"

#include <GL/glu.h>

#include "draw/draw.h"
#include "offscreen.h"
#include "runtime/runtime.h"

namespace vt {

void open_context(int width, int height) {
    std::string why;
    ASSERT_TRUE(offscreen_open(width, height, &why)) << why;
    ASSERT_EQ(offscreen_width(), width);
    ASSERT_EQ(offscreen_height(), height);
}

void GlTest::SetUp() {
    open_context(width_, height_);
    logo_texture = 0;
    set_clock(0, 0);
}

void GlTest::TearDown() {
    offscreen_close();
}

float beat_ms() {
    return 60000.0f / 124.0f;
}

uint32_t bars_at(uint32_t aika_ms) {
    return static_cast<uint32_t>(static_cast<double>(aika_ms) / (4.0 * beat_ms()));
}

void set_clock(uint32_t aika_ms, uint32_t tahdit_bars) {
    aseta_tempo();
    aika = aika_ms;
    tahdit = tahdit_bars;
}

void startup_render_state() {
    aseta_piirtotila();
    ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

void use_perspective(float aspect) {
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, aspect, static_cast<double>(0.1f), 100.0);
    glMatrixMode(static_cast<GLenum>(mode));
}

std::array<float, 4> get4(GLenum pname) {
    std::array<float, 4> v{};
    glGetFloatv(pname, v.data());
    return v;
}

float get1(GLenum pname) {
    float v = 0;
    glGetFloatv(pname, &v);
    return v;
}

int geti(GLenum pname) {
    GLint v = 0;
    glGetIntegerv(pname, &v);
    return v;
}

State state() {
    State s{};
    s.lighting = glIsEnabled(GL_LIGHTING);
    s.colour_material = glIsEnabled(GL_COLOR_MATERIAL);
    s.blend = glIsEnabled(GL_BLEND);
    s.texture_2d = glIsEnabled(GL_TEXTURE_2D);
    s.depth_test = glIsEnabled(GL_DEPTH_TEST);
    s.fog = glIsEnabled(GL_FOG);
    s.light1 = glIsEnabled(GL_LIGHT1);
    glGetIntegerv(GL_BLEND_SRC_RGB, &s.blend_src);
    glGetIntegerv(GL_BLEND_DST_RGB, &s.blend_dst);
    glGetIntegerv(GL_BLEND_SRC_ALPHA, &s.blend_src_alpha);
    glGetIntegerv(GL_BLEND_DST_ALPHA, &s.blend_dst_alpha);
    glGetIntegerv(GL_DEPTH_FUNC, &s.depth_func);
    glGetIntegerv(GL_MATRIX_MODE, &s.matrix_mode);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &s.modelview_depth);
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &s.projection_depth);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &s.bound_texture);
    glGetFloatv(GL_CURRENT_COLOR, s.colour);
    glGetFloatv(GL_MODELVIEW_MATRIX, s.modelview);
    glGetFloatv(GL_PROJECTION_MATRIX, s.projection);
    return s;
}

} // namespace vt
