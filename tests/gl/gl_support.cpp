#include "gl_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>

#include <GL/gl.h>
#include <GL/glu.h>
#include <png.h>

#include "direction/direction.h"
#include "offscreen.h"
#include "runtime/runtime.h"

#ifndef VELLAMOR_ARTEFACT_DIR
#define VELLAMOR_ARTEFACT_DIR "artefacts"
#endif

// ---------------------------------------------------------------------------------------------
// Context and clock

void GLTest::SetUp() {
    reopen(64, 64);
    set_clock(0, 0);
}

void GLTest::TearDown() {
    offscreen_close();
}

void GLTest::reopen(int width, int height) {
    std::string error;
    ASSERT_TRUE(offscreen_open(width, height, &error)) << error;
}

float beat_ms() {
    return 60000.0f / 124.0f;
}

uint32_t bars_at(uint32_t aika_ms) {
    return static_cast<uint32_t>(static_cast<double>(aika_ms) / (4.0 * beat_ms()));
}

void set_clock(uint32_t aika_ms, uint32_t tahdit_bars) {
    bpm = 124.0f;
    interval = beat_ms();
    aika = aika_ms;
    tahdit = tahdit_bars;
}

void startup_render_state(float aspect) {
    aseta_piirtotila();
    // The show's own start-up state, but with the projection of the test's choosing, so a test
    // can see that kamera sets its own.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, aspect, static_cast<double>(0.1f), 100.0);
    glMatrixMode(GL_MODELVIEW);
}

// ---------------------------------------------------------------------------------------------
// Vectors and matrices

Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 operator*(double s, Vec3 a) {
    return {s * a.x, s * a.y, s * a.z};
}
double dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
double length(Vec3 a) {
    return std::sqrt(dot(a, a));
}

Mat4 Mat4::translate(double x, double y, double z) {
    Mat4 r;
    r.m[12] = x;
    r.m[13] = y;
    r.m[14] = z;
    return r;
}

Mat4 Mat4::scale(double x, double y, double z) {
    Mat4 r;
    r.m[0] = x;
    r.m[5] = y;
    r.m[10] = z;
    return r;
}

Mat4 Mat4::rotate(double degrees, double x, double y, double z) {
    Mat4 r;
    const double len = std::sqrt(x * x + y * y + z * z);
    if (len == 0.0)
        return r;
    x /= len;
    y /= len;
    z /= len;
    const double a = degrees * M_PI / 180.0;
    const double c = std::cos(a), s = std::sin(a), t = 1.0 - c;
    r.m[0] = x * x * t + c;
    r.m[1] = y * x * t + z * s;
    r.m[2] = x * z * t - y * s;
    r.m[4] = x * y * t - z * s;
    r.m[5] = y * y * t + c;
    r.m[6] = y * z * t + x * s;
    r.m[8] = x * z * t + y * s;
    r.m[9] = y * z * t - x * s;
    r.m[10] = z * z * t + c;
    return r;
}

Mat4 Mat4::from_gl(const float *gl) {
    Mat4 r;
    for (int i = 0; i < 16; ++i)
        r.m[i] = gl[i];
    return r;
}

Mat4 Mat4::operator*(const Mat4 &o) const {
    Mat4 r;
    for (int col = 0; col < 4; ++col)
        for (int row = 0; row < 4; ++row) {
            double sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += m[k * 4 + row] * o.m[col * 4 + k];
            r.m[col * 4 + row] = sum;
        }
    return r;
}

Vec3 Mat4::point(Vec3 p) const {
    return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12],
            m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
            m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
}

Vec3 Mat4::direction(Vec3 d) const {
    return {m[0] * d.x + m[4] * d.y + m[8] * d.z, m[1] * d.x + m[5] * d.y + m[9] * d.z,
            m[2] * d.x + m[6] * d.y + m[10] * d.z};
}

std::array<float, 16> modelview_floats() {
    std::array<float, 16> f{};
    glGetFloatv(GL_MODELVIEW_MATRIX, f.data());
    return f;
}

Mat4 current_modelview() {
    return Mat4::from_gl(modelview_floats().data());
}

Mat4 current_projection() {
    float f[16];
    glGetFloatv(GL_PROJECTION_MATRIX, f);
    return Mat4::from_gl(f);
}

// ---------------------------------------------------------------------------------------------
// The box table. Top corners carry the top-face scale s on x and z; -s is the negation of s.

Vec3 box_corner(int face, int corner, float s) {
    const float n = -s;
    static const float I = 1.0f;
    const Vec3 table[6][4] = {
        {{n, I, n}, {s, I, n}, {1, -1, -1}, {-1, -1, -1}},    // z = -1
        {{n, I, s}, {s, I, s}, {1, -1, 1}, {-1, -1, 1}},      // z = +1
        {{n, I, s}, {n, I, n}, {-1, -1, -1}, {-1, -1, 1}},    // x = -1
        {{s, I, s}, {s, I, n}, {n, I, n}, {n, I, s}},         // top
        {{s, I, s}, {s, I, n}, {1, -1, -1}, {1, -1, 1}},      // x = +1
        {{1, -1, 1}, {1, -1, -1}, {-1, -1, -1}, {-1, -1, 1}}, // bottom
    };
    return table[face][corner];
}

