// Render state and modelview matrix after every overlay, as each overlay must leave it, and what no
// overlay may touch; drawQuad and drawBox in feedback.
#include <cmath>

#include "fixture.h"

namespace vt {
namespace {

struct Call {
    const char *name;
    uint32_t aika;
    std::function<void()> draw;
    bool logo;   // a logo overlay: current colour (1, 0, 0, 1) after it
    float alpha; // for the fades: the alpha of the current colour after it
};

std::ostream &operator<<(std::ostream &o, const Call &c) {
    return o << c.name << " at " << c.aika;
}

class AfterOverlay : public OverlayTest, public ::testing::WithParamInterface<Call> {};

TEST_P(AfterOverlay, RenderStateAndModelviewAsEachOverlayMustLeaveThem) {
    const Call &call = GetParam();
    ASSERT_EQ(load_logo(png_rgba(64, 64,
                                 [](int x, int y) {
                                     return Rgba{uint8_t(x * 4), uint8_t(y * 4), 9, 0};
                                 })),
              "");
    ASSERT_NE(logo_texture, 0u);
    // The frame state that the scene routines leave: blending and texturing off, a camera view.
    glDisable(GL_BLEND);
    glColor4f(0.3f, 0.6f, 0.9f, 0.7f);
    const State before = state();
    aika = call.aika;
    call.draw();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const State after = state();

    EXPECT_TRUE(after.lighting);
    EXPECT_TRUE(after.colour_material);
    EXPECT_FALSE(after.blend);
    EXPECT_FALSE(after.texture_2d);
    EXPECT_EQ(after.blend_src, GL_SRC_ALPHA);
    EXPECT_EQ(after.blend_dst, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(after.blend_src_alpha, GL_SRC_ALPHA);
    EXPECT_EQ(after.blend_dst_alpha, GL_ONE_MINUS_SRC_ALPHA);
    if (call.logo) {
        EXPECT_FLOAT_EQ(after.colour[0], 1);
        EXPECT_FLOAT_EQ(after.colour[1], 0);
        EXPECT_FLOAT_EQ(after.colour[2], 0);
        EXPECT_FLOAT_EQ(after.colour[3], 1);
    } else {
        EXPECT_FLOAT_EQ(after.colour[0], 0);
        EXPECT_FLOAT_EQ(after.colour[1], 0);
        EXPECT_FLOAT_EQ(after.colour[2], 0);
        EXPECT_NEAR(after.colour[3], call.alpha, 1e-6);
    }
    // Untouched: matrices, matrix mode and stacks, depth test and function, fog, the light, the
    // bound texture.
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(after.modelview[i], before.modelview[i]) << "modelview element " << i;
        EXPECT_EQ(after.projection[i], before.projection[i]) << "projection element " << i;
    }
    EXPECT_EQ(after.matrix_mode, GL_MODELVIEW);
    EXPECT_EQ(after.modelview_depth, before.modelview_depth);
    EXPECT_EQ(after.projection_depth, before.projection_depth);
    EXPECT_TRUE(after.depth_test);
    EXPECT_EQ(after.depth_func, GL_LEQUAL);
    EXPECT_TRUE(after.fog);
    EXPECT_TRUE(after.light1);
    EXPECT_EQ(static_cast<uint32_t>(after.bound_texture), logo_texture);
}

TEST_P(AfterOverlay, SameStateWhenBlendingWasLeftOn) {
    // Start-up leaves blending on; an overlay must still leave it off.
    const Call &call = GetParam();
    ASSERT_EQ(load_logo(png_rgba(8, 8, [](int, int) { return Rgba{255, 0, 0, 255}; })), "");
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    aika = call.aika;
    call.draw();
    const State after = state();
    EXPECT_FALSE(after.blend);
    EXPECT_EQ(after.blend_src, GL_SRC_ALPHA);
    EXPECT_EQ(after.blend_dst, GL_ONE_MINUS_SRC_ALPHA);
}

INSTANTIATE_TEST_SUITE_P(
    Overlays, AfterOverlay,
    ::testing::Values(
        Call{"logo_fade_out_before", 1000, [] { logo_fade_out(48387, 8000); }, true, 0},
        Call{"logo_fade_out_during", 52387, [] { logo_fade_out(48387, 8000); }, true, 0},
        Call{"logo_fade_out_after", 60000, [] { logo_fade_out(48387, 8000); }, true, 0},
        Call{"drawLogo", 0, [] { drawLogo(); }, true, 0},
        Call{"toinen_fade_in_start", 0, [] { toinen_fade_in(0, 6000); }, false, 1.0f},
        Call{"toinen_fade_in_half", 3000, [] { toinen_fade_in(0, 6000); }, false, 0.5f},
        Call{"toinen_fade_in_after", 9000, [] { toinen_fade_in(0, 6000); }, false, 0.0f},
        Call{"toinen_fade_out_before", 1000, [] { toinen_fade_out(58064, 6000); }, false, 0.0f},
        Call{"toinen_fade_out_quarter", 59564, [] { toinen_fade_out(58064, 6000); }, false, 0.25f},
        Call{"toinen_fade_out_after", 70000, [] { toinen_fade_out(58064, 6000); }, false, 1.0f},
        Call{"toinen_fade_out_closing", 122129, [] { toinen_fade_out(116129, 12000); }, false,
             0.5f}),
    [](const ::testing::TestParamInfo<Call> &info) { return std::string(info.param.name); });

// What the overlays draw, and with which colour and lighting, seen in feedback mode: the colour
// that reaches the vertices is the current colour only when lighting is off.
class DuringOverlay : public OverlayTest {};

TEST_F(DuringOverlay, FadeQuadIsUnlitBlackWithTheFadeAlpha) {
    aika = 1500;
    const auto got = polygons(feedback([] { toinen_fade_out(0, 6000); }));
    ASSERT_FALSE(got.empty());
    for (const auto &polygon : got)
        for (const auto &v : polygon.vertices) {
            EXPECT_FLOAT_EQ(v[3], 0);
            EXPECT_FLOAT_EQ(v[4], 0);
            EXPECT_FLOAT_EQ(v[5], 0);
            EXPECT_NEAR(v[6], 0.25, 1e-6);
        }
}

TEST_F(DuringOverlay, LogoQuadIsUnlitRedWithTheRampAlphaAndWhiteBeforeItsStart) {
    ASSERT_EQ(load_logo(png_rgba(8, 8, [](int, int) { return Rgba{255, 255, 255, 255}; })), "");
    aika = 50387; // f = 0.25
    auto got = polygons(feedback([] { logo_fade_out(48387, 8000); }));
    ASSERT_FALSE(got.empty());
    for (const auto &polygon : got)
        for (const auto &v : polygon.vertices) {
            EXPECT_FLOAT_EQ(v[3], 1);
            EXPECT_FLOAT_EQ(v[4], 0);
            EXPECT_FLOAT_EQ(v[5], 0);
            EXPECT_NEAR(v[6], 0.25, 1e-6);
        }
    aika = 48386; // before start: (1, 1, 1, 0)
    got = polygons(feedback([] { logo_fade_out(48387, 8000); }));
    ASSERT_FALSE(got.empty());
    for (const auto &polygon : got)
        for (const auto &v : polygon.vertices) {
            EXPECT_FLOAT_EQ(v[3], 1);
            EXPECT_FLOAT_EQ(v[4], 1);
            EXPECT_FLOAT_EQ(v[5], 1);
            EXPECT_FLOAT_EQ(v[6], 0);
        }
}

// A fresh context at the build's size, in GL's initial state.
class DrawBox : public GlTest {
  protected:
    DrawBox() : GlTest(LEVEYS, KORKEUS) {}
};

TEST_F(DrawBox, CornersInOrderAtZeroThroughDrawQuad) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, LEVEYS, 0, KORKEUS, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    const auto got = polygons(feedback([] { drawBox(100.25f, 50.5f, 300.0f, 200.0f); }));
    // Mesa feeds a quad back as two triangles: together they use exactly the four corners, at
    // z = 0 (the middle of the depth range here), each wound counter-clockwise on screen as the
    // corners (x, y), (x + w, y), (x + w, y + h), (x, y + h) are.
    ASSERT_EQ(got.size(), 2u);
    const float want[4][2] = {
        {100.25f, 50.5f}, {400.25f, 50.5f}, {400.25f, 250.5f}, {100.25f, 250.5f}};
    bool used[4] = {false, false, false, false};
    for (const auto &triangle : got) {
        ASSERT_EQ(triangle.vertices.size(), 3u);
        for (const auto &v : triangle.vertices) {
            bool matched = false;
            for (int i = 0; i < 4; ++i)
                if (std::abs(v[0] - want[i][0]) < 1e-3 && std::abs(v[1] - want[i][1]) < 1e-3)
                    matched = used[i] = true;
            EXPECT_TRUE(matched) << "vertex (" << v[0] << ", " << v[1] << ") is no corner";
            EXPECT_NEAR(v[2], 0.5, 1e-6);
        }
        const auto &a = triangle.vertices[0], &b = triangle.vertices[1], &c = triangle.vertices[2];
        const double area = (b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1]);
        EXPECT_GT(area, 0) << "clockwise triangle: the corners are out of order";
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(used[i]) << "corner " << i << " missing";
}

} // namespace
} // namespace vt
