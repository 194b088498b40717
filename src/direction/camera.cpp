// The camera and the air: projection, the three camera paths, the clear colour and the fog.
// A pure function of `aika` and `tahdit`; nothing is kept from frame to frame but the fog
// colour last handed to GL.
#include <algorithm>
#include <cmath>

#include <GL/gl.h>
#include <GL/glu.h>

#include "build_constants.h"
#include "direction/direction.h"
#include "runtime/runtime.h"

namespace {
const uint32_t POLKU2_ALKAA = 10; // bar of the cut to path 2
const uint32_t POLKU3_ALKAA = 32; // bar of the cut to path 3
} // namespace

float newFogColor[4] = {0.0f, 0.0f, 0.0f, 0.0f};

void setFogColor(float r, float g, float b, float a) {
    newFogColor[0] = r;
    newFogColor[1] = g;
    newFogColor[2] = b;
    newFogColor[3] = a;
    glFogfv(GL_FOG_COLOR, newFogColor);
}

void kamera() {
    const double t = aika; // exact: an unsigned 32-bit value fits a double
    const double iv = interval;

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, static_cast<double>(LEVEYS) / KORKEUS, 0.1, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    // The darkening of movement one, all in single precision.
    const float d = std::fmax(0.0f, static_cast<float>(t - 80.0 * iv)) / 450000.0f;
    const float r = std::fmax(0.0f, 0.2f - d);
    const float g = std::fmax(0.0f, 0.1f - d);
    const float b = std::fmax(0.0f, 0.05f - d);
    glClearColor(r, g, b, 1.0f);
    setFogColor(r, g, b, 1.0f);

    glFogf(GL_FOG_DENSITY, 0.35f);
    glHint(GL_FOG_HINT, GL_NICEST);
    glFogf(GL_FOG_START, 1.0f);
    glFogf(GL_FOG_END, 60.0f);

    if (tahdit < POLKU2_ALKAA) {
        // Path 1: the eye sways around (1, 2, 1), all in double precision.
        gluLookAt(1.0 + cos(t / 4800.0), 2.0 + sin(t / 4200.0), 1.0, 0.0, 2.2, 0.0, 0.0, 1.0, 0.0);
    } else if (tahdit < POLKU3_ALKAA) {
        // Path 2: drifting back through the city, the look-at point rising from beat 96.
        const double s = sqrt((t - 40.0 * iv + 800.0) / 10.0);
        const float a =
            static_cast<float>(0.001 * std::fmax(0.0f, static_cast<float>(t - 96.0 * iv)));
        const double eye_x = -5.0 - cos(t / 1700.0) + 0.0001 * (t - 40.0 * iv);
        const double eye_y = 4.5 - sqrt(static_cast<double>(static_cast<float>(t / 4000.0)));
        const double eye_z = 2.0 - t / 1200.0 - 10.0 / s;
        gluLookAt(eye_x, eye_y, eye_z, 0.0, 2.0 + 0.6 * a * a, 0.0, 0.0, 1.0, 0.0);
    } else {
        // Path 3: rolling, and from beat 168 rising and running along -z.
        const double m = std::max(0.0, t - 168.0 * iv);
        const float eye_y = powf(static_cast<float>(0.00012 * m), 1.3f);
        const float eye_z = static_cast<float>(1.0 - pow(0.0003 * m, 1.3));
        const float centre_z = static_cast<float>(-0.5 * m);
        const float roll = static_cast<float>(t / 20000.0 + 45.0);
        gluLookAt(0.0, eye_y, eye_z, 0.0, 0.0, centre_z, cosf(roll), sinf(roll), 0.0);

        glClearColor(0.2f, 0.05f, 0.01f, 1.0f);
        setFogColor(0.2f, 0.05f, 0.01f, 1.0f);
        glFogf(GL_FOG_START, 1.0f);
        glFogf(GL_FOG_END, 30.0f);
    }
}
