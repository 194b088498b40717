#include "gl_harness/pictures.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

#include <GL/gl.h>
#include <png.h>

#include "direction/direction.h"
#include "gl_harness/context.h"
#include "offscreen.h"

#ifndef VELLAMOR_ARTEFACT_DIR
#define VELLAMOR_ARTEFACT_DIR "artefacts"
#endif

namespace vt {

double Picture::mean(int channel) const {
    double sum = 0;
    for (size_t i = channel; i < rgba.size(); i += 4)
        sum += rgba[i];
    return rgba.empty() ? 0.0 : sum / (rgba.size() / 4);
}

Picture read_picture() {
    Picture p;
    p.w = offscreen_width();
    p.h = offscreen_height();
    glFinish();
    const std::vector<uint8_t> bottom_up = offscreen_read_rgba();
    p.rgba.resize(bottom_up.size());
    const size_t row = static_cast<size_t>(p.w) * 4;
    for (int y = 0; y < p.h; ++y)
        std::memcpy(&p.rgba[y * row], &bottom_up[(p.h - 1 - y) * row], row);
    return p;
}

void fill(float r, float g, float b) {
    GLfloat previous[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, previous);
    glClearColor(r, g, b, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glClearColor(previous[0], previous[1], previous[2], previous[3]);
}

void compose_frame(const std::function<void()> &scene) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    kamera();
    glDisable(GL_BLEND);
    scene();
}

Picture render_frame(uint32_t aika_ms, uint32_t tahdit_bars, const std::function<void()> &scene) {
    startup_render_state();
    set_clock(aika_ms, tahdit_bars);
    kamera();
    compose_frame(scene);
    return read_picture();
}

::testing::AssertionResult uniform(const Picture &p, double r, double g, double b, int tolerance) {
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            const uint8_t *c = p.at(x, y);
            if (std::abs(c[0] - r) > tolerance || std::abs(c[1] - g) > tolerance ||
                std::abs(c[2] - b) > tolerance)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") is (" << int(c[0]) << ", " << int(c[1])
                       << ", " << int(c[2]) << "), expected about (" << r << ", " << g << ", " << b
                       << ") +- " << tolerance;
        }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult same_picture(const Picture &a, const Picture &b, int tolerance) {
    if (a.w != b.w || a.h != b.h)
        return ::testing::AssertionFailure() << "sizes differ";
    for (size_t i = 0; i < a.rgba.size(); ++i)
        if (i % 4 != 3 && std::abs(int(a.rgba[i]) - int(b.rgba[i])) > tolerance) {
            const size_t pixel = i / 4;
            return ::testing::AssertionFailure()
                   << "pixel (" << pixel % a.w << ", " << pixel / a.w << ") channel " << i % 4
                   << ": " << int(a.rgba[i]) << " vs " << int(b.rgba[i]);
        }
    return ::testing::AssertionSuccess();
}

size_t distinct_colours(const Picture &p) {
    std::set<uint32_t> colours;
    for (size_t i = 0; i + 3 < p.rgba.size(); i += 4)
        colours.insert(p.rgba[i] | p.rgba[i + 1] << 8 | p.rgba[i + 2] << 16);
    return colours.size();
}

double fraction_unlike(const Picture &p, std::array<uint8_t, 3> rgb) {
    size_t unlike = 0, total = 0;
    for (size_t i = 0; i + 3 < p.rgba.size(); i += 4, ++total)
        for (int c = 0; c < 3; ++c)
            if (std::abs(int(p.rgba[i + c]) - int(rgb[c])) > 2) {
                ++unlike;
                break;
            }
    return total ? double(unlike) / double(total) : 0.0;
}

std::string save_artefact(const Picture &p, const std::string &name) {
    const std::string dir = VELLAMOR_ARTEFACT_DIR;
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    const std::string path = dir + "/" + name + ".png";
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        ADD_FAILURE() << "cannot write " << path;
        return path;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        ADD_FAILURE() << "libpng failed on " << path;
        return path;
    }
    png_init_io(png, f);
    // RGB: the window has no alpha, and the colour buffer's alpha is only blending's by-product.
    png_set_IHDR(png, info, p.w, p.h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row(static_cast<size_t>(p.w) * 3);
    for (int y = 0; y < p.h; ++y) {
        for (int x = 0; x < p.w; ++x)
            std::memcpy(&row[static_cast<size_t>(x) * 3], p.at(x, y), 3);
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return path;
}

} // namespace vt
