// A small double-precision vector and matrix model of the fixed-function transforms, and the
// matrices GL holds, read back into it.
#pragma once
#include <array>

namespace vt {

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

} // namespace vt
