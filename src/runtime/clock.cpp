// The demo clock, the tempo grid and the music. The clock follows SDL's millisecond ticks and
// never the music's position: music and clock start together and then run free.
#include <cstdio>

#include <SDL.h>

#include "runtime/runtime.h"

namespace {
const char *const MUSIIKKI = "data/ruvo_megasong_bpm_124c.ogg";
const char *const OTSIKKO = "Korvek - Vellamor";
} // namespace

uint32_t aika = 0;
uint32_t tahdit = 0;
uint32_t alkuaika = 0;
uint32_t aika_phase = 0;
uint32_t aika_sync = 0;
float bpm = 0.0f;
float interval = 0.0f;
uint32_t kulunut_aika = 0;
int32_t frame_time = 0;
int32_t average_frame_time = 0;
int32_t frames_drawn = 0;
uint32_t uusi_aika = 0;
uint32_t vanha_aika = 0;
Mix_Music *music = nullptr;

void laske_kulunut_aika() {
    vanha_aika = uusi_aika;
    // Spin, without sleeping, until the tick differs from the previous step's reading.
    while (vanha_aika == uusi_aika)
        uusi_aika = SDL_GetTicks();

    kulunut_aika = uusi_aika - vanha_aika;
    frame_time = static_cast<int32_t>(kulunut_aika);
    average_frame_time =
        static_cast<int32_t>(static_cast<uint32_t>(average_frame_time) + kulunut_aika);

    tahdit = tahdit_ajassa(aika); // still the previous step's time

    // A second, fresh reading; unsigned arithmetic wraps modulo 2^32.
    aika = SDL_GetTicks() - alkuaika + aika_phase + aika_sync;
}

uint32_t tahdit_ajassa(uint32_t hetki) {
    // Divided in double precision: a single-precision quotient would put the bar-31 line at
    // 60000 instead of 60000.00049. 4 x interval is exact in double.
    const double tahti = 4.0 * static_cast<double>(interval);
    return static_cast<uint32_t>(static_cast<double>(hetki) / tahti);
}

void aseta_tempo() {
    bpm = 124.0f;
    interval = 60000.0f / bpm; // divided and held in single precision: 483.8709716796875
}

void demoinit() {
    setWindow(OTSIKKO);
    frames_drawn = 0;
    aseta_tempo();
    alusta_audio();
    if (Mix_PlayMusic(music, 0) == -1) {
        printf("Unable to play Ogg file: %s\n", SDL_GetError());
        fflush(stdout);
    }
    setMusicPos(0.0);
}

void alusta_audio() {
    Mix_OpenAudio(44100, AUDIO_S16LSB, 2, 256);
    music = kelpaa_luettavaksi(MUSIIKKI) ? Mix_LoadMUS(MUSIIKKI) : nullptr;
    if (!music) {
        printf("Unable to load Ogg file: %s\n", SDL_GetError());
        fflush(stdout);
    }
}

void setMusicPos(double position) {
    Mix_RewindMusic();
    if (Mix_SetMusicPosition(position - aika_sync / 1000.0) == -1) {
        printf("Mix_SetMusicPosition: %s\n", SDL_GetError());
        fflush(stdout);
    }
}

void toimi() {
    frames_drawn = frames_drawn + 1;
}
