// GL feedback mode: what a routine sends to GL, recorded instead of drawn. As recorded (window
// coordinates, colours and texture coordinates), and as triangles mapped back to the frame the
// caller's modelview maps to, to the precision of a float of their own size.
#pragma once
#include <array>
#include <cstddef>
#include <functional>
#include <vector>

#include <GL/gl.h>

#include "gl_harness/matrices.h"

namespace vt {

// Records what `draw` sends to GL in feedback mode of the given type (GL_3D_COLOR or
// GL_3D_COLOR_TEXTURE), in window coordinates. `draw` runs again with a larger buffer when the
// record does not fit, so it must draw the same each time.
std::vector<float> feedback(const std::function<void()> &draw, GLenum type = GL_3D_COLOR_TEXTURE);

// The primitives of a feedback record: polygons, lines, points and pixel rectangles.
struct Polygon {
    std::vector<std::array<float, 11>> vertices; // x, y, z, r, g, b, a, s, t, r, q
};
// The record's type says which values a vertex holds; without texture coordinates they read 0.
std::vector<Polygon> polygons(const std::vector<float> &buffer, GLenum type = GL_3D_COLOR_TEXTURE);

struct FbVertex {
    Vec3 p;                    // in the frame the caller's modelview maps to (world, usually)
    std::array<float, 4> rgba; // the vertex colour (lit, if lighting was on)
};
struct FbTriangle {
    std::array<FbVertex, 3> v;
};
struct FbQuad {
    std::array<FbVertex, 4> v;
};

// Runs `draw` in feedback mode with an orthographic projection of half-size `extent` (a power
// of two) and returns the triangles in the order drawn, mapped back through the projection, so
// with an identity modelview they are in object coordinates, to the precision of a float of
// their own size. `draw` runs twice (the second pass reads z through window x), so it must draw
// the same both times; seed the generator inside it where it draws numbers. Colours come from
// the first pass. The caller's modelview, projection and viewport are left as they were.
std::vector<FbTriangle> capture(const std::function<void()> &draw, double extent = 64);

// Mesa hands a quad (v0, v1, v2, v3) back as the triangles (v0, v1, v3) and (v1, v2, v3); this
// reassembles the quads of a run of triangles and fails the test if a pair does not fit.
std::vector<FbQuad> quads_of(const std::vector<FbTriangle> &tris, size_t first_tri,
                             size_t quad_count);

} // namespace vt
