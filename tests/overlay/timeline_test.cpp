// The timeline `piirra` on the offscreen context: which window each bar number
// draws, the clear-before-camera background at the switch to movement two, and the jump from
// the movement-one fade to the unfaded movement two. kaksoispuskurointi is 0 here (there is no
// SDL window to swap); that nothing is swapped then is shown under Xvfb by swap_test.cpp.
#include <cmath>
#include <sstream>

#include "direction/direction.h"
#include "fixture.h"
#include "scenes/scenes.h"

namespace vt {
namespace {

void movement_one() {
    kaupunki();
    taivas();
    logo_fade_out(48387, 8000);
    toinen_fade_in(0, 6000);
    toinen_fade_out(58064, 6000);
}
void movement_two() {
    planebumps();
    quadswarm();
    floating_kaari();
    toinen_fade_out(116129, 12000);
}

class Timeline : public OverlayTest {
  protected:
    void SetUp() override {
        OverlayTest::SetUp();
        if (HasFatalFailure())
            return;
        kaksoispuskurointi = 0;
        // A logo with some structure in its red channel, so that it shows in pictures.
        const std::string said = load_logo(png_rgba(256, 256, [](int x, int y) {
            const int dx = x - 128, dy = y - 150;
            const bool ring =
                (static_cast<int>(std::sqrt(double(dx * dx + dy * dy)) / 10) % 2) == 0;
            return Rgba{uint8_t(ring ? 230 : 60), 255, 255, 255};
        }));
        ASSERT_EQ(said, "");
    }
    // The state a frame begins with apart from the clear colour, which is the test's to set.
    static void between_frames(float r, float g, float b) {
        glClearColor(r, g, b, 1.0f);
        glColor4f(1, 1, 1, 1);
        glTexCoord4f(0, 0, 0, 1); // feedback reports it also for untextured drawing
    }
    static Picture frame(uint32_t bar, uint32_t time) {
        tahdit = bar;
        aika = time;
        piirra();
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR))
            << "bar " << bar << " aika " << time;
        return read_picture();
    }
};

struct Moment {
    uint32_t tahdit, aika;
    int window; // 1, 2, or 0 for nothing
};
std::ostream &operator<<(std::ostream &o, const Moment &m) {
    return o << "tahdit " << m.tahdit << " aika " << m.aika;
}

class TimelineWindow : public Timeline, public ::testing::WithParamInterface<Moment> {};

