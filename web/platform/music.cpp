// The SDL_mixer calls of the show, in the browser: the browser's own SDL_mixer decodes a file
// only after it has been asked to play it, and cannot rewind or position it. These play the
// music that the page has decoded beforehand (music.js), at once and from where they are asked;
// the demo clock moves with it.
#include <SDL.h>
#include <SDL_mixer.h>

extern "C" {
int vellamor_music_open(void);
int vellamor_music_load(const char *path);
void vellamor_music_play(int handle, double position);
void vellamor_music_stop(void);
}

struct _Mix_Music {
    int handle;
};

namespace {
Mix_Music *playing = nullptr;
}

extern "C" {

int Mix_OpenAudio(int, Uint16, int, int) {
    if (vellamor_music_open() != 0) {
        SDL_SetError("the page has not started its audio");
        return -1;
    }
    return 0;
}

Mix_Music *Mix_LoadMUS(const char *file) {
    const int handle = vellamor_music_load(file);
    if (handle == 0) {
        if (vellamor_music_open() != 0)
            SDL_SetError("the page plays without sound");
        else
            SDL_SetError("%s was not decoded (missing, or not audio this browser plays)", file);
        return nullptr;
    }
    return new Mix_Music{handle};
}

int Mix_PlayMusic(Mix_Music *music, int) {
    if (!music) {
        SDL_SetError("music parameter was NULL");
        return -1;
    }
    playing = music;
    vellamor_music_play(music->handle, 0.0);
    return 0;
}

int Mix_SetMusicPosition(double position) {
    if (!playing) {
        SDL_SetError("Music isn't playing");
        return -1;
    }
    vellamor_music_play(playing->handle, position < 0.0 ? 0.0 : position);
    return 0;
}

void Mix_RewindMusic(void) {
    Mix_SetMusicPosition(0.0);
}

int Mix_HaltMusic(void) {
    vellamor_music_stop();
    playing = nullptr;
    return 0;
}

} // extern "C"
