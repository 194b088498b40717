#include "gl_harness/matrices.h"

#include <cmath>

#include <GL/gl.h>

namespace vt {

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

} // namespace vt
