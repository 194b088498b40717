// The timeline: what is on screen when. One frame is a clear, the camera, the scenes of the
// current movement and its overlays, then the swap.
#include <GL/gl.h>
#include <SDL.h>

#include "direction/direction.h"
#include "draw/draw.h"
#include "runtime/runtime.h"
#include "scenes/scenes.h"

namespace {

const uint32_t LIIKE1_LOPPUU = 31;  // last bar of movement one
const uint32_t LIIKE2_LOPPUU = 199; // last bar of movement two

// An overlay's start on the beat grid: the single-precision beat times a factor, formed in
// double and truncated toward zero (beat 100 gives 48387, not 48387.097).
int32_t iskulla(double iskuja) {
    return static_cast<int32_t>(interval * iskuja);
}

} // namespace

void taivas() {}

void piirra() {
    // The clear comes before the camera, so the background is the previous frame's colour.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    kamera();
    glDisable(GL_BLEND);

    if (tahdit <= LIIKE1_LOPPUU) {
        kaupunki();
        taivas();
        logo_fade_out(iskulla(100), 8000);
        toinen_fade_in(0, 6000);
        toinen_fade_out(iskulla(4 * 30), 6000);
    } else if (tahdit <= LIIKE2_LOPPUU) {
        planebumps();
        quadswarm();
        floating_kaari();
        toinen_fade_out(iskulla(240), 12000);
    }

    if (kaksoispuskurointi != 0)
        SDL_GL_SwapBuffers();
}