TEST_P(TimelineWindow, DrawsTheWindowOfTheBar) {
    const Moment m = GetParam();
    tahdit = m.tahdit;
    aika = m.aika;
    between_frames(0.2f, 0.1f, 0.05f);
    const std::vector<float> drawn = feedback(piirra);
    between_frames(0.2f, 0.1f, 0.05f);
    const std::vector<float> one = feedback([] { compose_frame(movement_one); });
    between_frames(0.2f, 0.1f, 0.05f);
    const std::vector<float> two = feedback([] { compose_frame(movement_two); });
    ASSERT_NE(one, two) << "movement one and two must be told apart at this time";
    ASSERT_FALSE(one.empty());
    ASSERT_FALSE(two.empty());
    auto first_difference = [&](const std::vector<float> &want) {
        std::ostringstream o;
        for (size_t k = 0; k < std::min(drawn.size(), want.size()); ++k)
            if (drawn[k] != want[k]) {
                o << "first difference at float " << k << ": " << drawn[k] << " vs " << want[k];
                return o.str();
            }
        o << "sizes " << drawn.size() << " vs " << want.size();
        return o.str();
    };
    switch (m.window) {
    case 1:
        EXPECT_TRUE(drawn == one) << "expected movement one: " << polygons(drawn).size()
                                  << " primitives drawn, " << polygons(one).size()
                                  << " in movement one, " << polygons(two).size()
                                  << " in movement two; " << first_difference(one);
        break;
    case 2:
        EXPECT_TRUE(drawn == two) << "expected movement two: " << polygons(drawn).size()
                                  << " primitives drawn, " << polygons(one).size()
                                  << " in movement one, " << polygons(two).size()
                                  << " in movement two; " << first_difference(two);
        break;
    default:
        EXPECT_TRUE(drawn.empty()) << polygons(drawn).size() << " primitives drawn";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bars, TimelineWindow,
    ::testing::Values(Moment{0, 0, 1}, Moment{0, 3000, 1},
                      // the overlay starts, truncated toward zero: the logo's colour turns from
                      // (1, 1, 1, 0) to (1, 0, 0, 0) at exactly 48387, and the fades are off 0 by
                      // one millisecond after 58064 and 116129
                      Moment{25, 48386, 1}, Moment{25, 48387, 1}, Moment{30, 58065, 1},
                      Moment{31, 60001, 1}, Moment{31, 61935, 1}, Moment{31, 61936, 1},
                      Moment{32, 61935, 2}, Moment{32, 61936, 2}, Moment{60, 116130, 2},
                      Moment{66, 129000, 2}, Moment{199, 70000, 2}, Moment{199, 385200, 2},
                      Moment{200, 61936, 0}, Moment{200, 387097, 0}, Moment{1000, 70000, 0},
                      Moment{0xFFFFFFFFu, 30000, 0}, Moment{0x80000000u, 30000, 0}),
    [](const ::testing::TestParamInfo<Moment> &info) {
        return "tahdit_" + std::to_string(info.param.tahdit) + "_aika_" +
               std::to_string(info.param.aika);
    });

TEST_F(Timeline, Bar200ShowsOnlyTheClearedBackground) {
    between_frames(0.2f, 0.1f, 0.05f);
    frame(31, 61935); // leaves the darkened movement-one clear colour
    Picture p = frame(200, 61936);
    EXPECT_TRUE(uniform(p, 0.14839 * 255, 0.04839 * 255, 0, 1));
    save_artefact(p, "timeline_bar200_" + std::to_string(LEVEYS));
    p = frame(200, 61937); // kamera of the bar-200 frame set path 3's colour
    EXPECT_TRUE(uniform(p, 0.2 * 255, 0.05 * 255, 0.01 * 255, 1));
}

// Pixels where nothing is drawn over the background, found by clearing to two marker colours.
std::vector<size_t> background_pixels(uint32_t bar, uint32_t time) {
    auto marked = [&](float r, float g, float b) {
        glClearColor(r, g, b, 1);
        glColor4f(1, 1, 1, 1);
        tahdit = bar;
        aika = time;
        piirra();
        return read_picture();
    };
    const Picture magenta = marked(1, 0, 1), green = marked(0, 1, 0);
    std::vector<size_t> out;
    for (size_t i = 0; i < magenta.rgba.size(); i += 4) {
        const uint8_t *m = &magenta.rgba[i], *g = &green.rgba[i];
        if (m[0] == 255 && m[1] == 0 && m[2] == 255 && g[0] == 0 && g[1] == 255 && g[2] == 0)
            out.push_back(i / 4);
    }
    return out;
}

::testing::AssertionResult background_is(const Picture &p, const std::vector<size_t> &where,
                                         double r, double g, double b) {
    if (where.size() < static_cast<size_t>(p.w) * p.h / 100)
        return ::testing::AssertionFailure()
               << "only " << where.size() << " background pixels to look at";
    for (size_t i : where) {
        const uint8_t *c = &p.rgba[i * 4];
        if (std::abs(c[0] - r) > 1 || std::abs(c[1] - g) > 1 || std::abs(c[2] - b) > 1)
            return ::testing::AssertionFailure()
                   << "background pixel " << i << " is (" << int(c[0]) << ", " << int(c[1]) << ", "
                   << int(c[2]) << "), expected about (" << r << ", " << g << ", " << b << ")";
    }
    return ::testing::AssertionSuccess() << where.size() << " background pixels";
}

TEST_F(Timeline, FirstFrameOfMovementTwoIsClearedWithTheDarkenedMovementOneColour) {
    const auto background_b = background_pixels(32, 61936);
    const auto background_c = background_pixels(32, 61937);
    between_frames(0.2f, 0.1f, 0.05f);
    frame(31, 61934);
    frame(31, 61935);
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_NEAR(clear[0], 0.14839, 2e-4);
    EXPECT_NEAR(clear[1], 0.04839, 2e-4);
    EXPECT_NEAR(clear[2], 0.0, 1e-7);
    const Picture b = frame(32, 61936);
    const Picture c = frame(32, 61937);
    EXPECT_TRUE(background_is(b, background_b, 0.14839 * 255, 0.04839 * 255, 0));
    EXPECT_TRUE(background_is(c, background_c, 0.2 * 255, 0.05 * 255, 0.01 * 255));
    save_artefact(b, "timeline_first_frame_of_movement_two_" + std::to_string(LEVEYS));
    save_artefact(c, "timeline_second_frame_of_movement_two_" + std::to_string(LEVEYS));
}

TEST_F(Timeline, AtTheSwitchThePictureGoesFromAbout65PercentBlackToUnfadedInOneFrame) {
    // The last frame of bar 31 and, unfaded, the same frame without the fade to black.
    const float dark[3] = {0.148389f, 0.048389f, 0.0f};
    between_frames(dark[0], dark[1], dark[2]);
    const Picture a = frame(31, 61935);
    between_frames(dark[0], dark[1], dark[2]);
    compose_frame([] {
        kaupunki();
        taivas();
        logo_fade_out(48387, 8000);
        toinen_fade_in(0, 6000);
    });
    const Picture a_unfaded = read_picture();
    // The next frame, movement two, and the same without its (still transparent) closing fade.
    between_frames(dark[0], dark[1], dark[2]);
    frame(31, 61935);
    const Picture b = frame(32, 61936);
    between_frames(dark[0], dark[1], dark[2]);
    compose_frame([] {
        planebumps();
        quadswarm();
        floating_kaari();
    });
    const Picture b_unfaded = read_picture();

    const double kept = 1.0 - (61935.0 - 58064.0) / 6000.0; // 0.3548: about 65 % black
    int off = 0;
    for (size_t i = 0; i < a.rgba.size(); ++i)
        if (i % 4 != 3 && std::abs(a.rgba[i] - kept * a_unfaded.rgba[i]) > 1.5 && off++ < 3)
            ADD_FAILURE() << "pixel " << i / 4 << " channel " << i % 4 << ": " << int(a.rgba[i])
                          << " vs " << kept << " x " << int(a_unfaded.rgba[i]);
    EXPECT_EQ(off, 0);
    const double ratio = (a.mean(0) + a.mean(1) + a.mean(2)) /
                         (a_unfaded.mean(0) + a_unfaded.mean(1) + a_unfaded.mean(2));
    EXPECT_NEAR(ratio, kept, 0.01);
    EXPECT_TRUE(same_picture(b, b_unfaded, 1)) << "movement two has no fade-in";
    EXPECT_GT(b.mean(0) + b.mean(1) + b.mean(2), 0.0);
    save_artefact(a, "timeline_last_frame_of_movement_one_" + std::to_string(LEVEYS));
    save_artefact(a_unfaded,
                  "timeline_last_frame_of_movement_one_unfaded_" + std::to_string(LEVEYS));
}

TEST_F(Timeline, ArtefactsAlongTheShow) {
    // A few frames for a person to look at, each after a frame of the moment before, so that
    // the background has the right clear colour.
    const Moment moments[] = {{0, 0, 1},      {1, 3000, 1},    {10, 20000, 1},
                              {20, 40000, 1}, {28, 54387, 1},  {29, 57000, 1},
                              {45, 90000, 2}, {55, 108000, 2}, {62, 122129, 2}};
    for (const Moment &m : moments) {
        between_frames(0.2f, 0.1f, 0.05f);
        if (m.aika > 0)
            frame(m.tahdit, m.aika - 1);
        const Picture p = frame(m.tahdit, m.aika);
        save_artefact(p, "timeline_bar" + std::to_string(m.tahdit) + "_" + std::to_string(m.aika) +
                             "_" + std::to_string(LEVEYS));
        if (m.aika == 0) {
            EXPECT_TRUE(uniform(p, 0, 0, 0, 0)) << "the show starts from black";
        }
    }
}

} // namespace
} // namespace vt
