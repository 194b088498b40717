// The logo texture and what of it reaches the screen: three components built from
// the PNG's red, green and blue, only the red shown, alpha ignored, and the band of the texture
// that the camera's projection shows at this build's size.
#include <GL/glu.h>

#include <algorithm>
#include <cmath>

#include "fixture.h"

namespace vt {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Where the centre of a screen pixel falls on the logo quad, in texture coordinates, from the
// quad's eye-space rectangle (x -0.225 to 0.235 with s 0 to 1, y 0.24 to -0.16 with t 0 to 1,
// at z = -0.3) and the 45-degree perspective at LEVEYS / KORKEUS.
double expected_s(double column) {
    const double half_h = 0.3 * std::tan(22.5 * kPi / 180.0);
    const double half_w = half_h * static_cast<double>(LEVEYS) / KORKEUS;
    const double x = (2.0 * (column + 0.5) / LEVEYS - 1.0) * half_w;
    return (x + 0.225) / 0.46;
}
double expected_t(double row_from_top) {
    const double half_h = 0.3 * std::tan(22.5 * kPi / 180.0);
    const double y = (1.0 - 2.0 * (row_from_top + 0.5) / KORKEUS) * half_h;
    return (0.24 - y) / 0.4;
}

class Logo : public OverlayTest {
  protected:
    Picture full_logo(const Bytes &png, float r = 0.25f, float g = 0.5f, float b = 0.75f) {
        logo_texture = 0;
        const std::string said = load_logo(png);
        EXPECT_EQ(said, "");
        EXPECT_NE(logo_texture, 0u);
        fill(r, g, b);
        aika = 60000;
        logo_fade_out(48387, 8000);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        return read_picture();
    }
};

TEST_F(Logo, TextureIsThreeComponentRepeatLinearWithMipmapsAndStaysBound) {
    auto texel = [](int x, int y) {
        return Rgba{uint8_t(x * 7 + y), uint8_t(x ^ y), uint8_t(y * 3), uint8_t(x + y * 5)};
    };
    ASSERT_EQ(load_logo(png_rgba(1024, 1024, texel)), "");
    ASSERT_NE(logo_texture, 0u);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<uint32_t>(bound), logo_texture);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    GLint v = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &v);
    EXPECT_EQ(v, GL_REPEAT);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &v);
    EXPECT_EQ(v, GL_REPEAT);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &v);
    EXPECT_EQ(v, GL_LINEAR);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &v);
    EXPECT_EQ(v, GL_LINEAR);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &v);
    EXPECT_EQ(v, 1024);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &v);
    EXPECT_EQ(v, 1024);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &v);
    EXPECT_TRUE(v == 3 || v == GL_RGB || v == GL_RGB8) << "internal format " << v;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &v);
    EXPECT_EQ(v, 0) << "the texture keeps no alpha";
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 10, GL_TEXTURE_WIDTH, &v);
    EXPECT_EQ(v, 1) << "full mipmap chain down to 1 x 1";
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &v);
    EXPECT_EQ(v, 4);

    // Level 0 holds the PNG's red, green and blue, top row first as t = 0.
    std::vector<uint8_t> level0(1024 * 1024 * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, level0.data());
    int wrong = 0;
    for (int y = 0; y < 1024; ++y)
        for (int x = 0; x < 1024; ++x) {
            const Rgba want = texel(x, y);
            const uint8_t *got = &level0[(size_t(y) * 1024 + x) * 4];
            if (got[0] != want.r || got[1] != want.g || got[2] != want.b || got[3] != 255)
                if (wrong++ < 5)
                    ADD_FAILURE() << "texel (" << x << ", " << y << ") is " << int(got[0]) << ","
                                  << int(got[1]) << "," << int(got[2]) << "," << int(got[3]);
        }
    EXPECT_EQ(wrong, 0);
}

TEST_F(Logo, ShowsOnlyTheRedChannelAndIgnoresAlpha) {
    // The same colour everywhere; alpha 0 in the left half and in a checker on the right.
    const Picture p = full_logo(png_rgba(1024, 1024, [](int x, int y) {
        const bool transparent = x < 512 || ((x / 16 + y / 16) % 2 == 0);
        return Rgba{200, 120, 60, uint8_t(transparent ? 0 : 255)};
    }));
    EXPECT_TRUE(uniform(p, 200, 0, 0, 1)) << "a transparent texel shows in red, opaque";
}

TEST_F(Logo, TransparentTexelsShowTheirRedOverAnyBackground) {
    const Bytes png = png_rgba(1024, 1024, [](int, int) { return Rgba{90, 250, 250, 0}; });
    EXPECT_TRUE(uniform(full_logo(png, 1, 1, 1), 90, 0, 0, 1));
    EXPECT_TRUE(uniform(full_logo(png, 0, 0, 0), 90, 0, 0, 1));
}

TEST_F(Logo, PaletteLogoWithATransparentEntryShowsItsRedOpaque) {
    // A palette PNG whose one colour is made fully transparent by tRNS (SDL_image hands such an
    // image over with a colour key rather than an alpha channel): the texels still show in red.
    const std::vector<Rgba> palette = {{200, 120, 60, 0}, {90, 10, 10, 255}};
    const Picture p =
        full_logo(png_palette(64, 64, palette, true, [](int, int) { return uint8_t(0); }));
    EXPECT_TRUE(uniform(p, 200, 0, 0, 1)) << "the transparent palette colour is drawn in its red";
}

