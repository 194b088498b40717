// The box meshes every scene is built from, in immediate mode. The corner order of each face
// is part of the look: with two-sided lighting it decides which side is lit with the normal.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <GL/gl.h>

#include "draw/draw.h"
#include "runtime/runtime.h"

namespace {

struct Kulma {
    float x, y, z;
};

// The six faces of the unit box: the normal, then four corners. A corner with y = +1 belongs
// to the top and has x and z multiplied by the top-face scale.
struct Tahko {
    float nx, ny, nz;
    Kulma kulmat[4];
};

const Tahko LAATIKKO[6] = {
    {0, 0, -1, {{-1, 1, -1}, {1, 1, -1}, {1, -1, -1}, {-1, -1, -1}}},
    {0, 0, 1, {{-1, 1, 1}, {1, 1, 1}, {1, -1, 1}, {-1, -1, 1}}},
    {-1, 0, 0, {{-1, 1, 1}, {-1, 1, -1}, {-1, -1, -1}, {-1, -1, 1}}},
    {0, 1, 0, {{1, 1, 1}, {1, 1, -1}, {-1, 1, -1}, {-1, 1, 1}}},
    {1, 0, 0, {{1, 1, 1}, {1, 1, -1}, {1, -1, -1}, {1, -1, 1}}},
    {0, -1, 0, {{1, -1, 1}, {1, -1, -1}, {-1, -1, -1}, {-1, -1, 1}}},
};

const float PYRAMIDI[4][3][3] = {
    {{-1, -1, 1}, {0, -1, -1}, {1, -1, 1}},
    {{-1, -1, 1}, {0, -1, -1}, {0, 1, 0}},
    {{0, -1, -1}, {1, -1, 1}, {0, 1, 0}},
    {{-1, -1, 1}, {1, -1, 1}, {0, 1, 0}},
};

// One corner after the face's normal. A top corner's ±1 becomes ±s, so -s is the negation
// of s and s = 1 gives the plain box bit for bit.
void kulma(const Tahko &tahko, const Kulma &k, float s) {
    glNormal3f(tahko.nx, tahko.ny, tahko.nz);
    if (k.y > 0.0f)
        glVertex3f(k.x > 0.0f ? s : -s, k.y, k.z > 0.0f ? s : -s);
    else
        glVertex3f(k.x, k.y, k.z);
}

void tahko(const Tahko &t, float s) {
    for (const Kulma &k : t.kulmat)
        kulma(t, k, s);
}

} // namespace

void cube() {
    cube2(1.0f);
}

void cube2(float s) {
    glBegin(GL_QUADS);
    for (const Tahko &t : LAATIKKO)
        tahko(t, s);
    glEnd();
}

void colorCube(float s, float r1, float g1, float b1, float r2, float g2, float b2) {
    glBegin(GL_QUADS);
    for (int f = 0; f < 6; ++f) {
        const Tahko &t = LAATIKKO[f];
        for (int c = 0; c < 4; ++c) {
            // The ten switches: top colour before corner 1 of faces 1 to 5, bottom colour
            // before corner 3 of faces 1, 2, 3 and 5 and before corner 1 of face 6.
            const bool pohja = f == 5;
            const bool katto = f == 3;
            if (c == 0)
                pohja ? glColor3f(r2, g2, b2) : glColor3f(r1, g1, b1);
            else if (c == 2 && !pohja && !katto)
                glColor3f(r2, g2, b2);
            kulma(t, t.kulmat[c], s);
        }
    }
    glEnd();
}

void pyramid() {
    glBegin(GL_TRIANGLES);
    for (const auto &kolmio : PYRAMIDI)
        for (const auto &k : kolmio)
            glVertex3f(k[0], k[1], k[2]);
    glEnd();
}

void cubeboom() {
    // Whole degrees from 100 ms after the start of bar 55; the difference is formed in double,
    // so an earlier time gives a negative value that the single-precision maximum clamps.
    const float d = static_cast<float>((static_cast<double>(aika) - interval * 4.0 * 55.0) / 100.0);
    const int kulma_asteina = static_cast<int>(std::fmax(d, 0.0f));
    for (const Tahko &t : LAATIKKO) {
        glPushMatrix();
        const float z = static_cast<float>((rand() % 100) / 100.0 - 0.5);
        const float y = static_cast<float>((rand() % 100) / 100.0 - 0.5);
        const float x = static_cast<float>((rand() % 100) / 100.0 - 0.5);
        glRotatef(static_cast<float>(kulma_asteina), x, y, z);
        glBegin(GL_QUADS);
        tahko(t, 1.0f);
        glEnd();
        glPopMatrix();
    }
}
