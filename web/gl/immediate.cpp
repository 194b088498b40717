// Immediate mode: the current colour, normal and texture coordinate, kept for every vertex, and
// the primitives between glBegin and glEnd, sent as triangles. A quad (0, 1, 2, 3) becomes the
// triangles (0, 1, 3) and (1, 2, 3), the split a desktop driver makes: the other diagonal would
// shade and rasterise a non-planar or unevenly coloured quad differently.
#include <vector>

#include "layer.h"

namespace {

vgl::Vertex current = {{0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 1.0f}, {0, 0}};
GLenum primitive = 0; // 0 outside glBegin/glEnd
std::vector<vgl::Vertex> corners;
std::vector<vgl::Vertex> triangles;

} // namespace

extern "C" {

void glBegin(GLenum mode) {
    if (primitive != 0 || (mode != GL_QUADS && mode != GL_TRIANGLES)) {
        vgl::set_error(primitive != 0 ? GL_INVALID_OPERATION : GL_INVALID_ENUM);
        return;
    }
    primitive = mode;
    corners.clear();
}

void glEnd() {
    if (primitive == 0) {
        vgl::set_error(GL_INVALID_OPERATION);
        return;
    }
    triangles.clear();
    if (primitive == GL_TRIANGLES) {
        triangles.assign(corners.begin(), corners.end() - corners.size() % 3);
    } else {
        static const int SPLIT[6] = {0, 1, 3, 1, 2, 3};
        for (size_t q = 0; q + 4 <= corners.size(); q += 4)
            for (int i : SPLIT)
                triangles.push_back(corners[q + i]);
    }
    primitive = 0;
    if (!triangles.empty())
        vgl::draw_triangles(triangles.data(), static_cast<int>(triangles.size()));
}

void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
    if (primitive == 0)
        return; // a vertex outside glBegin/glEnd draws nothing
    current.position[0] = x;
    current.position[1] = y;
    current.position[2] = z;
    corners.push_back(current);
}

void glVertex2f(GLfloat x, GLfloat y) {
    glVertex3f(x, y, 0.0f);
}

void glColor4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a) {
    current.color[0] = r;
    current.color[1] = g;
    current.color[2] = b;
    current.color[3] = a;
}

void glColor3f(GLfloat r, GLfloat g, GLfloat b) {
    glColor4f(r, g, b, 1.0f);
}

void glNormal3f(GLfloat x, GLfloat y, GLfloat z) {
    current.normal[0] = x;
    current.normal[1] = y;
    current.normal[2] = z;
}

void glTexCoord2f(GLfloat s, GLfloat t) {
    current.texcoord[0] = s;
    current.texcoord[1] = t;
}

} // extern "C"
