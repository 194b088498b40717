// The runtime frame: start-up, event pump, exit handler, the demo clock and the music.
#pragma once
#include <cstdint>

#include <SDL_mixer.h>

// Exit code interpreted by the exit handler, and the double-buffer flag read back from SDL.
extern int32_t virhe;
extern int32_t kaksoispuskurointi;

void alusta();
// The fixed render state of start-up (projection, depth, light, colour material, fog, blending),
// set on the current GL context; `alusta` calls it once the video mode is set.
void aseta_piirtotila();
int32_t hoida_viestit();
void lopetusfunktio();
void setWindow(const char *title);
char *LoadShaderSource(const char *path);

// Messages are best effort: a closed or vanished standard output must not end the show.
void suojaa_viestit();
// False, with SDL's error set, when the path names something other than a regular file (after
// following symbolic links), which a loader must not open; true otherwise, missing files too.
bool kelpaa_luettavaksi(const char *polku);

// The demo clock. Everything on screen is a function of `aika` and `tahdit`.
extern uint32_t aika;       // milliseconds since `alkuaika`
extern uint32_t tahdit;     // whole bars in the previous clock step's `aika`
extern uint32_t alkuaika;   // SDL tick at playback start
extern uint32_t aika_phase; // offsets added to the demo time, 0 for the whole run
extern uint32_t aika_sync;
extern float bpm;      // 124
extern float interval; // beat length in ms, 60000 / 124 in single precision
extern uint32_t kulunut_aika;
extern int32_t frame_time;
extern int32_t average_frame_time;
extern int32_t frames_drawn;
extern uint32_t uusi_aika; // latest tick reading of the clock step's wait
extern uint32_t vanha_aika;
extern Mix_Music *music;

void laske_kulunut_aika();
// The bar number a clock step derives from `hetki`, the previous step's demo time: whole bars of
// 4 x `interval`, truncated. Needs the tempo set.
uint32_t tahdit_ajassa(uint32_t hetki);
// The tempo: `bpm` 124 and the beat length `interval` from it. The demo start sets it; anything
// that draws the show without the demo start calls it too.
void aseta_tempo();
void demoinit();
void alusta_audio();
void setMusicPos(double position);
void toimi();

// One pass of the frame loop: event pump, clock step, action step, frame, end test. Says whether
// the show goes on, the viewer asked to quit, or the frame just drawn was the last.
enum class Kierros { jatkuu, lopetettu, loppui };
Kierros kierros();
// What follows a clock step in every frame, in the show's order: the action step, then the
// frame composed and shown.
void toimi_ja_piirra();