Vec3 box_normal(int face) {
    static const Vec3 normals[6] = {{0, 0, -1}, {0, 0, 1}, {-1, 0, 0},
                                    {0, 1, 0},  {1, 0, 0}, {0, -1, 0}};
    return normals[face];
}

bool is_top_corner(int face, int corner) {
    return box_corner(face, corner, 1.0f).y > 0;
}

// ---------------------------------------------------------------------------------------------
// Feedback

namespace {

// One feedback pass. With `swap` the projection exchanges x and z, so that window x carries the
// object's z without the depth range's offset.
std::vector<FbTriangle> capture_pass(const std::function<void()> &draw, double extent, bool swap) {
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    GLint mode;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    const double k = 1.0 / extent;
    // Column-major: clip x = k x (or k z), clip y = k y, clip z = -k z (or k x).
    const double plain[16] = {k, 0, 0, 0, 0, k, 0, 0, 0, 0, -k, 0, 0, 0, 0, 1};
    const double swapped[16] = {0, 0, k, 0, 0, k, 0, 0, k, 0, 0, 0, 0, 0, 0, 1};
    glLoadMatrixd(swap ? swapped : plain);
    glMatrixMode(GL_MODELVIEW);
    // A viewport centred on the window origin makes window x and y equal to clip x and y times
    // the extent, which is exact for a power of two.
    const GLint e = static_cast<GLint>(extent);
    glViewport(-e, -e, 2 * e, 2 * e);

    // Reused between captures; grown and drawn again when a pass does not fit.
    static std::vector<float> buffer(1u << 18);
    GLint used = -1;
    while (used < 0 && buffer.size() <= (64u << 20)) {
        glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D_COLOR, buffer.data());
        glRenderMode(GL_FEEDBACK);
        draw();
        used = glRenderMode(GL_RENDER);
        if (used < 0)
            buffer.resize(buffer.size() * 4);
    }

    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(static_cast<GLenum>(mode));

    std::vector<FbTriangle> tris;
    EXPECT_GE(used, 0) << "feedback buffer overflow";
    for (GLint i = 0; i < used;) {
        const GLenum token = static_cast<GLenum>(buffer[i++]);
        if (token == GL_PASS_THROUGH_TOKEN) {
            ++i;
            continue;
        }
        if (token != GL_POLYGON_TOKEN) {
            ADD_FAILURE() << "unexpected feedback token " << token;
            break;
        }
        const int count = static_cast<int>(buffer[i++]);
        if (count != 3) {
            ADD_FAILURE() << "feedback polygon of " << count << " vertices";
            i += 7 * count;
            continue;
        }
        FbTriangle t;
        for (int v = 0; v < 3; ++v, i += 7) {
            t.v[v].p = {buffer[i], buffer[i + 1], buffer[i + 2]};
            for (int c = 0; c < 4; ++c)
                t.v[v].rgba[c] = buffer[i + 3 + c];
        }
        tris.push_back(t);
    }
    return tris;
}

} // namespace

std::vector<FbTriangle> capture(const std::function<void()> &draw, double extent) {
    auto tris = capture_pass(draw, extent, false);
    const auto swapped = capture_pass(draw, extent, true);
    if (swapped.size() != tris.size()) {
        ADD_FAILURE() << "the two feedback passes differ: " << tris.size() << " and "
                      << swapped.size() << " triangles";
        return tris;
    }
    for (size_t t = 0; t < tris.size(); ++t)
        for (int v = 0; v < 3; ++v)
            tris[t].v[v].p.z = swapped[t].v[v].p.x;
    return tris;
}

static bool same_place(const FbVertex &a, const FbVertex &b) {
    return a.p.x == b.p.x && a.p.y == b.p.y && a.p.z == b.p.z && a.rgba == b.rgba;
}

std::vector<FbQuad> quads_of(const std::vector<FbTriangle> &tris, size_t first_tri,
                             size_t quad_count) {
    std::vector<FbQuad> quads;
    for (size_t q = 0; q < quad_count; ++q) {
        const size_t t = first_tri + 2 * q;
        if (t + 1 >= tris.size()) {
            ADD_FAILURE() << "capture ends before quad " << q;
            break;
        }
        const FbTriangle &a = tris[t], &b = tris[t + 1];
        if (!same_place(a.v[1], b.v[0]) || !same_place(a.v[2], b.v[2]))
            ADD_FAILURE() << "triangles " << t << " and " << t + 1
                          << " do not form a quad (v0, v1, v3), (v1, v2, v3)";
        quads.push_back(FbQuad{{a.v[0], a.v[1], b.v[1], a.v[2]}});
    }
    return quads;
}