TEST_F(Logo, DrawLogoShowsItsOwnColoursAtHalfAlpha) {
    ASSERT_EQ(load_logo(png_rgba(1024, 1024, [](int, int) { return Rgba{200, 120, 60, 0}; })), "");
    fill(0.25f, 0.5f, 0.75f);
    drawLogo();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_TRUE(uniform(read_picture(), 0.5 * 200 + 0.5 * 63.75, 0.5 * 120 + 0.5 * 127.5,
                        0.5 * 60 + 0.5 * 191.25, 1));
}

// Reads texture coordinates back from the screen: `coarse` has red = x / 4 (or y / 4) and tells
// the coordinate to 1/256; `fine` has red = x mod 256 and refines it to 1/1024.
struct Band {
    double left, right, top, bottom;
};

class LogoBand : public Logo {
  protected:
    // Decodes texture coordinate `along` the s (true) or t (false) axis at the given pixels.
    std::vector<double> decode(bool s_axis, const std::vector<std::pair<int, int>> &pixels,
                               const char *artefact) {
        const Picture coarse = full_logo(png_rgba(1024, 1024, [s_axis](int x, int y) {
            return Rgba{uint8_t((s_axis ? x : y) / 4), 0, 0, 255};
        }));
        save_artefact(coarse, std::string(artefact) + "_coarse_" + std::to_string(LEVEYS));
        const Picture fine = full_logo(png_rgba(1024, 1024, [s_axis](int x, int y) {
            return Rgba{uint8_t((s_axis ? x : y) % 256), 0, 0, 255};
        }));
        std::vector<double> out;
        for (auto [x, y] : pixels) {
            const double rough = (coarse.at(x, y)[0] + 0.5) / 256.0;
            const double red = fine.at(x, y)[0];
            // the texel index whose value is `red`, in the 256-texel period nearest to `rough`
            const double period = std::round((rough * 1024.0 - 0.5 - red) / 256.0);
            const double precise = (period * 256.0 + red + 0.5) / 1024.0;
            EXPECT_NEAR(precise, rough, 3.0 / 256)
                << "coarse and fine disagree at " << x << "," << y;
            out.push_back(precise);
        }
        return out;
    }
};

TEST_F(LogoBand, OnScreenBandOfTheTexture) {
    const int mid_x = LEVEYS / 2, mid_y = KORKEUS / 2;
    const auto s =
        decode(true, {{0, mid_y}, {LEVEYS / 4, mid_y}, {LEVEYS - 1, mid_y}}, "logo_s_ramp");
    const auto t =
        decode(false, {{mid_x, 0}, {mid_x, KORKEUS / 4}, {mid_x, KORKEUS - 1}}, "logo_t_ramp");
    ASSERT_EQ(s.size(), 3u);
    ASSERT_EQ(t.size(), 3u);
    // One texel of tolerance (plus the linear filter's blur at the fine ramp's steps).
    const double tol = 2.0 / 1024;
    EXPECT_NEAR(s[0], expected_s(0), tol);
    EXPECT_NEAR(s[1], expected_s(LEVEYS / 4), tol);
    EXPECT_NEAR(s[2], expected_s(LEVEYS - 1), tol);
    EXPECT_NEAR(t[0], expected_t(0), tol);
    EXPECT_NEAR(t[1], expected_t(KORKEUS / 4), tol);
    EXPECT_NEAR(t[2], expected_t(KORKEUS - 1), tol);
    // The rounded figures: t about 0.29 to 0.91; s about 0.009 to 0.969 at 1280 x 720 and
    // 0.028 to 0.950 at 1024 x 600.
    EXPECT_NEAR(t[0], 0.29, 0.005);
    EXPECT_NEAR(t[2], 0.91, 0.005);
    if (LEVEYS == 1280) {
        EXPECT_NEAR(s[0], 0.009, 0.003);
        EXPECT_NEAR(s[2], 0.969, 0.003);
    } else {
        EXPECT_NEAR(s[0], 0.028, 0.003);
        EXPECT_NEAR(s[2], 0.950, 0.003);
    }
    // Upright and unmirrored: s grows to the right, t downward.
    EXPECT_LT(s[0], s[1]);
    EXPECT_LT(s[1], s[2]);
    EXPECT_LT(t[0], t[1]);
    EXPECT_LT(t[1], t[2]);
}

TEST_F(Logo, PatternArtefact) {
    // A recognisable picture for a person to look at: rings in red, a green and blue field
    // that must not show, a transparent corner, and the letter-like bars of an "L" near s, t = 0.
    const Picture p = full_logo(png_rgba(1024, 1024, [](int x, int y) {
        const double dx = x - 512, dy = y - 600;
        const int ring = static_cast<int>(std::sqrt(dx * dx + dy * dy) / 24) % 2;
        uint8_t red = ring ? 230 : 40;
        if ((x > 100 && x < 140 && y > 320 && y < 560) ||
            (x > 100 && x < 300 && y > 520 && y < 560))
            red = 255;
        return Rgba{red, 200, 255, uint8_t(x < 300 && y > 800 ? 0 : 255)};
    }));
    save_artefact(p, "logo_pattern_" + std::to_string(LEVEYS));
    for (size_t i = 0; i < p.rgba.size(); i += 4) {
        ASSERT_EQ(p.rgba[i + 1], 0) << "green shows";
        ASSERT_EQ(p.rgba[i + 2], 0) << "blue shows";
    }
}

} // namespace
} // namespace vt
