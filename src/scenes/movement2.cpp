// Movement two: the field of bobbing two-coloured boxes, the swarm of translucent quads and
// the floating arc. Values said to be single precision are stored as floats at that point and
// used in that form from there on; everything else is evaluated in double.
#include <cmath>
#include <cstdint>

#include <GL/gl.h>

#include "draw/draw.h"
#include "runtime/runtime.h"
#include "scenes/scenes.h"

namespace {
const int KENTTA = 10;         // cells per row and rows
const int PARVI = 120;         // quads in the swarm
const uint32_t KIERTO = 20000; // ms for a quad to cross the swarm
} // namespace

void planebumps() {
    const double t = aika;
    const float a = static_cast<float>((t - interval * 4.0 * 32.0) / 5800.0);
    // The product is rounded to single before the single-precision maximum, so the floor is
    // 0.3f exactly and g never quite reaches 0.
    const float nousu = static_cast<float>(-(a - 5.0) * 0.3);
    const float b = std::fmax(nousu, 0.3f);
    const float g = static_cast<float>(b - 0.3);
    const float o = static_cast<float>(g / 2.0 + 0.5);
    // The shade is carried from cell to cell in visiting order, across rows too.
    float c = static_cast<float>((1.0 - sin(t / 1200.0)) * 0.5);

    for (int i = 0; i < KENTTA; ++i) {
        for (int j = 0; j < KENTTA; ++j) {
            glPushMatrix();
            const float h = ((i ^ j) & 1) ? -b : b;
            const float x = static_cast<float>(2.5 * j - 10.0);
            const float y = static_cast<float>(0.1 * sin(i * j + t / 1200.0) * (1.3 * c) + 2.5 * h);
            const float z = static_cast<float>(-2.5 * i - a);
            glTranslatef(x, y, z);
            if (h < 0.0f)
                glScalef(-1.0f, -1.0f, -1.0f); // a point reflection: upside down, winding reversed
            const float sx = static_cast<float>(1.0 + 0.1 * sin(i * j));
            const float sy = static_cast<float>(0.8 + 0.5 * cos(j + 0.9 * i * j));
            glScalef(sx, sy, 1.0f);

            c = static_cast<float>((1.0 - sin(t / 1200.0 + 550 * (i + 1) * j)) * 0.8 * g);
            const float yla_r = static_cast<float>((0.05 * c + 0.32) * o);
            const float yla_g = static_cast<float>(0.22 * o);
            const float yla_b = static_cast<float>(0.15 * o);
            const float ala_r = static_cast<float>((0.2 * c + 0.52) * o + (1.0 - o));
            const float ala_gb = static_cast<float>((0.42 - 0.1 * c) * o + (1.0 - o));
            colorCube(1.0f, yla_r, yla_g, yla_b, ala_r, ala_gb, ala_gb);
            glPopMatrix();
        }
    }
}

void quadswarm() {
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);

    const double t = aika;
    for (int i = 0; i < PARVI; ++i) {
        const float sini95 = sinf(static_cast<float>(95 * i));
        const int32_t k = static_cast<int32_t>(sini95 * 100000.0);
        // Unsigned 32-bit: a sum below zero wraps modulo 2^32 before the remainder.
        const uint32_t q = (static_cast<uint32_t>(k) + aika) % KIERTO;
        const float e = static_cast<float>(q / 1000.0 - 15.0);
        const float alpha =
            static_cast<float>(0.2 * (0.5 * sin(t / 4000.0 + 98 * i) - 1.0) + (e / 20.0 + 1.0));
        const float x = static_cast<float>(cosf(static_cast<float>(95 * i)) + (0.15 * i - 7.0));
        const float y = static_cast<float>(sinf(static_cast<float>(50 * i)) * 1.5);
        const float spin = static_cast<float>(sini95 * 0.7 * (t * 0.1) + 31.2 * i);

        glColor4f(0.8f, 0.7f, 0.6f, alpha);
        glPushMatrix();
        glTranslatef(x, y, e);
        glRotatef(spin, 0.2f, 0.2f, 0.3f);
        glScalef(0.05f, 0.05f, 0.05f);
        glBegin(GL_QUADS);
        glVertex3f(-1.0f, 1.0f, 0.0f);
        glVertex3f(1.0f, 1.0f, 0.0f);
        glVertex3f(1.0f, -1.0f, 0.0f);
        glVertex3f(-1.0f, -1.0f, 0.0f);
        glEnd();
        glPopMatrix();
    }

    glColor4f(0.9f, 0.1f, 0.05f, 1.0f);
    glEnable(GL_LIGHTING);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_BLEND);
}

void floating_kaari() {
    glPushMatrix();
    glTranslatef(0.0f, 4.0f, -20.0f);
    glRotatef(static_cast<float>(aika / 900.0 - 32.0), 0.9f, 0.1f, 0.2f);
    kaari();
    glPopMatrix();
}

void planet() {
    glPushMatrix();
    glTranslatef(0.0f, -5.0f, 0.0f);
    glScalef(70.0f, 0.25f, 70.0f);
    cube();
    glPopMatrix();

    glPushMatrix();
    glTranslatef(0.0f, 55.0f, 0.0f);
    glScalef(70.0f, 50.25f, 70.0f);
    cube();
    glPopMatrix();
}
