// Shared helpers of the GL tests: a fresh offscreen context per test, the show's start-up render
// state, GL feedback capture mapped back to world coordinates, a double-precision matrix model of
// the fixed-function transforms, the box table, and PNG artefacts.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// ---------------------------------------------------------------------------------------------
// Context and clock

// Every test gets its own context (ctest runs each discovered test in its own process anyway)
// and a clock at time 0 with the show's tempo.
class GLTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Reopens the context with another framebuffer size (pictures).
    void reopen(int width, int height);
};

// Sets the demo clock the way the clock step would leave it.
void set_clock(uint32_t aika_ms, uint32_t tahdit_bars);
// The bar number the clock step derives from a time.
uint32_t bars_at(uint32_t aika_ms);
// The beat length: 60000 / 124 held in single precision.
float beat_ms();

// The render state start-up leaves (SDL and the logo texture aside): perspective projection,
// smooth shading, depth test, colour material, light 1 at (5, 5, 20) in eye coordinates,
// two-sided lighting, clear and fog colour, linear fog, source-alpha blending, identity modelview.
void startup_render_state(float aspect);

// ---------------------------------------------------------------------------------------------
// Small double-precision vector and matrix model of the fixed-function transforms

struct Vec3 {
    double x = 0, y = 0, z = 0;
};
Vec3 operator+(Vec3 a, Vec3 b);
Vec3 operator-(Vec3 a, Vec3 b);
Vec3 operator*(double s, Vec3 a);
double dot(Vec3 a, Vec3 b);
double length(Vec3 a);

struct Mat4 {
    // Column-major, as GL stores it: m[column * 4 + row].
    std::array<double, 16> m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

    static Mat4 translate(double x, double y, double z);
    static Mat4 scale(double x, double y, double z);
    // glRotate: degrees about an axis that is normalised first; a zero axis means no rotation.
    static Mat4 rotate(double degrees, double x, double y, double z);
    static Mat4 from_gl(const float *gl);

    Mat4 operator*(const Mat4 &o) const;
    Vec3 point(Vec3 p) const;     // w = 1
    Vec3 direction(Vec3 d) const; // w = 0
};

Mat4 current_modelview();
Mat4 current_projection();
std::array<float, 16> modelview_floats();

// ---------------------------------------------------------------------------------------------
// The box: six faces of four corners each, with the top-face scale s.

// Corner c (0..3) of face f (0..5), in table order.
Vec3 box_corner(int face, int corner, float s);
Vec3 box_normal(int face);
// Whether corner c of face f is a top corner (y = +1).
bool is_top_corner(int face, int corner);

// ---------------------------------------------------------------------------------------------
// Feedback capture

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

// A box is six quads. Boxes [first, first + count) of a capture made only of boxes.
using FbBox = std::array<FbQuad, 6>;
std::vector<FbBox> boxes_of(const std::vector<FbTriangle> &tris, size_t first_box = 0,
                            size_t count = SIZE_MAX);

// The mean of the box's 24 corners: the centre of any box drawn from the table with s = 1 under
// an affine transform (and, for s != 1, the image of the local mean (0, 0, 0)).
Vec3 centroid(const FbBox &box);
// Axis-aligned extent of the corners.
void bounds(const FbBox &box, Vec3 *lo, Vec3 *hi);

// Every corner of `box` equals M applied to the table's corner (top-face scale s), within
// tol * max(1, |expected|), or within abs_tol if that is larger.
::testing::AssertionResult box_matches(const FbBox &box, const Mat4 &M, float s, double tol,
                                       double abs_tol = 0);
// Every top corner has colour `top` and every bottom corner colour `bottom`, within tol.
::testing::AssertionResult box_colours(const FbBox &box, std::array<float, 4> top,
                                       std::array<float, 4> bottom, double tol);

// ---------------------------------------------------------------------------------------------
// GL state queries

std::array<float, 4> get4(unsigned pname);
float get1(unsigned pname);
int geti(unsigned pname);

// ---------------------------------------------------------------------------------------------
// Pictures

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba; // bottom row first, as read back
};
// The colour buffer of the current context.
Picture read_picture();
// Writes the picture (top row first) as an 8-bit RGBA PNG under the build's artefacts folder;
// returns the path written.
std::string save_artefact(const Picture &pic, const std::string &name);
// Number of distinct RGB colours in the picture.
size_t distinct_colours(const Picture &pic);
// Fraction of the pixels whose RGB differs from the given colour by more than 2 in any channel.
double fraction_unlike(const Picture &pic, std::array<uint8_t, 3> rgb);

// A whole frame at the given clock: the clear colour of the previous frame, the clear, the
// camera, blending off, then `scene`, as the timeline composes a frame.
Picture render_frame(uint32_t aika_ms, uint32_t tahdit_bars, float aspect,
                     const std::function<void()> &scene);
