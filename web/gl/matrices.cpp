// The modelview and projection stacks in single precision, the GL matrix calls and the GLU
// camera calls on top of them.
#include <GL/glu.h>

#include "layer.h"
#include "matrix_math.h"

namespace {

const int MODELVIEW_DEPTH = 32; // the depths GL guarantees
const int PROJECTION_DEPTH = 2;

struct Stack {
    float matrices[MODELVIEW_DEPTH][16];
    int depth;
    int top;
};

Stack stacks[2] = {{{}, MODELVIEW_DEPTH, 0}, {{}, PROJECTION_DEPTH, 0}};
Stack *current = &stacks[0];
uint32_t version = 1;
bool ready = false;

// Both stacks start as one identity matrix.
void make_ready() {
    if (ready)
        return;
    for (Stack &s : stacks)
        vgl::set_identity(s.matrices[0]);
    ready = true;
}

// The top of the current stack, for a call that changes it.
float *top() {
    make_ready();
    ++version;
    return current->matrices[current->top];
}

} // namespace

namespace vgl {

const float *modelview() {
    make_ready();
    return stacks[0].matrices[stacks[0].top];
}
const float *projection() {
    make_ready();
    return stacks[1].matrices[stacks[1].top];
}
uint32_t matrix_version() {
    return version;
}

} // namespace vgl

extern "C" {

void glMatrixMode(GLenum mode) {
    if (mode == GL_MODELVIEW || mode == GL_PROJECTION)
        current = &stacks[mode == GL_PROJECTION ? 1 : 0];
    else
        vgl::set_error(GL_INVALID_ENUM);
}

void glLoadIdentity() {
    vgl::set_identity(top());
}

void glPushMatrix() {
    float *m = top();
    if (current->top + 1 >= current->depth) {
        vgl::set_error(GL_STACK_OVERFLOW);
        return;
    }
    float *above = current->matrices[++current->top];
    for (int i = 0; i < 16; ++i)
        above[i] = m[i];
}

void glPopMatrix() {
    top();
    if (current->top == 0)
        vgl::set_error(GL_STACK_UNDERFLOW);
    else
        --current->top;
}

void glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
    vgl::translate(top(), x, y, z);
}

void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z) {
    vgl::rotate(top(), angle, x, y, z);
}

void glScalef(GLfloat x, GLfloat y, GLfloat z) {
    vgl::scale(top(), x, y, z);
}

void glMultMatrixf(const GLfloat *m) {
    float *t = top();
    vgl::multiply(t, t, m);
}

void gluPerspective(GLdouble fovy, GLdouble aspect, GLdouble z_near, GLdouble z_far) {
    vgl::perspective(top(), fovy, aspect, z_near, z_far);
}

void gluLookAt(GLdouble eye_x, GLdouble eye_y, GLdouble eye_z, GLdouble center_x, GLdouble center_y,
               GLdouble center_z, GLdouble up_x, GLdouble up_y, GLdouble up_z) {
    vgl::look_at(top(), eye_x, eye_y, eye_z, center_x, center_y, center_z, up_x, up_y, up_z);
}

} // extern "C"
