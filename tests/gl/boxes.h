// The box the meshes are made of, as a model: six faces of four corners each with the top-face
// scale s, and the boxes of a feedback capture compared with it.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "gl_harness/feedback.h"
#include "gl_harness/matrices.h"

namespace vt {

// Corner c (0..3) of face f (0..5), in table order.
Vec3 box_corner(int face, int corner, float s);
Vec3 box_normal(int face);
// Whether corner c of face f is a top corner (y = +1).
bool is_top_corner(int face, int corner);

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

} // namespace vt
