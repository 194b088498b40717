// The black fades and the logo's time ramp, seen in the colour buffer of the real
// offscreen context over a known background.
#include <GL/glu.h>

#include "fixture.h"

namespace vt {
namespace {

class Fades : public OverlayTest {
  protected:
    // Fills the screen with white, sets the clock and draws one overlay.
    Picture over_white(uint32_t time, const std::function<void()> &overlay) {
        fill(1, 1, 1);
        aika = time;
        overlay();
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        return read_picture();
    }
};

TEST_F(Fades, FadeInIsOpaqueBlackAtItsStart) {
    EXPECT_TRUE(uniform(over_white(0, [] { toinen_fade_in(0, 6000); }), 0, 0, 0, 0));
}

TEST_F(Fades, FadeInIsHalfwayAt3000) {
    const Picture p = over_white(3000, [] { toinen_fade_in(0, 6000); });
    EXPECT_TRUE(uniform(p, 127.5, 127.5, 127.5, 1));
    save_artefact(p, "fade_in_3000_over_white_" + std::to_string(LEVEYS));
}

TEST_F(Fades, FadeInShowsNothingFrom6000On) {
    for (uint32_t t : {6000u, 6001u, 30000u, 61935u})
        EXPECT_TRUE(uniform(over_white(t, [] { toinen_fade_in(0, 6000); }), 255, 255, 255, 0))
            << "aika " << t;
}

TEST_F(Fades, FadeInIsBlackBeforeALaterStart) {
    EXPECT_TRUE(uniform(over_white(500, [] { toinen_fade_in(1000, 2000); }), 0, 0, 0, 0));
    EXPECT_TRUE(
        uniform(over_white(1500, [] { toinen_fade_in(1000, 2000); }), 63.75, 63.75, 63.75, 1));
}

TEST_F(Fades, FadeOutIsTransparentBeforeItsStartAndOpaqueAfterItsEnd) {
    // The movement-one fade of the timeline.
    for (uint32_t t : {0u, 1000u, 58063u, 58064u})
        EXPECT_TRUE(uniform(over_white(t, [] { toinen_fade_out(58064, 6000); }), 255, 255, 255, 0))
            << "aika " << t;
    EXPECT_TRUE(
        uniform(over_white(61064, [] { toinen_fade_out(58064, 6000); }), 127.5, 127.5, 127.5, 1));
    for (uint32_t t : {64064u, 64065u, 100000u, 129678u})
        EXPECT_TRUE(uniform(over_white(t, [] { toinen_fade_out(58064, 6000); }), 0, 0, 0, 0))
            << "aika " << t;
}

TEST_F(Fades, FadeOutTakesTheTimeDifferenceAsSigned) {
    // aika far below start: an unsigned difference would wrap to a huge value and give black.
    EXPECT_TRUE(uniform(over_white(0, [] { toinen_fade_out(116129, 12000); }), 255, 255, 255, 0));
    EXPECT_TRUE(
        uniform(over_white(61936, [] { toinen_fade_out(116129, 12000); }), 255, 255, 255, 0));
    EXPECT_TRUE(uniform(over_white(122129, [] { toinen_fade_out(116129, 12000); }), 127.5, 127.5,
                        127.5, 1));
    EXPECT_TRUE(uniform(over_white(128129, [] { toinen_fade_out(116129, 12000); }), 0, 0, 0, 0));
}

TEST_F(Fades, FadeInAndOutInOneFrameAreBothDrawnAtTheSameDepth) {
    // Both at alpha 0.5: the second lies exactly on the first and passes GL_LEQUAL, so the
    // white background is halved twice.
    const Picture p = over_white(3000, [] {
        toinen_fade_in(0, 6000);
        toinen_fade_out(0, 6000);
    });
    EXPECT_TRUE(uniform(p, 63.75, 63.75, 63.75, 1));
    GLint func = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &func);
    EXPECT_EQ(func, GL_LEQUAL);
    // The fades write depth: the buffer holds the depth of a plane 0.15 in front of the eye.
    GLfloat depth = 1.0f;
    glReadPixels(LEVEYS / 2, KORKEUS / 2, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    GLdouble model[16], projection[16];
    GLint viewport[4];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glGetDoublev(GL_MODELVIEW_MATRIX, model);
    glPopMatrix();
    GLdouble wx, wy, wz;
    gluProject(0, 0, -0.15, model, projection, viewport, &wx, &wy, &wz);
    EXPECT_NEAR(depth, wz, 1e-4);
}

TEST_F(Fades, TheMovementOneFadesAtTheSwitchLeaveAbout65PercentBlack) {
    // aika 61935, the last frame of bar 31: fade-out at (61935 - 58064) / 6000 = 0.645.
    const Picture p = over_white(61935, [] {
        toinen_fade_in(0, 6000);
        toinen_fade_out(58064, 6000);
    });
    EXPECT_TRUE(uniform(p, 255 * (1 - 3871.0 / 6000), 255 * (1 - 3871.0 / 6000),
                        255 * (1 - 3871.0 / 6000), 1));
}

class LogoRamp : public OverlayTest {
  protected:
    void SetUp() override {
        OverlayTest::SetUp();
        if (HasFatalFailure())
            return;
        // A uniform coloured logo, fully transparent in the PNG.
        const std::string said = load_logo(png_rgba(1024, 1024, [](int, int) {
            return Rgba{200, 120, 60, 0};
        }));
        ASSERT_EQ(said, "");
        ASSERT_NE(logo_texture, 0u);
    }
    Picture at(uint32_t time) {
        fill(0.25f, 0.5f, 0.75f); // (63.75, 127.5, 191.25)
        aika = time;
        logo_fade_out(48387, 8000);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        return read_picture();
    }
};

TEST_F(LogoRamp, InvisibleBeforeItsStart) {
    for (uint32_t t : {0u, 6000u, 48386u, 48387u})
        EXPECT_TRUE(uniform(at(t), 63.75, 127.5, 191.25, 1)) << "aika " << t;
}

TEST_F(LogoRamp, HalfShownHalfwayInRedOnly) {
    // f = 0.5: colour (1, 0, 0, 0.5) modulating texel red 200.
    const Picture p = at(52387);
    EXPECT_TRUE(uniform(p, 0.5 * 200 + 0.5 * 63.75, 0.5 * 127.5, 0.5 * 191.25, 1));
    save_artefact(p, "logo_52387_" + std::to_string(LEVEYS));
}

TEST_F(LogoRamp, FullyShownFrom56387On) {
    for (uint32_t t : {56387u, 56388u, 60000u, 61935u, 200000u})
        EXPECT_TRUE(uniform(at(t), 200, 0, 0, 1)) << "aika " << t;
}

} // namespace
} // namespace vt
