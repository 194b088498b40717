// The browser edition's entry points. The page starts a run after the viewer's click and the
// music's decoding (vellamor_start), or draws one moment of the show for a link
// (vellamor_still). A run is the show's own start-up, demo start and start tick, then one pass
// of the frame loop per animation frame, until the viewer quits or the show is over; then the
// page shows its start screen again.
#include <string>

#include <GL/gl.h>
#include <SDL.h>
#include <SDL_mixer.h>
#include <emscripten.h>

#include "direction/direction.h"
#include "moment/moment.h"
#include "runtime/runtime.h"

namespace {

bool started_up = false;

// The show's start-up once per page; later runs only take the clock back to where start-up
// leaves it, counted from now.
void start_up() {
    if (!started_up) {
        alusta();
        started_up = true;
        return;
    }
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        // keys pressed on the start screen are not meant for this run
    }
    aika = 0;
    alkuaika = SDL_GetTicks();
    laske_kulunut_aika();
}

void pass() {
    const Kierros tila = kierros();
    if (tila == Kierros::jatkuu)
        return;
    emscripten_cancel_main_loop();
    Mix_HaltMusic();
    EM_ASM({ Module.vellamorEnded($0); }, tila == Kierros::loppui);
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE void vellamor_start() {
    start_up();
    demoinit();
    alkuaika = SDL_GetTicks();
    emscripten_set_main_loop(pass, 0, 0);
}

// A quit request, as closing the window gives one (the page sends it when the viewer leaves
// full screen).
EMSCRIPTEN_KEEPALIVE void vellamor_quit() {
    SDL_Event quit = {};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
}

// Draws the frame at demo time `time` after a frame at `after` (or, without it, the frame of
// the 60 fps capture clock nearest to `time`, after the frame before it), exactly as the
// capture program's still does. Times as the capture takes them: 61936, 61.9s or 32:0.
// Gives null, or why nothing was drawn.
EMSCRIPTEN_KEEPALIVE const char *vellamor_still(const char *time, const char *after) {
    static std::string why;
    const auto still =
        moment::still_clock(time, after ? after : "", moment::FrameClock(moment::STILL_FPS), &why);
    if (!still)
        return why.c_str();
    start_up();
    moment::draw_still(*still);
    return nullptr;
}

// For the tests: the demo time of the last frame and of this moment, and GL's error flag.
EMSCRIPTEN_KEEPALIVE uint32_t vellamor_aika() {
    return aika;
}
EMSCRIPTEN_KEEPALIVE uint32_t vellamor_clock_now() {
    return SDL_GetTicks() - alkuaika + aika_phase + aika_sync;
}
EMSCRIPTEN_KEEPALIVE unsigned vellamor_gl_error() {
    return glGetError();
}

} // extern "C"
