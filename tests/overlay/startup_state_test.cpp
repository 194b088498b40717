// The tests set the start-up render state with their own copy of alusta's GL steps (steps 5 to
// 14). This checks that copy against the show's own routine, so that both agree.
#include "support/fixture.h"

namespace vt {
namespace {

std::vector<double> snapshot() {
    std::vector<double> v;
    auto f = [&](GLenum e, int n) {
        GLfloat x[16];
        glGetFloatv(e, x);
        v.insert(v.end(), x, x + n);
    };
    auto i = [&](GLenum e) {
        GLint x = 0;
        glGetIntegerv(e, &x);
        v.push_back(x);
    };
    auto light = [&](GLenum l, GLenum e) {
        GLfloat x[4];
        glGetLightfv(l, e, x);
        v.insert(v.end(), x, x + 4);
    };
    f(GL_PROJECTION_MATRIX, 16);
    f(GL_MODELVIEW_MATRIX, 16);
    i(GL_MATRIX_MODE);
    i(GL_SHADE_MODEL);
    f(GL_DEPTH_CLEAR_VALUE, 1);
    for (GLenum e : {GL_DEPTH_TEST, GL_COLOR_MATERIAL, GL_LIGHT0, GL_LIGHT1, GL_LIGHTING, GL_FOG,
                     GL_BLEND, GL_TEXTURE_2D, GL_CULL_FACE, GL_NORMALIZE})
        v.push_back(glIsEnabled(e));
    i(GL_DEPTH_FUNC);
    i(GL_PERSPECTIVE_CORRECTION_HINT);
    i(GL_COLOR_MATERIAL_FACE);
    i(GL_COLOR_MATERIAL_PARAMETER);
    light(GL_LIGHT1, GL_AMBIENT);
    light(GL_LIGHT1, GL_DIFFUSE);
    light(GL_LIGHT1, GL_SPECULAR);
    light(GL_LIGHT1, GL_POSITION);
    f(GL_LIGHT_MODEL_TWO_SIDE, 1);
    f(GL_COLOR_CLEAR_VALUE, 4);
    i(GL_FOG_MODE);
    f(GL_FOG_COLOR, 4);
    i(GL_BLEND_SRC_RGB);
    i(GL_BLEND_DST_RGB);
    i(GL_DEPTH_WRITEMASK);
    return v;
}

TEST(StartupState, TheTestsCopyOfAlustasStepsMatchesTheShowsRoutine) {
    std::string why;
    ASSERT_TRUE(offscreen_open(LEVEYS, KORKEUS, &why)) << why;
    startup_render_state();
    const auto mine = snapshot();
    ASSERT_TRUE(offscreen_open(LEVEYS, KORKEUS, &why)) << why;
    aseta_piirtotila();
    const auto theirs = snapshot();
    offscreen_close();
    ASSERT_EQ(mine.size(), theirs.size());
    for (size_t k = 0; k < mine.size(); ++k)
        EXPECT_NEAR(mine[k], theirs[k], 1e-6) << "value " << k;
}

} // namespace
} // namespace vt
