// mklogo: draws the Vellamor title card, data/logo3.png.
//
// Drawn for how the show uses the texture: it is modulated by the red of the
// current colour, so only the red channel is seen; the PNG's alpha is dropped; and the quad is
// larger than the view, so only texture rows t = 0.29 to 0.91 and columns s = 0.03 to 0.95 are on
// screen at both program sizes, where the texture at full strength replaces the picture. So the
// design lives in the red channel, everything outside the letters is black, the image is opaque,
// and all of it stays inside that band (checked before the file is written).
//
// The quad spans 0.46 by 0.40 eye units for the texture's 1 by 1, so the screen stretches the
// texture 1.15 times wider than tall; the lettering is drawn narrower by the same factor to look
// right on screen.
#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include <png.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "outfile.h"

namespace {

constexpr int kSize = 1024;
// The band of the texture that is on screen at both 1280x720 and 1024x600.
constexpr double kBandTop = 0.29, kBandBottom = 0.91, kBandLeft = 0.03, kBandRight = 0.95;
constexpr double kScreenStretch = 0.46 / 0.40; // horizontal stretch of the texture on screen
constexpr double kTitleSize = 176;             // pixels per em of the title

bool fileExists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// DejaVu Sans Bold, through fontconfig, or at the path Debian's fonts-dejavu-core installs it.
std::string findFont(std::string *why) {
    std::string found;
    if (FcInit()) {
        FcPattern *pat = FcNameParse(reinterpret_cast<const FcChar8 *>("DejaVu Sans:style=Bold"));
        FcConfigSubstitute(nullptr, pat, FcMatchPattern);
        FcDefaultSubstitute(pat);
        FcResult result = FcResultNoMatch;
        FcPattern *match = FcFontMatch(nullptr, pat, &result);
        if (match) {
            FcChar8 *file = nullptr, *family = nullptr;
            int weight = 0;
            if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch &&
                FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch &&
                FcPatternGetInteger(match, FC_WEIGHT, 0, &weight) == FcResultMatch &&
                std::strcmp(reinterpret_cast<const char *>(family), "DejaVu Sans") == 0 &&
                weight >= FC_WEIGHT_BOLD) {
                found = reinterpret_cast<const char *>(file);
            }
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pat);
    }
    if (found.empty() && fileExists(VELLAMOR_FONT_FALLBACK))
        found = VELLAMOR_FONT_FALLBACK;
    if (found.empty()) {
        *why = "DejaVu Sans Bold not found through fontconfig nor at " VELLAMOR_FONT_FALLBACK
               " (Debian package fonts-dejavu-core)";
    }
    return found;
}

// A line of text laid out as glyphs with extra letter spacing, narrowed horizontally by `narrow`
// and centred on (cx, baseline).
struct Line {
    std::vector<cairo_glyph_t> glyphs;
    double left = 0, right = 0, top = 0, bottom = 0; // ink extents after placement
};

Line layout(cairo_t *cr, const char *text, double size, double tracking, double narrow, double cx,
            double baseline) {
    cairo_set_font_size(cr, size);
    cairo_scaled_font_t *sf = cairo_get_scaled_font(cr);
    cairo_glyph_t *gl = nullptr;
    int count = 0;
    cairo_scaled_font_text_to_glyphs(sf, 0, 0, text, -1, &gl, &count, nullptr, nullptr, nullptr);
    Line line;
    line.glyphs.assign(gl, gl + count);
    cairo_glyph_free(gl);
    for (int i = 0; i < count; ++i)
        line.glyphs[i].x += i * tracking * size;
    cairo_text_extents_t ext;
    cairo_scaled_font_glyph_extents(sf, line.glyphs.data(), count, &ext);
    // Centre the ink, then narrow about the centre.
    const double inkCentre = ext.x_bearing + ext.width / 2;
    for (auto &g : line.glyphs) {
        g.x = cx + (g.x - inkCentre) * narrow;
        g.y = baseline;
    }
    line.left = cx - ext.width / 2 * narrow;
    line.right = cx + ext.width / 2 * narrow;
    line.top = baseline + ext.y_bearing;
    line.bottom = baseline + ext.y_bearing + ext.height;
    return line;
}

// Fills the glyphs of a line, narrowed: each glyph is drawn under its own horizontal scale.
void fillLine(cairo_t *cr, const Line &line, double narrow) {
    cairo_new_path(cr);
    for (const auto &g : line.glyphs) {
        cairo_save(cr);
        cairo_translate(cr, g.x, g.y);
        cairo_scale(cr, narrow, 1.0);
        cairo_glyph_t one = g;
        one.x = 0;
        one.y = 0;
        cairo_glyph_path(cr, &one, 1);
        cairo_restore(cr);
    }
    cairo_fill(cr);
}

