// The city of movement one: two floors of random boxes, the row of pyramids, the arc of five
// boxes, then the towers. The floors' layout comes from the standard library's generator,
// re-seeded with the same value every frame, so it never changes between frames.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <GL/gl.h>

#include "draw/draw.h"
#include "runtime/runtime.h"
#include "scenes/scenes.h"

namespace {
const unsigned SIEMEN = 1234;
const int RIVIN_AUKKO = 6; // the empty place of the row of pyramids, at x = -4
} // namespace

void kaupunki() {
    lattia();

    glPushMatrix();
    glTranslatef(0.0f, 0.0f, -37.5f);
    glRotatef(90.0f, 0.0f, 1.0f, 0.0f);
    lattia();
    glPopMatrix();

    // A single-precision counter; the gap keeps its matrix calls.
    for (float k = 0.0f; k < 10.0f; k += 1.0f) {
        glPushMatrix();
        glTranslatef(static_cast<float>(6.0 * k - 40.0), 5.0f,
                     static_cast<float>(25.0 * sin(k) - 30.0));
        glRotatef(static_cast<float>(370.0 * k), 0.0f, 1.0f, 0.0f);
        glScalef(5.0f, 5.0f, 5.0f);
        if (k != RIVIN_AUKKO)
            colorCube(0.0f, 0.85f, 0.34f, 0.17f, 0.25f, 0.1f, 0.05f);
        glPopMatrix();
    }

    kaari();
    talot();
}

void lattia() {
    srand(SIEMEN);
    for (int i = 4; i <= 149; ++i) {
        glPushMatrix();
        const double a = (150 - i) / 40.0;
        glColor3f(static_cast<float>(0.045 / sqrt(a)), static_cast<float>(0.01 / sqrt(a)), 0.0f);

        // The y scale steps from 1.05 to 0.05 at i = 21: q is a truncating integer division.
        const int q = (150 - i) / 130;
        const float leveys = static_cast<float>(1000.0 / (i * i));
        glScalef(leveys, static_cast<float>(q + 0.05), leveys);

        // Both numbers are drawn for every box, drawn or not, so later boxes keep their places.
        const int e = rand();
        const int f = rand();
        // In scaled units: the translation comes after the scale.
        glTranslatef(static_cast<float>(i * (e % 100) / 100.0 - i / 2.0),
                     static_cast<float>(i / 20.0 - 5.0),
                     static_cast<float>(i * (f % 100) / 100.0 - i / 2.0));
        if (e > 20)
            cube();
        glPopMatrix();
    }
}

void kaari() {
    srand(SIEMEN);

    // The fade toward grey from bar 53: the cube in double, the quotient rounded to single
    // before the last division.
    const double ero = (static_cast<double>(aika) - 212.0 * interval) / 10.0;
    const float m = static_cast<float>(std::max(ero, 0.0));
    const double kuutio = static_cast<double>(m) * m * m;
    const float osamaara = static_cast<float>(kuutio / 12500.0 / 5.0 / 30.0);
    const float g = std::fmax(osamaara / 30.0f, 1.0f);
    const double h = 0.5 * (1.0 - 1.0 / g);

    for (int i = 0; i < 5; ++i) {
        glPushMatrix();
        glTranslatef(0.0f, 1.0f, 0.0f);
        glRotatef(static_cast<float>(50 * i), 0.0f, 0.0f, 1.0f);
        glColor3f(static_cast<float>(0.65 / g + h), static_cast<float>(0.05 / g + h),
                  static_cast<float>(h));
        glScalef(0.5f, 0.5f, 0.5f);
        glTranslatef(3.0f, 0.0f, 0.0f);
        cube();
        glPopMatrix();
    }
}
