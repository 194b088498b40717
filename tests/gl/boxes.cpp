#include "boxes.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace vt {

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

} // namespace vt