std::vector<FbBox> boxes_of(const std::vector<FbTriangle> &tris, size_t first_box, size_t count) {
    if (count == SIZE_MAX)
        count = tris.size() / 12 - first_box;
    std::vector<FbBox> boxes;
    for (size_t b = 0; b < count; ++b) {
        auto quads = quads_of(tris, (first_box + b) * 12, 6);
        if (quads.size() != 6)
            break;
        FbBox box;
        std::copy(quads.begin(), quads.end(), box.begin());
        boxes.push_back(box);
    }
    return boxes;
}

Vec3 centroid(const FbBox &box) {
    Vec3 sum;
    for (const auto &q : box)
        for (const auto &v : q.v)
            sum = sum + v.p;
    return (1.0 / 24.0) * sum;
}

void bounds(const FbBox &box, Vec3 *lo, Vec3 *hi) {
    *lo = {1e300, 1e300, 1e300};
    *hi = {-1e300, -1e300, -1e300};
    for (const auto &q : box)
        for (const auto &v : q.v) {
            lo->x = std::min(lo->x, v.p.x);
            lo->y = std::min(lo->y, v.p.y);
            lo->z = std::min(lo->z, v.p.z);
            hi->x = std::max(hi->x, v.p.x);
            hi->y = std::max(hi->y, v.p.y);
            hi->z = std::max(hi->z, v.p.z);
        }
}

static std::string show(Vec3 v) {
    std::ostringstream s;
    s.precision(9);
    s << "(" << v.x << ", " << v.y << ", " << v.z << ")";
    return s.str();
}

::testing::AssertionResult box_matches(const FbBox &box, const Mat4 &M, float s, double tol,
                                       double abs_tol) {
    for (int f = 0; f < 6; ++f)
        for (int c = 0; c < 4; ++c) {
            const Vec3 want = M.point(box_corner(f, c, s));
            const Vec3 got = box[f].v[c].p;
            const double limit = std::max(abs_tol, tol * std::max(1.0, length(want)));
            if (length(got - want) > limit)
                return ::testing::AssertionFailure()
                       << "face " << f + 1 << " corner " << c + 1 << ": got " << show(got)
                       << ", want " << show(want) << " (off by " << length(got - want) << ", limit "
                       << limit << ")";
        }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult box_colours(const FbBox &box, std::array<float, 4> top,
                                       std::array<float, 4> bottom, double tol) {
    for (int f = 0; f < 6; ++f)
        for (int c = 0; c < 4; ++c) {
            const auto &want = is_top_corner(f, c) ? top : bottom;
            const auto &got = box[f].v[c].rgba;
            for (int k = 0; k < 4; ++k)
                if (std::fabs(got[k] - want[k]) > tol)
                    return ::testing::AssertionFailure()
                           << "face " << f + 1 << " corner " << c + 1 << " channel " << k
                           << ": got " << got[k] << ", want " << want[k];
        }
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------------------------
// State queries

std::array<float, 4> get4(unsigned pname) {
    std::array<float, 4> v{};
    glGetFloatv(pname, v.data());
    return v;
}

float get1(unsigned pname) {
    float v = 0;
    glGetFloatv(pname, &v);
    return v;
}

int geti(unsigned pname) {
    GLint v = 0;
    glGetIntegerv(pname, &v);
    return v;
}

// ---------------------------------------------------------------------------------------------
// Pictures

Picture read_picture() {
    Picture pic;
    pic.width = offscreen_width();
    pic.height = offscreen_height();
    glFinish();
    pic.rgba = offscreen_read_rgba();
    return pic;
}

std::string save_artefact(const Picture &pic, const std::string &name) {
    std::filesystem::create_directories(VELLAMOR_ARTEFACT_DIR);
    const std::string path = std::string(VELLAMOR_ARTEFACT_DIR) + "/" + name;
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) {
        ADD_FAILURE() << "cannot write " << path;
        return path;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        ADD_FAILURE() << "libpng failed writing " << path;
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return path;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, pic.width, pic.height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int row = pic.height - 1; row >= 0; --row)
        png_write_row(png, pic.rgba.data() + static_cast<size_t>(row) * pic.width * 4);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return path;
}

size_t distinct_colours(const Picture &pic) {
    std::set<uint32_t> colours;
    for (size_t i = 0; i + 3 < pic.rgba.size(); i += 4)
        colours.insert(pic.rgba[i] | pic.rgba[i + 1] << 8 | pic.rgba[i + 2] << 16);
    return colours.size();
}

double fraction_unlike(const Picture &pic, std::array<uint8_t, 3> rgb) {
    size_t unlike = 0, total = 0;
    for (size_t i = 0; i + 3 < pic.rgba.size(); i += 4, ++total)
        for (int c = 0; c < 3; ++c)
            if (std::abs(int(pic.rgba[i + c]) - int(rgb[c])) > 2) {
                ++unlike;
                break;
            }
    return total ? double(unlike) / double(total) : 0.0;
}

Picture render_frame(uint32_t aika_ms, uint32_t tahdit_bars, float aspect,
                     const std::function<void()> &scene) {
    startup_render_state(aspect);
    set_clock(aika_ms, tahdit_bars);
    kamera(); // the previous frame's camera chose this frame's clear colour
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    kamera();
    glDisable(GL_BLEND);
    scene();
    return read_picture();
}
