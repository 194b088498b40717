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
#include "frame_clock.h"
#include "runtime/runtime.h"

namespace {

const uint32_t STILL_FPS = 60; // the capture's clock, for a still without an explicit --after

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

// One frame as the frame loop draws it after a clock step from `previous` to `now`.
void draw_at(uint32_t previous, uint32_t now) {
    tahdit = capture::bar_after(previous);
    aika = now;
    toimi();
    piirra();
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
    const auto at = capture::parse_time(time, &why);
    if (!at)
        return why.c_str();
    start_up();
    bpm = 124.0f; // the tempo, as the demo's start sets it
    interval = 60000.0f / bpm;

    uint32_t before = 0, previous = 0, now = 0;
    bool two_frames = true;
    if (after && *after) {
        const auto then = capture::parse_time(after, &why);
        if (!then)
            return why.c_str();
        if (*at > 4.0e9 || *then > 4.0e9)
            return (why = std::string(time) + " is beyond the show").c_str();
        previous = static_cast<uint32_t>(*then + 0.5);
        now = static_cast<uint32_t>(*at + 0.5);
        if (previous > now)
            return (why = "after=" + std::string(after) + " comes after " + time).c_str();
        // The frame before the previous one at the same spacing decides only its bar number;
        // the show ends after the first frame past the last bar.
        const uint32_t step = now - previous;
        before = previous >= step ? previous - step : 0;
        if (capture::bar_after(before) > capture::LAST_BAR)
            return (why = std::string(time) + " is beyond the show").c_str();
    } else {
        const capture::FrameClock clock(STILL_FPS);
        const uint64_t n = clock.nearest_frame(*at);
        if (n > clock.end_frame())
            return (why = std::string(time) + " is beyond the show").c_str();
        two_frames = n > 0;
        before = n >= 2 ? clock.aika(n - 2) : 0;
        previous = n >= 1 ? clock.aika(n - 1) : 0;
        now = clock.aika(n);
    }
    if (two_frames)
        draw_at(before, previous); // its clear colour is the one this frame shows
    draw_at(previous, now);
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
