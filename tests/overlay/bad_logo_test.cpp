// Bad logo files, each on its own: the loader either refuses
// with its one "Virhe: IMG_Load: ..." line and the show goes on without a logo, or loads the
// image converted to R, G, B, A bytes at its real width and height. Nothing may crash or read
// out of bounds; the suite runs these under AddressSanitizer too (VELLAMOR_SANITIZE).
#include <sys/resource.h>

#include <cmath>

#include <SDL.h>

#include "fixture.h"

namespace vt {
namespace {

enum class Outcome { Refused, Loaded, Either };

struct Case {
    const char *name;
    bool missing;                // no file at all
    std::function<Bytes()> make; // the file's content otherwise, made when the test runs
    Outcome outcome;
    int w, h;                             // the real size when it loads
    std::function<Rgba(int, int)> expect; // expected R, G, B, A bytes when it loads
    bool check_alpha;                     // whether the expected alpha is fixed by the format
    int tolerance;                        // per channel (lossy formats)
    bool header_refusal = false;          // too big: refused from its header, before any decoding
};

std::ostream &operator<<(std::ostream &o, const Case &c) {
    return o << c.name;
}

Rgba pattern(int x, int y) {
    return Rgba{uint8_t(x * 37 + y * 11), uint8_t(x * 5 + y * 29), uint8_t(x ^ (y * 3)),
                uint8_t(x + y)};
}
// Four flat quadrants and a one-pixel vertical stripe at x = w / 8: a row read with the wrong
// length bends the stripe, and a texture scaled to a power of two keeps the flat quadrants
// (the texture is compared at the quadrants' centres, away from the stripe).
int block(int x, int y, int w, int h) {
    if (x == w / 8)
        return 4;
    return (x >= w / 2 ? 1 : 0) + (y >= h / 2 ? 2 : 0);
}
const Rgba kColours[5] = {{20, 60, 90, 255},
                          {240, 60, 150, 128},
                          {20, 200, 150, 0},
                          {240, 200, 90, 255},
                          {250, 250, 250, 255}};
const uint8_t kGreys[5] = {30, 90, 160, 220, 250};
Texels blocky(int w, int h, bool opaque = false) {
    return [w, h, opaque](int x, int y) {
        Rgba c = kColours[block(x, y, w, h)];
        if (opaque)
            c.a = 255;
        return c;
    };
}

Bytes whole_png() {
    return png_rgba(128, 128, [](int x, int y) {
        return Rgba{uint8_t(x * y), uint8_t(x * 13 + y * 7), uint8_t(x * x + y), uint8_t(y)};
    });
}
Bytes first_bytes(const Bytes &b, size_t n) {
    return Bytes(b.begin(), b.begin() + std::min(n, b.size()));
}

std::vector<Case> cases() {
    using M = std::function<Bytes()>;
    std::vector<Case> c;
    auto refused = [&](const char *name, M make, bool header_refusal = false) {
        c.push_back({name, false, std::move(make), Outcome::Refused, 0, 0, nullptr, false, 0,
                     header_refusal});
    };
    auto loads = [&](const char *name, M make, int w, int h, Texels expect,
                     bool check_alpha = true) {
        c.push_back({name, false, std::move(make), Outcome::Loaded, w, h, std::move(expect),
                     check_alpha, 0});
    };

    c.push_back({"missing", true, nullptr, Outcome::Refused, 0, 0, nullptr, false, 0});
    refused("empty", [] { return Bytes{}; });
    refused("truncated_in_idat", [] {
        const Bytes whole = whole_png();
        return first_bytes(whole, whole.size() / 2);
    });
    refused("truncated_in_header", [] { return first_bytes(whole_png(), 20); });
    refused("signature_only", [] { return first_bytes(whole_png(), 8); });
    refused("random_bytes", [] { return random_bytes(5000, 6); });
    refused("png_signature_then_noise", [] {
        Bytes noise = random_bytes(5000, 7);
        const uint8_t sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
        std::copy(sig, sig + 8, noise.begin());
        return noise;
    });
    {
        // No stripe: JPEG rings around sharp lines. Either refused (not a PNG) or loaded.
        auto quads = [](int x, int y) {
            Rgba q = kColours[(x >= 24 ? 1 : 0) + (y >= 16 ? 2 : 0)];
            q.a = 255;
            return q;
        };
        c.push_back({"jpeg_renamed_png", false, [quads] { return jpeg_rgb(48, 32, quads); },
                     Outcome::Either, 48, 32, quads, false, 40});
    }
    auto by_block = [](int w, int h) {
        return [w, h](int x, int y) { return uint8_t(block(x, y, w, h)); };
    };
    loads(
        "palette_8bit",
        [by_block] {
            std::vector<Rgba> palette(kColours, kColours + 5);
            for (auto &p : palette)
                p.a = 255;
            return png_palette(40, 30, palette, false, by_block(40, 30));
        },
        40, 30, blocky(40, 30, true));
    loads(
        "palette_8bit_with_trns",
        [by_block] {
            return png_palette(40, 30, std::vector<Rgba>(kColours, kColours + 5), true,
                               by_block(40, 30));
        },
        40, 30, blocky(40, 30), false);
    // One palette entry fully transparent, the others opaque: SDL_image gives a colour-keyed
    // surface rather than alpha. The keyed texels must keep their colour (alpha is dropped).
    loads(
        "palette_8bit_one_transparent_index",
        [by_block] {
            std::vector<Rgba> palette(kColours, kColours + 5);
            for (auto &p : palette)
                p.a = 255;
            palette[1].a = 0;
            return png_palette(40, 30, palette, true, by_block(40, 30));
        },
        40, 30, blocky(40, 30, true), false);
    loads(
        "rgb_with_transparent_colour",
        [] { return png_rgb_keyed(31, 9, blocky(31, 9), kColours[1]); }, 31, 9, blocky(31, 9, true),
        false);
    loads(
        "grey_with_transparent_level",
        [] {
            return png_grey_keyed(
                33, 17, [](int x, int y) { return kGreys[block(x, y, 33, 17)]; }, kGreys[1]);
        },
        33, 17,
        [](int x, int y) {
            const uint8_t v = kGreys[block(x, y, 33, 17)];
            return Rgba{v, v, v, 255};
        },
        false);
    loads(
        "grey_alpha_8bit",
        [] {
            return png_grey_alpha(
                33, 17, [](int x, int y) { return kGreys[block(x, y, 33, 17)]; },
                [](int x, int) { return uint8_t(x * 7); });
        },
        33, 17,
        [](int x, int y) {
            const uint8_t v = kGreys[block(x, y, 33, 17)];
            return Rgba{v, v, v, uint8_t(x * 7)};
        });
    loads(
        "palette_4bit",
        [by_block] {
            std::vector<Rgba> palette(kColours, kColours + 5);
            return png_palette4(41, 30, palette, by_block(41, 30));
        },
        41, 30, blocky(41, 30, true));
    loads(
        "rgba_interlaced", [] { return png_rgba_interlaced(37, 23, blocky(37, 23)); }, 37, 23,
        blocky(37, 23));
    loads(
        "grey_8bit",
        [] { return png_grey(33, 17, [](int x, int y) { return kGreys[block(x, y, 33, 17)]; }); },
        33, 17,
        [](int x, int y) {
            const uint8_t v = kGreys[block(x, y, 33, 17)];
            return Rgba{v, v, v, 255};
        });
    loads(
        "rgba_16bit", [] { return png_rgba16(50, 20, blocky(50, 20)); }, 50, 20, blocky(50, 20));
    loads(
        "rgb_without_alpha", [] { return png_rgb(31, 9, blocky(31, 9)); }, 31, 9,
        blocky(31, 9, true));
    loads(
        "one_by_one", [] { return png_rgba(1, 1, [](int, int) {
                               return Rgba{10, 20, 30, 40};
                           }); },
        1, 1,
        [](int, int) {
            return Rgba{10, 20, 30, 40};
        });
    loads(
        "1000_by_700", [] { return png_rgba(1000, 700, blocky(1000, 700)); }, 1000, 700,
        blocky(1000, 700));
    refused(
        "declares_100000_by_100000", [] { return png_declaring(100000, 100000); }, true);
    refused(
        "declares_4097_wide", [] { return png_declaring(4097, 4); }, true);
    refused(
        "declares_4097_high", [] { return png_declaring(4, 4097); }, true);
    refused(
        "declares_2147483647_square", [] { return png_declaring(0x7fffffff, 0x7fffffff); }, true);
    // Complete, valid images just over the limit: refused although they would decode.
    refused(
        "valid_4097_by_2", [] { return png_rgba(4097, 2, pattern); }, true);
    refused(
        "valid_2_by_4097", [] { return png_rgba(2, 4097, pattern); }, true);
    loads(
        "4096_by_4", [] { return png_rgba(4096, 4, pattern); }, 4096, 4, pattern);
    loads(
        "correct_1024", [] { return png_rgba(1024, 1024, pattern); }, 1024, 1024, pattern);
    return c;
}

bool one_error_line(const std::string &said) {
    const std::string prefix = "Virhe: IMG_Load: ";
    return said.size() > prefix.size() + 1 && said.compare(0, prefix.size(), prefix) == 0 &&
           said.back() == '\n' && said.find('\n') == said.size() - 1;
}

long peak_rss_kb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class BadLogo : public OverlayTest, public ::testing::WithParamInterface<Case> {
  protected:
    void SetUp() override {
        OverlayTest::SetUp();
        ASSERT_EQ(SDL_Init(0), 0) << SDL_GetError(); // SDL_image needs no subsystem
    }
    void TearDown() override {
        SDL_Quit();
        OverlayTest::TearDown();
    }
    void put_file(const ScratchDir &dir) {
        if (!GetParam().missing)
            dir.write("data/logo3.png", GetParam().make());
    }
    // Checks a loaded surface against the case: real size, R, G, B, A bytes in memory.
    void check_surface(SDL_Surface *s) {
        const Case &c = GetParam();
        ASSERT_EQ(s->w, c.w);
        ASSERT_EQ(s->h, c.h);
        ASSERT_EQ(s->format->BytesPerPixel, 4);
        EXPECT_EQ(s->pitch, c.w * 4) << "lue_logo promises tightly packed rows";
        ASSERT_GE(s->pitch, c.w * 4);
        const auto *bytes = static_cast<const uint8_t *>(s->pixels);
        int wrong = 0;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const uint8_t *p = bytes + size_t(y) * s->pitch + size_t(x) * 4;
                const Rgba want = c.expect(x, y);
                const bool ok = std::abs(p[0] - want.r) <= c.tolerance &&
                                std::abs(p[1] - want.g) <= c.tolerance &&
                                std::abs(p[2] - want.b) <= c.tolerance &&
                                (!c.check_alpha || p[3] == want.a);
                if (!ok && wrong++ < 4)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") bytes " << int(p[0]) << ","
                                  << int(p[1]) << "," << int(p[2]) << "," << int(p[3])
                                  << ", expected " << int(want.r) << "," << int(want.g) << ","
                                  << int(want.b) << "," << int(want.a);
            }
        EXPECT_EQ(wrong, 0);
    }
};

TEST_P(BadLogo, LueLogoDirectly) {
    const Case &c = GetParam();
    ScratchDir dir;
    put_file(dir);
    const long rss_before = peak_rss_kb();
    SDL_Surface *surface = nullptr;
    const std::string said = capture_stdout([&] {
        SDL_RWops *rw = SDL_RWFromFile("data/logo3.png", "rb");
        if (c.missing) {
            EXPECT_EQ(rw, nullptr);
        }
        surface = lue_logo(rw);
    });
    const long grown_mb = (peak_rss_kb() - rss_before) / 1024;
    EXPECT_LT(grown_mb, 200) << "the loader touched " << grown_mb << " MB";
    if (surface) {
        EXPECT_NE(c.outcome, Outcome::Refused) << "should have been refused";
        EXPECT_EQ(said, "") << "a loaded image prints nothing";
        check_surface(surface);
        SDL_FreeSurface(surface);
    } else {
        EXPECT_NE(c.outcome, Outcome::Loaded) << "should have loaded; said: " << said;
        EXPECT_TRUE(one_error_line(said)) << "printed: [" << said << "]";
    }
}

// An SDL_RWops over the case's bytes that records how far the loader read and whether it
// closed the source.
struct Watched {
    SDL_RWops *inner = nullptr;
    int furthest = 0;
    bool closed = false;
};
int watched_seek(SDL_RWops *rw, int offset, int whence) {
    return SDL_RWseek(static_cast<Watched *>(rw->hidden.unknown.data1)->inner, offset, whence);
}
int watched_read(SDL_RWops *rw, void *into, int size, int count) {
    auto *w = static_cast<Watched *>(rw->hidden.unknown.data1);
    const int got = SDL_RWread(w->inner, into, size, count);
    w->furthest = std::max(w->furthest, static_cast<int>(SDL_RWtell(w->inner)));
    return got;
}
int watched_write(SDL_RWops *, const void *, int, int) {
    return -1;
}
int watched_close(SDL_RWops *rw) {
    auto *w = static_cast<Watched *>(rw->hidden.unknown.data1);
    w->closed = true;
    SDL_RWclose(w->inner);
    SDL_FreeRW(rw);
    return 0;
}

TEST_P(BadLogo, LueLogoClosesItsSourceAndRefusesTooBigImagesFromTheHeader) {
    const Case &c = GetParam();
    if (c.missing) { // no source: SDL_RWFromFile gives null, with its reason, and lue_logo takes it
        ScratchDir dir;
        SDL_Surface *none = nullptr;
        const std::string said =
            capture_stdout([&] { none = lue_logo(SDL_RWFromFile("data/logo3.png", "rb")); });
        EXPECT_EQ(none, nullptr);
        EXPECT_TRUE(one_error_line(said)) << "printed: [" << said << "]";
        return;
    }
    Watched watched;
    const Bytes bytes = c.make();
    watched.inner = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    ASSERT_NE(watched.inner, nullptr);
    SDL_RWops *rw = SDL_AllocRW();
    rw->seek = watched_seek;
    rw->read = watched_read;
    rw->write = watched_write;
    rw->close = watched_close;
    rw->hidden.unknown.data1 = &watched;
    SDL_Surface *surface = nullptr;
    const std::string said = capture_stdout([&] { surface = lue_logo(rw); });
    EXPECT_TRUE(watched.closed) << "lue_logo must close its source";
    if (c.header_refusal) {
        EXPECT_EQ(surface, nullptr);
        EXPECT_TRUE(one_error_line(said)) << "printed: [" << said << "]";
        EXPECT_LT(watched.furthest, 1024) << "read " << watched.furthest << " of " << bytes.size()
                                          << " bytes: decoded before refusing";
    }
    if (surface)
        SDL_FreeSurface(surface);
}

TEST_P(BadLogo, AlustaTexturetAndTheShowGoesOn) {
    const Case &c = GetParam();
    std::string said;
    {
        ScratchDir dir;
        put_file(dir);
        said = capture_stdout(alusta_texturet);
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const bool loaded = said.empty();
    if (c.outcome == Outcome::Refused)
        EXPECT_TRUE(one_error_line(said)) << "printed: [" << said << "]";
    else if (c.outcome == Outcome::Loaded)
        EXPECT_EQ(said, "");
    else
        EXPECT_TRUE(loaded || one_error_line(said)) << "printed: [" << said << "]";

    if (loaded) {
        ASSERT_NE(logo_texture, 0u);
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(static_cast<uint32_t>(bound), logo_texture);
        // The texture has the image's content, not bytes read past it.
        GLint tw = 0, th = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &tw);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &th);
        ASSERT_GT(tw, 0);
        ASSERT_GT(th, 0);
        std::vector<uint8_t> level0(size_t(tw) * th * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, level0.data());
        const bool exact = tw == c.w && th == c.h;
        std::vector<std::pair<double, double>> where;
        if (exact) {
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x)
                    where.push_back({(x + 0.5) / c.w, (y + 0.5) / c.h});
        } else {
            // Rescaled to a power of two by gluBuild2DMipmaps: compare the middles of the flat
            // quadrants only.
            where = {{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}};
        }
        int wrong = 0;
        for (auto [u, v] : where) {
            const int ix = std::min(c.w - 1, int(u * c.w)), iy = std::min(c.h - 1, int(v * c.h));
            const int tx = std::min(tw - 1, int(u * tw)), ty = std::min(th - 1, int(v * th));
            const Rgba want = c.expect(ix, iy);
            const uint8_t *got = &level0[(size_t(ty) * tw + tx) * 4];
            const int tol = exact ? c.tolerance : std::max(c.tolerance, 3);
            if ((std::abs(got[0] - want.r) > tol || std::abs(got[1] - want.g) > tol ||
                 std::abs(got[2] - want.b) > tol) &&
                wrong++ < 4)
                ADD_FAILURE() << "texel at (" << u << ", " << v << ") of " << tw << "x" << th
                              << " is " << int(got[0]) << "," << int(got[1]) << "," << int(got[2])
                              << ", image has " << int(want.r) << "," << int(want.g) << ","
                              << int(want.b);
        }
        EXPECT_EQ(wrong, 0);
    } else {
        EXPECT_EQ(logo_texture, 0u) << "draw.h: 0 when no logo could be loaded";
    }

    // The show goes on: the logo overlay, fully shown, draws the image's red or nothing, and
    // leaves the render state as it should.
    glDisable(GL_BLEND);
    fill(0.25f, 0.5f, 0.75f);
    const State before = state();
    aika = 60000;
    logo_fade_out(48387, 8000);
    toinen_fade_in(0, 6000);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const State after = state();
    const Picture p = read_picture();
    if (!loaded)
        EXPECT_TRUE(uniform(p, 63.75, 127.5, 191.25, 1)) << "no logo: nothing drawn";
    else if (c.w == 1 && c.h == 1)
        EXPECT_TRUE(uniform(p, 10, 0, 0, 1)) << "a 1 x 1 logo fills the screen in its red";
    else
        for (size_t i = 0; i < p.rgba.size(); i += 4)
            if (p.rgba[i + 1] != 0 || p.rgba[i + 2] != 0) {
                ADD_FAILURE() << "the logo shows green or blue at pixel " << i / 4;
                break;
            }
    EXPECT_TRUE(after.lighting);
    EXPECT_TRUE(after.colour_material);
    EXPECT_FALSE(after.blend);
    EXPECT_FALSE(after.texture_2d);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(after.modelview[i], before.modelview[i]);
    EXPECT_EQ(after.modelview_depth, before.modelview_depth);
    if (loaded)
        save_artefact(p, std::string("logo_file_") + c.name + "_" + std::to_string(LEVEYS));
}

TEST(BadLogoNull, LueLogoOfANullSourcePrintsItsLine) {
    ASSERT_EQ(SDL_Init(0), 0);
    SDL_Surface *s = nullptr;
    SDL_SetError("no such file");
    const std::string said = capture_stdout([&] { s = lue_logo(nullptr); });
    EXPECT_EQ(s, nullptr);
    EXPECT_TRUE(one_error_line(said)) << "printed: [" << said << "]";
    SDL_Quit();
}

INSTANTIATE_TEST_SUITE_P(Files, BadLogo, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace vt
