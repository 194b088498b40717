#include "gl_harness/feedback.h"

#include <gtest/gtest.h>

namespace vt {

std::vector<float> feedback(const std::function<void()> &draw, GLenum type) {
    // Reused between records; grown and drawn again when a record does not fit.
    static std::vector<float> buffer(1u << 20);
    for (;;) {
        glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), type, buffer.data());
        glRenderMode(GL_FEEDBACK);
        draw();
        const GLint used = glRenderMode(GL_RENDER);
        if (used >= 0)
            return std::vector<float>(buffer.begin(), buffer.begin() + used);
        if (buffer.size() >= (size_t(1) << 26))
            break;
        buffer.resize(buffer.size() * 4);
    }
    ADD_FAILURE() << "feedback buffer overflow";
    return {};
}

std::vector<Polygon> polygons(const std::vector<float> &b, GLenum type) {
    const size_t per_vertex = type == GL_3D_COLOR_TEXTURE ? 11 : 7;
    std::vector<Polygon> out;
    size_t i = 0;
    auto take = [&](size_t n) {
        Polygon p;
        for (size_t v = 0; v < n && i + per_vertex <= b.size(); ++v, i += per_vertex) {
            std::array<float, 11> vertex{};
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

    const std::vector<float> record = feedback(draw, GL_3D_COLOR);

    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(static_cast<GLenum>(mode));

    std::vector<FbTriangle> tris;
    for (const Polygon &polygon : polygons(record, GL_3D_COLOR)) {
        if (polygon.vertices.size() != 3) {
            ADD_FAILURE() << "feedback primitive of " << polygon.vertices.size()
                          << " vertices, not a triangle";
            continue;
        }
        FbTriangle t;
        for (int v = 0; v < 3; ++v) {
            const auto &f = polygon.vertices[v];
            t.v[v].p = {f[0], f[1], f[2]};
            t.v[v].rgba = {f[3], f[4], f[5], f[6]};
        }
        tris.push_back(t);
    }
    return tris;
}

bool same_place(const FbVertex &a, const FbVertex &b) {
    return a.p.x == b.p.x && a.p.y == b.p.y && a.p.z == b.p.z && a.rgba == b.rgba;
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

} // namespace vt
