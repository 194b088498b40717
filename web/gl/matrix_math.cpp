// The matrix arithmetic of the GL layer. Every operation keeps the order of a desktop driver's
// single-precision arithmetic term by term (sums left to right, no fused multiply-adds), because
// a last-bit difference in a matrix moves edges and shading in the picture.
#include "matrix_math.h"

#include <cmath>

namespace vgl {

namespace {

const double PI = 3.14159265358979323846;

float &at(float m[16], int row, int col) {
    return m[col * 4 + row];
}
float at(const float m[16], int row, int col) {
    return m[col * 4 + row];
}

// Normalises in place in single precision; a zero vector stays as it is.
void normalize(float v[3]) {
    const float r = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (r == 0.0f)
        return;
    v[0] /= r;
    v[1] /= r;
    v[2] /= r;
}

void cross(const float a[3], const float b[3], float out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

} // namespace

void set_identity(float m[16]) {
    for (int i = 0; i < 16; ++i)
        m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

void multiply(float product[16], const float a[16], const float b[16]) {
    for (int i = 0; i < 4; ++i) {
        const float ai0 = at(a, i, 0), ai1 = at(a, i, 1), ai2 = at(a, i, 2), ai3 = at(a, i, 3);
        for (int j = 0; j < 4; ++j)
            at(product, i, j) =
                ai0 * at(b, 0, j) + ai1 * at(b, 1, j) + ai2 * at(b, 2, j) + ai3 * at(b, 3, j);
    }
}

void translate(float m[16], float x, float y, float z) {
    for (int i = 0; i < 4; ++i)
        m[12 + i] = m[i] * x + m[4 + i] * y + m[8 + i] * z + m[12 + i];
}

void scale(float m[16], float x, float y, float z) {
    for (int i = 0; i < 4; ++i) {
        m[i] *= x;
        m[4 + i] *= y;
        m[8 + i] *= z;
    }
}

void rotate(float m[16], float angle, float x, float y, float z) {
    // The sine and cosine of the angle in radians formed in double, taken in single precision.
    const float s = std::sin(static_cast<float>(angle * PI / 180.0));
    const float c = std::cos(static_cast<float>(angle * PI / 180.0));
    float r[16];
    set_identity(r);
    // A rotation about a coordinate axis is built from s and c alone, exactly.
    if (x == 0.0f && y == 0.0f && z != 0.0f) {
        at(r, 0, 0) = c;
        at(r, 1, 1) = c;
        at(r, 0, 1) = z < 0.0f ? s : -s;
        at(r, 1, 0) = z < 0.0f ? -s : s;
    } else if (x == 0.0f && z == 0.0f && y != 0.0f) {
        at(r, 0, 0) = c;
        at(r, 2, 2) = c;
        at(r, 0, 2) = y < 0.0f ? -s : s;
        at(r, 2, 0) = y < 0.0f ? s : -s;
    } else if (y == 0.0f && z == 0.0f && x != 0.0f) {
        at(r, 1, 1) = c;
        at(r, 2, 2) = c;
        at(r, 1, 2) = x < 0.0f ? s : -s;
        at(r, 2, 1) = x < 0.0f ? -s : s;
    } else {
        const float mag = std::sqrt(x * x + y * y + z * z);
        if (mag <= 1.0e-4f)
            return; // no axis, no rotation
        x /= mag;
        y /= mag;
        z /= mag;
        const float xx = x * x, yy = y * y, zz = z * z;
        const float xy = x * y, yz = y * z, zx = z * x;
        const float xs = x * s, ys = y * s, zs = z * s;
        const float one_c = 1.0f - c;
        at(r, 0, 0) = (one_c * xx) + c;
        at(r, 0, 1) = (one_c * xy) - zs;
        at(r, 0, 2) = (one_c * zx) + ys;
        at(r, 1, 0) = (one_c * xy) + zs;
        at(r, 1, 1) = (one_c * yy) + c;
        at(r, 1, 2) = (one_c * yz) - xs;
        at(r, 2, 0) = (one_c * zx) - ys;
        at(r, 2, 1) = (one_c * yz) + xs;
        at(r, 2, 2) = (one_c * zz) + c;
    }
    multiply(m, m, r);
}

void perspective(float m[16], double fovy, double aspect, double z_near, double z_far) {
    // All in double, then each element taken to single precision as glMultMatrixd takes it.
    const double radians = fovy / 2 * PI / 180;
    const double delta_z = z_far - z_near;
    const double sine = std::sin(radians);
    if (delta_z == 0 || sine == 0 || aspect == 0)
        return;
    const double cotangent = std::cos(radians) / sine;
    float p[16] = {};
    p[0] = static_cast<float>(cotangent / aspect);
    p[5] = static_cast<float>(cotangent);
    p[10] = static_cast<float>(-(z_far + z_near) / delta_z);
    p[11] = -1.0f;
    p[14] = static_cast<float>(-2 * z_near * z_far / delta_z);
    multiply(m, m, p);
}

void look_at(float m[16], double eye_x, double eye_y, double eye_z, double center_x,
             double center_y, double center_z, double up_x, double up_y, double up_z) {
    // The differences in double, the rest of the frame in single precision.
    float forward[3] = {static_cast<float>(center_x - eye_x), static_cast<float>(center_y - eye_y),
                        static_cast<float>(center_z - eye_z)};
    float up[3] = {static_cast<float>(up_x), static_cast<float>(up_y), static_cast<float>(up_z)};
    float side[3];
    normalize(forward);
    cross(forward, up, side);
    normalize(side);
    cross(side, forward, up);
    float v[16];
    set_identity(v);
    for (int i = 0; i < 3; ++i) {
        at(v, 0, i) = side[i];
        at(v, 1, i) = up[i];
        at(v, 2, i) = -forward[i];
    }
    multiply(m, m, v);
    translate(m, static_cast<float>(-eye_x), static_cast<float>(-eye_y),
              static_cast<float>(-eye_z));
}

bool normal_matrix(const float m[16], float n[9]) {
    // The determinant summed as positive and negative parts, then the cofactors times its
    // reciprocal, all in single precision.
    const float terms[6] = {
        at(m, 0, 0) * at(m, 1, 1) * at(m, 2, 2),  at(m, 1, 0) * at(m, 2, 1) * at(m, 0, 2),
        at(m, 2, 0) * at(m, 0, 1) * at(m, 1, 2),  -at(m, 2, 0) * at(m, 1, 1) * at(m, 0, 2),
        -at(m, 1, 0) * at(m, 0, 1) * at(m, 2, 2), -at(m, 0, 0) * at(m, 2, 1) * at(m, 1, 2)};
    float pos = 0.0f, neg = 0.0f;
    for (float t : terms)
        (t >= 0.0f ? pos : neg) += t;
    float det = pos + neg;
    if (std::fabs(det) < 1e-25f)
        return false;
    det = 1.0f / det;
    float inv[3][3];
    inv[0][0] = (at(m, 1, 1) * at(m, 2, 2) - at(m, 2, 1) * at(m, 1, 2)) * det;
    inv[0][1] = -(at(m, 0, 1) * at(m, 2, 2) - at(m, 2, 1) * at(m, 0, 2)) * det;
    inv[0][2] = (at(m, 0, 1) * at(m, 1, 2) - at(m, 1, 1) * at(m, 0, 2)) * det;
    inv[1][0] = -(at(m, 1, 0) * at(m, 2, 2) - at(m, 2, 0) * at(m, 1, 2)) * det;
    inv[1][1] = (at(m, 0, 0) * at(m, 2, 2) - at(m, 2, 0) * at(m, 0, 2)) * det;
    inv[1][2] = -(at(m, 0, 0) * at(m, 1, 2) - at(m, 1, 0) * at(m, 0, 2)) * det;
    inv[2][0] = (at(m, 1, 0) * at(m, 2, 1) - at(m, 2, 0) * at(m, 1, 1)) * det;
    inv[2][1] = -(at(m, 0, 0) * at(m, 2, 1) - at(m, 2, 0) * at(m, 0, 1)) * det;
    inv[2][2] = (at(m, 0, 0) * at(m, 1, 1) - at(m, 1, 0) * at(m, 0, 1)) * det;
    // A GLSL mat3 is column-major, so the transposed inverse is the inverse listed by rows.
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            n[r * 3 + c] = inv[r][c];
    return true;
}

void transform(const float m[16], const float p[4], float out[4]) {
    for (int i = 0; i < 4; ++i)
        out[i] = m[i] * p[0] + m[4 + i] * p[1] + m[8 + i] * p[2] + m[12 + i] * p[3];
}

} // namespace vgl
