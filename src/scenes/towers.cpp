// The ten towers of the city: a dark base under a spire of three tapering blocks. They turn
// and breathe from the start; from a beat of its own each spire lifts off and tumbles apart.
#include <algorithm>
#include <cmath>

#include <GL/gl.h>

#include "draw/draw.h"
#include "runtime/runtime.h"
#include "scenes/scenes.h"

// Per tower index j: x offsets, z offsets, scales.
const float ttalot[12] = {-5, 0, 5, -17, 0, -7, 18, 30, 1, 1.2f, 3, 6};
// Per group: (x, z).
const float ttalojenpaikat[6] = {0, 0, 10, 10, -20, -30};

namespace {
const int RYHMIA = 3;
const int TORNEJA = 3; // per group; group 0 has one more
const int KAATUVA = 3; // the tower index whose blocks tumble from the start

// Narrower, taller, higher: one step of a spire block.
void askel(int n) {
    glScalef(static_cast<float>(1.0 - n / 8.0), static_cast<float>(1.0 + n / 3.0),
             static_cast<float>(1.0 - n / 8.0));
    glTranslatef(0.0f, static_cast<float>(0.4 * sqrt(n)), 0.0f);
}
} // namespace

void vari() {
    glColor3f(0.8f, 0.3f, 0.2f);
}

void talot() {
    for (int ryhma = 0; ryhma < RYHMIA; ++ryhma) {
        const int torneja = TORNEJA + (ryhma == 0 ? 1 : 0);
        for (int j = 0; j < torneja; ++j) {
            const float s = ttalot[8 + j];
            glPushMatrix();
            glTranslatef(ttalot[j] + ttalojenpaikat[2 * ryhma], 1.0f,
                         ttalot[4 + j] + ttalojenpaikat[2 * ryhma + 1]);
            glScalef(s, static_cast<float>(s + sin(aika / 10000.0 + 4 * j) / 5.0), s);
            glRotatef(static_cast<float>(aika / 300.0), 0.0f, 1.0f, 0.0f);
            talo(j);
            glPopMatrix();
        }
    }
}

void talo(int32_t a) {
    glPushMatrix();
    glColor3f(0.12f, 0.0266667f, 0.0f);
    glTranslatef(0.0f, -3.0f, 0.0f);
    glScalef(2.0f, 2.0f, 2.0f);
    cube();
    glPopMatrix();

    vari();

    // The drift: a floating-point difference, so a time before the mark clamps to 0 instead of
    // wrapping; clamped in single, the 1.5th power in double, kept in single.
    const double ero = static_cast<double>(aika) - (6 * a + 44) * static_cast<double>(interval);
    const float alku = std::fmax(static_cast<float>(ero), 0.0f);
    const float b = static_cast<float>(pow(alku * 0.0002, 1.5));

    for (int i = 0; i < 3; ++i) {
        if (a == KAATUVA) {
            // Nothing is restored between blocks: the turns compound.
            askel(i);
            glRotatef(static_cast<float>(aika / 1000.0), 1.0f, 0.0f, 0.0f);
            cube2(0.8f);
            continue;
        }
        // The lift stays on the matrix for the blocks above.
        glTranslatef(0.0f, static_cast<float>(0.4 * b * (i + 1)), 0.0f);
        glPushMatrix();
        glRotatef(b * b, static_cast<float>(sin(1.8 * (a + i))),
                  static_cast<float>(sin(2.3 * (a + i))), static_cast<float>(sin(1.3 * (i - a))));
        for (int n = 0; n <= i; ++n)
            askel(n);
        cube2(0.8f);
        glPopMatrix();
    }
}
