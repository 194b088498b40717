// The browser edition's entry points. The page sets the show up while it loads
// (vellamor_prepare), starts a run after the viewer's click (vellamor_start), pauses, resumes
// and jumps within it, or draws one moment of the show for a link (vellamor_still). A run is
// the show's own demo start, then one pass of the frame loop per animation frame, until the
// viewer quits or the show is over; then the page shows its start screen again. The demo clock
// is the music's position (clock.cpp); every jump, and a pause, lands on the frame that the
// capture program's still draws at that moment, and the run goes on from there.
#include <cstdio>
#include <optional>
#include <string>

#include <GL/gl.h>
#include <SDL.h>
#include <SDL_mixer.h>
#include <emscripten.h>
#include <webgl/webgl1.h>

#include "direction/direction.h"
#include "moment/moment.h"
#include "runtime/runtime.h"

extern "C" void vellamor_clock_seek(double at);
extern "C" void vellamor_music_pause_resume(int pause);

namespace {

bool prepared = false;
bool in_run = false;

const moment::FrameClock &still_frames() {
    static const moment::FrameClock clock(moment::STILL_FPS);
    return clock;
}

// The show's start-up, once per page.
void prepare() {
    if (!prepared) {
        alusta();
        prepared = true;
    }
}

// Draws `still` and puts the clock on its time, so that the next pass steps on from it: the
// next clock step derives its bar from this frame's time, and waits for ticks past it.
void land_on(const moment::Still &still) {
    moment::draw_still(still);
    vellamor_clock_seek(still.now);
    uusi_aika = SDL_GetTicks();
}

std::optional<moment::Still> still_at(double ms, std::string *why) {
    return moment::still_clock(ms, std::nullopt, still_frames(), why);
}

void end_run(Kierros how) {
    if (!in_run)
        return;
    emscripten_cancel_main_loop();
    Mix_HaltMusic();
    in_run = false;
    EM_ASM({ Module.vellamorEnded($0); }, how == Kierros::loppui);
}

void pass() {
    // Ticks that have not moved (paused, or the sound of a new position not yet heard) would
    // hold the clock step's wait for ever; the frame on screen stays instead.
    if (SDL_GetTicks() == uusi_aika)
        return;
    const Kierros tila = kierros();
    if (tila != Kierros::jatkuu)
        end_run(tila);
}

} // namespace

extern "C" {

// The show's start-up while the page loads, with its first frame drawn unseen, so that the
// viewer's click waits for neither.
EMSCRIPTEN_KEEPALIVE void vellamor_prepare() {
    prepare();
    std::string why;
    if (const auto first = still_at(0.0, &why))
        moment::draw_still(*first);
}

// A run from the start of the show, or from the moment `from` (as a still link names it).
// Gives null, or why the run did not start.
EMSCRIPTEN_KEEPALIVE const char *vellamor_start(const char *from) {
    static std::string why;
    std::string text = from ? from : "";
    const auto still = moment::still_clock(text.empty() ? "0" : text, "", still_frames(), &why);
    if (!still)
        return why.c_str();
    prepare();
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        // keys pressed on the start screen are not meant for this run
    }
    demoinit();
    // The ticks are the show's position itself.
    alkuaika = 0;
    in_run = true;
    land_on(*still);
    emscripten_set_main_loop(pass, 0, 0);
    return nullptr;
}

// A jump within the run to the frame of the still clock nearest to `ms`; gives the frame's time.
EMSCRIPTEN_KEEPALIVE double vellamor_seek(double ms) {
    if (!in_run)
        return -1.0;
    std::string why;
    const double last = still_frames().aika(still_frames().end_frame());
    auto still = still_at(ms < 0.0 ? 0.0 : ms > last ? last : ms, &why);
    if (!still)
        return -1.0;
    land_on(*still);
    return still->now;
}

// Pause holds picture and music on the still clock's frame nearest to where the music was;
// resume plays on from it.
EMSCRIPTEN_KEEPALIVE void vellamor_pause() {
    if (!in_run)
        return;
    vellamor_music_pause_resume(1);
    vellamor_seek(SDL_GetTicks());
}
EMSCRIPTEN_KEEPALIVE void vellamor_resume() {
    if (in_run)
        vellamor_music_pause_resume(0);
}

// The viewer's quit (Escape, or the page giving up): the run ends before its next pass, as the
// show's own loop ends on a quit request, with no clock step and no frame after it.
EMSCRIPTEN_KEEPALIVE void vellamor_quit() {
    if (in_run)
        end_run(Kierros::lopetettu);
}

// The drawing buffer has been resized: the frames fill it, as the capture's frames of another
// size do (the projection keeps the show's aspect). A paused run's frame is drawn again.
EMSCRIPTEN_KEEPALIVE void vellamor_resized(int width, int height) {
    emscripten_glViewport(0, 0, width, height);
    if (in_run && EM_ASM_INT({ return Module.vellamorMusic.running ? 1 : 0; }) == 0)
        vellamor_seek(SDL_GetTicks());
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
    prepare();
    moment::draw_still(*still);
    return nullptr;
}

// The seek bar's marks and the time shown beside it: the time of a bar line, the show's
// length, its bars and the bar where movement two begins.
EMSCRIPTEN_KEEPALIVE double vellamor_bar_ms(uint32_t bar) {
    return moment::beat_ms(4.0 * bar);
}
EMSCRIPTEN_KEEPALIVE double vellamor_length_ms() {
    return still_frames().aika(still_frames().end_frame());
}
EMSCRIPTEN_KEEPALIVE uint32_t vellamor_last_bar() {
    return moment::LAST_BAR;
}
EMSCRIPTEN_KEEPALIVE uint32_t vellamor_movement_two_bar() {
    return moment::MOVEMENT_TWO_BAR;
}
// The position `ms` as bar:beat (whole beats counted from 0, as still links write them).
EMSCRIPTEN_KEEPALIVE const char *vellamor_bar_beat(double ms) {
    static char text[24];
    const uint32_t at = ms <= 0.0 ? 0 : static_cast<uint32_t>(ms);
    const uint32_t bar = moment::bar_after(at);
    const double beat = (at - moment::beat_ms(4.0 * bar)) / moment::beat_ms(1.0);
    snprintf(text, sizeof text, "%u:%d", bar, beat < 0.0 ? 0 : beat >= 3.0 ? 3 : int(beat));
    return text;
}

// For the tests: the demo time of the last frame, and GL's error flag.
EMSCRIPTEN_KEEPALIVE uint32_t vellamor_aika() {
    return aika;
}
EMSCRIPTEN_KEEPALIVE unsigned vellamor_gl_error() {
    return glGetError();
}

} // extern "C"