// Writes kSize x kSize RGBA pixels (rows top first) as an 8-bit RGBA PNG, colour type 6. (Cairo's
// own writer would store an opaque image as RGB, colour type 2.)
bool writePng(const std::vector<unsigned char> &rgba, OutFile *file) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(
        png, file,
        [](png_structp p, png_bytep data, png_size_t n) {
            if (!static_cast<OutFile *>(png_get_io_ptr(p))->write(data, n))
                png_error(p, "write failed");
        },
        nullptr);
    png_set_IHDR(png, info, kSize, kSize, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_text text[2] = {};
    text[0].compression = PNG_TEXT_COMPRESSION_NONE;
    text[0].key = const_cast<char *>("Title");
    text[0].text = const_cast<char *>("Vellamor");
    text[1].compression = PNG_TEXT_COMPRESSION_NONE;
    text[1].key = const_cast<char *>("Author");
    text[1].text = const_cast<char *>("Korvek");
    png_set_text(png, info, text, 2);
    png_write_info(png, info);
    for (int y = 0; y < kSize; ++y)
        png_write_row(png, rgba.data() + static_cast<size_t>(y) * kSize * 4);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

void usage(FILE *to) {
    std::fprintf(
        to,
        "Usage: mklogo OUTPUT.png\n"
        "       mklogo --help\n"
        "\n"
        "Draws the Vellamor title card (\"Vellamor\", by \"Korvek\") with cairo and DejaVu Sans "
        "Bold\n"
        "as a 1024x1024 8-bit RGBA PNG: red lettering on opaque black, all of it inside the band\n"
        "of the texture that the show puts on screen (t %.2f-%.2f, s %.2f-%.2f). Written to a\n"
        "temporary file beside OUTPUT.png and renamed when complete.\n",
        kBandTop, kBandBottom, kBandLeft, kBandRight);
}

int fail(const std::string &msg) {
    std::fprintf(stderr, "mklogo: %s\n", msg.c_str());
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        }
        if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "mklogo: unknown option %s\n", a.c_str());
            usage(stderr);
            return 2;
        }
        if (!output.empty()) {
            std::fprintf(stderr, "mklogo: more than one output path given\n");
            usage(stderr);
            return 2;
        }
        output = a;
    }
    if (output.empty()) {
        std::fprintf(stderr, "mklogo: no output path given\n");
        usage(stderr);
        return 2;
    }

    std::string why;
    const std::string fontPath = findFont(&why);
    if (fontPath.empty())
        return fail(why);
    FT_Library ft = nullptr;
    FT_Face face = nullptr;
    if (FT_Init_FreeType(&ft) != 0)
        return fail("cannot initialise FreeType");
    if (FT_New_Face(ft, fontPath.c_str(), 0, &face) != 0) {
        FT_Done_FreeType(ft);
        return fail("cannot load font " + fontPath);
    }
    // The face lives as long as cairo's font face: cairo releases it through the user data.
    cairo_font_face_t *font = cairo_ft_font_face_create_for_ft_face(face, 0);
    static cairo_user_data_key_t faceKey;
    if (cairo_font_face_set_user_data(font, &faceKey, face, [](void *f) {
            FT_Done_Face(static_cast<FT_Face>(f));
        }) != CAIRO_STATUS_SUCCESS) {
        FT_Done_Face(face);
        return fail("cannot attach the font to cairo");
    }

    const double narrow = 1.0 / kScreenStretch;
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kSize, kSize);
    cairo_t *cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    cairo_set_font_face(cr, font);
    cairo_font_options_t *opts = cairo_font_options_create();
    cairo_font_options_set_antialias(opts, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(opts, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(opts, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, opts);

    // The visible band, in pixels; the card is centred on it.
    const double bandTop = kBandTop * kSize, bandBottom = kBandBottom * kSize;
    const double cx = (kBandLeft + kBandRight) / 2 * kSize;
    const double titleBase = bandTop + 0.57 * (bandBottom - bandTop);

    // The title, with a warm gradient from the top of the letters to the waterline.
    Line title = layout(cr, "Vellamor", kTitleSize, 0.035, narrow, cx, titleBase);
    {
        cairo_pattern_t *grad = cairo_pattern_create_linear(0, title.top, 0, title.bottom);
        cairo_pattern_add_color_stop_rgb(grad, 0.0, 1.00, 0.62, 0.36);
        cairo_pattern_add_color_stop_rgb(grad, 0.55, 0.93, 0.42, 0.22);
        cairo_pattern_add_color_stop_rgb(grad, 1.0, 0.72, 0.22, 0.12);
        cairo_set_source(cr, grad);
        fillLine(cr, title, narrow);
        cairo_pattern_destroy(grad);
    }

    // The makers' name above it, small and widely spaced.
    Line maker = layout(cr, "Korvek", 46, 0.55, narrow, cx, title.top - 58);
    cairo_set_source_rgb(cr, 0.80, 0.40, 0.26);
    fillLine(cr, maker, narrow);

    // The title's reflection in still water below it: the letters mirrored at the waterline,
    // fading with depth, rippled sideways and broken into lines.
    {
        cairo_surface_t *mask = cairo_image_surface_create(CAIRO_FORMAT_A8, kSize, kSize);
        cairo_t *mc = cairo_create(mask);
        cairo_set_font_face(mc, font);
        cairo_set_font_options(mc, opts);
        cairo_set_font_size(mc, kTitleSize);
        cairo_set_source_rgba(mc, 1, 1, 1, 1);
        fillLine(mc, title, narrow);
        cairo_destroy(mc);
        cairo_surface_flush(mask);
        cairo_surface_flush(surface);
        const unsigned char *m = cairo_image_surface_get_data(mask);
        const int mstride = cairo_image_surface_get_stride(mask);
        unsigned char *px = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        const double water = title.bottom + 6; // the waterline, just under the letters
        const double depth = 0.8 * (title.bottom - title.top);
        for (int y = static_cast<int>(water); y < static_cast<int>(water + depth) && y < kSize;
             ++y) {
            const double d = (y - water) / depth; // 0 at the waterline, 1 at the bottom
            const int src =
                static_cast<int>(std::lround(2 * water - y - 6)); // mirrored row of the title
            if (src < 0 || src >= kSize)
                continue;
            const double fade = 0.42 * std::pow(1.0 - d, 1.6);
            const double lines = 0.6 + 0.4 * std::cos(y * 1.9); // thin dark lines across the water
            const double shift = (2.0 + 9.0 * d) * std::sin(y * 0.21 + 5.0 * d); // sideways ripple
            for (int x = 0; x < kSize; ++x) {
                const double sx = x - shift;
                const int x0 = static_cast<int>(std::floor(sx));
                const double f = sx - x0;
                auto cov = [&](int xx) {
                    return (xx < 0 || xx >= kSize) ? 0.0 : m[src * mstride + xx] / 255.0;
                };
                const double c = (cov(x0) * (1 - f) + cov(x0 + 1) * f) * fade * lines;
                if (c <= 0)
                    continue;
                uint32_t *p = reinterpret_cast<uint32_t *>(px + y * stride) + x;
                const uint32_t r = std::min(
                    255u, ((*p >> 16) & 0xff) + static_cast<uint32_t>(std::lround(c * 0.95 * 255)));
                const uint32_t g = std::min(
                    255u, ((*p >> 8) & 0xff) + static_cast<uint32_t>(std::lround(c * 0.38 * 255)));
                const uint32_t b = std::min(
                    255u, (*p & 0xff) + static_cast<uint32_t>(std::lround(c * 0.22 * 255)));
                *p = 0xff000000u | (r << 16) | (g << 8) | b;
            }
        }
        cairo_surface_mark_dirty(surface);
        cairo_surface_destroy(mask);
    }

    cairo_font_options_destroy(opts);
    cairo_destroy(cr);
    cairo_surface_flush(surface);

    // Self-check: nothing lit outside the visible band.
    {
        const unsigned char *px = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        int lit = 0, outside = 0;
        for (int y = 0; y < kSize; ++y) {
            for (int x = 0; x < kSize; ++x) {
                const uint32_t p = reinterpret_cast<const uint32_t *>(px + y * stride)[x];
                if ((p & 0x00ffffffu) == 0)
                    continue;
                ++lit;
                const bool inside = y >= bandTop && y < bandBottom && x >= kBandLeft * kSize &&
                                    x < kBandRight * kSize;
                if (!inside)
                    ++outside;
            }
        }
        if (lit == 0 || outside > 0) {
            cairo_surface_destroy(surface);
            cairo_font_face_destroy(font);
            return fail("layout error: " + std::to_string(outside) + " of " + std::to_string(lit) +
                        " lit pixels lie outside the visible band");
        }
    }

    // Cairo keeps native-endian 0xAARRGGBB words; the PNG wants R, G, B, A bytes. The image is
    // opaque, so the premultiplied colours are the colours.
    std::vector<unsigned char> rgba(static_cast<size_t>(kSize) * kSize * 4);
    {
        const unsigned char *px = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < kSize; ++y) {
            for (int x = 0; x < kSize; ++x) {
                const uint32_t p = reinterpret_cast<const uint32_t *>(px + y * stride)[x];
                unsigned char *o = &rgba[(static_cast<size_t>(y) * kSize + x) * 4];
                o[0] = (p >> 16) & 0xff;
                o[1] = (p >> 8) & 0xff;
                o[2] = p & 0xff;
                o[3] = 255;
            }
        }
    }
    OutFile file(output);
    bool ok = file.open();
    if (ok)
        ok = writePng(rgba, &file);
    if (ok)
        ok = file.commit();
    cairo_surface_destroy(surface);
    cairo_font_face_destroy(font);
    cairo_debug_reset_static_data(); // drops cairo's font caches, and with them the face
    FT_Done_FreeType(ft);
    FcFini();
    if (!ok)
        return fail(file.error().empty() ? "cannot encode the PNG" : file.error());
    return 0;
}
