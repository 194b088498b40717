// The matrix arithmetic of the GL layer, in single precision as a desktop GL driver keeps its
// matrices, and the two GLU camera matrices as the desktop GLU computes them. Plain C++ with no
// GL calls, so that the same code can be checked against a real driver. Matrices are 16 floats,
// column-major, as GL takes them.
#pragma once

namespace vgl {

void set_identity(float m[16]);
// product = a * b; product may be a, not b.
void multiply(float product[16], const float a[16], const float b[16]);
// m = m * T, m * S, m * R, as glTranslatef, glScalef and glRotatef do.
void translate(float m[16], float x, float y, float z);
void scale(float m[16], float x, float y, float z);
void rotate(float m[16], float angle, float x, float y, float z);
// m = m * P and m = m * V, as gluPerspective and gluLookAt do.
void perspective(float m[16], double fovy, double aspect, double z_near, double z_far);
void look_at(float m[16], double eye_x, double eye_y, double eye_z, double center_x,
             double center_y, double center_z, double up_x, double up_y, double up_z);
// The matrix that takes normals to eye space: the inverse of the upper 3x3 of m, transposed,
// laid out for a GLSL mat3. False when m is singular.
bool normal_matrix(const float m[16], float n[9]);
// out = m * p for a 4-component point.
void transform(const float m[16], const float p[4], float out[4]);

} // namespace vgl
