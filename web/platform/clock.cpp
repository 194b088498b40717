// SDL's millisecond ticks in the browser: during a run, the position of the show itself, as the
// page's music keeps it (music.js); between runs, the page's clock.
//
// The show reads its demo time as SDL_GetTicks() - alkuaika, and its clock step waits until the
// ticks differ from the previous step's reading. Making the ticks the music's position (with
// alkuaika 0) lets that unchanged step read the sound's own time every frame: the picture
// cannot drift from the music, a stall or a jump is followed at the next frame, and a pause
// holds the ticks. The alternative, emscripten's wall-clock ticks with alkuaika moved under
// the show to match the music, would rewrite the show's state from outside every frame.
// Held ticks would make that wait spin forever, so the frame loop (main.cpp) runs a pass only
// once the ticks have moved.
#include <cmath>

#include <SDL.h>
#include <emscripten.h>

extern "C" {
double vellamor_clock_ms(void);

Uint32 SDL_GetTicks(void) {
    const double position = vellamor_clock_ms();
    if (position < 0.0)
        return static_cast<Uint32>(std::fmod(std::floor(emscripten_get_now()), 4294967296.0));
    return static_cast<Uint32>(std::floor(position));
}
}
