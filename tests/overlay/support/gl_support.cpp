#include "gl_support.h"

#include <GL/glu.h>
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "offscreen.h"

#ifndef VELLAMOR_ARTEFACT_DIR
#define VELLAMOR_ARTEFACT_DIR "artefacts"
#endif

namespace vt {

void open_context() {
    std::string why;
    ASSERT_TRUE(offscreen_open(LEVEYS, KORKEUS, &why)) << why;
    ASSERT_EQ(offscreen_width(), LEVEYS);
    ASSERT_EQ(offscreen_height(), KORKEUS);
}

void startup_render_state() {
    // alusta's steps 5 to 14, in order.
    const float aspect = static_cast<float>(static_cast<double>(LEVEYS) / KORKEUS);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, aspect, 0.1f, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glShadeModel(GL_SMOOTH);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glEnable(GL_COLOR_MATERIAL);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    const GLfloat ambient[] = {0.3f, 0.3f, 0.3f, 1.0f};
    const GLfloat diffuse[] = {1.0f, 1.0f, 1.0f, 1.0f};
    const GLfloat position[] = {5.0f, 5.0f, 20.0f, 1.0f};
    glLightfv(GL_LIGHT1, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT1, GL_POSITION, position);
    glEnable(GL_LIGHT1);
    glEnable(GL_LIGHTING);
    glLightModelf(GL_LIGHT_MODEL_TWO_SIDE, 1.0f);
    glClearColor(0.2f, 0.1f, 0.05f, 1.0f);
    const GLint modes[] = {GL_EXP, GL_EXP2, GL_LINEAR};
    glFogi(GL_FOG_MODE, modes[2]);
    const GLfloat fog[] = {0.2f, 0.1f, 0.05f, 1.0f};
    glFogfv(GL_FOG_COLOR, fog);
    glEnable(GL_FOG);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

void camera_like_view() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, static_cast<double>(LEVEYS) / KORKEUS, 0.1, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(2.0, 2.0, 1.0, 0.0, 2.2, 0.0, 0.0, 1.0, 0.0);
    // kamera's fog for the frame (step 6): the overlays lie nearer than its start.
    glFogf(GL_FOG_DENSITY, 0.35f);
    glHint(GL_FOG_HINT, GL_NICEST);
    glFogf(GL_FOG_START, 1.0f);
    glFogf(GL_FOG_END, 60.0f);
}

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
    std::vector<uint8_t> bottom_up = offscreen_read_rgba();
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

std::vector<float> feedback(const std::function<void()> &draw) {
    for (size_t size = 1 << 20; size <= (size_t(1) << 26); size *= 4) {
        std::vector<float> buffer(size);
        glFeedbackBuffer(static_cast<GLsizei>(size), GL_3D_COLOR_TEXTURE, buffer.data());
        glRenderMode(GL_FEEDBACK);
        draw();
        const GLint used = glRenderMode(GL_RENDER);
        if (used >= 0) {
            buffer.resize(used);
            return buffer;
        }
    }
    ADD_FAILURE() << "feedback buffer overflow";
    return {};
}

std::vector<Polygon> polygons(const std::vector<float> &b) {
    // GL_3D_COLOR_TEXTURE: each vertex is x, y, z, four colour and four texture values.
    constexpr size_t per_vertex = 11;
    std::vector<Polygon> out;
    size_t i = 0;
    auto take = [&](size_t n) {
        Polygon p;
        for (size_t v = 0; v < n && i + per_vertex <= b.size(); ++v, i += per_vertex) {
            std::array<float, 11> vertex;
            std::copy(b.begin() + i, b.begin() + i + per_vertex, vertex.begin());
            p.vertices.push_back(vertex);
        }
        out.push_back(p);
    };
    while (i < b.size()) {
        const int token = static_cast<int>(b[i++]);
        switch (token) {
        case GL_POLYGON_TOKEN: {
            const size_t n = static_cast<size_t>(b[i++]);
            take(n);
            break;
        }
        case GL_LINE_TOKEN:
        case GL_LINE_RESET_TOKEN:
            take(2);
            break;
        case GL_POINT_TOKEN:
        case GL_BITMAP_TOKEN:
        case GL_DRAW_PIXEL_TOKEN:
        case GL_COPY_PIXEL_TOKEN:
            take(1);
            break;
        case GL_PASS_THROUGH_TOKEN:
            ++i;
            break;
        default:
            ADD_FAILURE() << "unknown feedback token " << token;
            return out;
        }
    }
    return out;
}

std::string capture_stdout(const std::function<void()> &run) {
    std::fflush(stdout);
    char name[] = "/tmp/vellamor_stdout_XXXXXX";
    const int file = mkstemp(name);
    if (file < 0) {
        ADD_FAILURE() << "mkstemp: " << std::strerror(errno);
        run();
        return {};
    }
    unlink(name);
    const int saved = dup(1);
    dup2(file, 1);
    run();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string text;
    lseek(file, 0, SEEK_SET);
    char chunk[4096];
    ssize_t n;
    while ((n = read(file, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(n));
    close(file);
    return text;
}

ScratchDir::ScratchDir() {
    char here[4096];
    if (getcwd(here, sizeof here))
        previous_ = here;
    char name[] = "/tmp/vellamor_overlay_XXXXXX";
    if (!mkdtemp(name)) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return;
    }
    path_ = name;
    if (chdir(path_.c_str()) != 0)
        ADD_FAILURE() << "chdir " << path_;
}

ScratchDir::~ScratchDir() {
    if (!previous_.empty() && chdir(previous_.c_str()) != 0)
        std::fprintf(stderr, "cannot go back to %s\n", previous_.c_str());
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

void ScratchDir::write(const std::string &relative, const std::vector<uint8_t> &bytes) const {
    const std::filesystem::path full = std::filesystem::path(path_) / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        ADD_FAILURE() << "cannot write " << full.string();
}

} // namespace vt
