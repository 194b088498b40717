/* What the project's preload libraries share (the benchmarks' probe, the end-to-end tests' shim):
 * the real function behind each watched call, and the show's clock followed through the calls of
 * its main thread. A library includes this once, in its one source file, after defining
 * PRELOAD_NAME (its name in messages); the header defines the watched SDL_GetTicks, which calls the
 * library's own start_tick() when the start tick is read.
 *
 * The demo time of a frame follows the clock step: the first SDL_GetTicks of the main thread after
 * Mix_SetMusicPosition is the start tick `alkuaika`, and the last SDL_GetTicks of the main thread
 * before a buffer swap is the clock step's fresh reading, so `aika` of the frame is that reading
 * minus `alkuaika`, an unsigned difference as in the show.
 */
#ifndef VELLAMOR_PRELOAD_H
#define VELLAMOR_PRELOAD_H

#include <dlfcn.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#ifndef PRELOAD_NAME
#error "define PRELOAD_NAME before including preload.h"
#endif

/* The real function behind a watched one, looked up once: REAL(SDL_Quit)(). */
#define REAL(fn)                                                                                   \
    ({                                                                                             \
        static __typeof__(fn) *real_fn_ = NULL;                                                    \
        if (!real_fn_)                                                                             \
            real_fn_ = (__typeof__(fn) *)real_function(#fn);                                       \
        real_fn_;                                                                                  \
    })

static void *real_function(const char *name) {
    void *f = dlsym(RTLD_NEXT, name);
    if (!f) {
        fprintf(stderr, "%s: no %s\n", PRELOAD_NAME, name);
        abort();
    }
    return f;
}

static struct {
    pthread_t main_thread;
    int have_main_thread;
    int armed;   /* Mix_SetMusicPosition has been called: the next reading is the start tick */
    int started; /* the start tick has been read */
    uint32_t alkuaika, last_ticks;
} show_clock;

/* Called by the library's SDL_Init: the thread that starts SDL is the show's main thread. */
static void note_main_thread(void) {
    if (!show_clock.have_main_thread) {
        show_clock.main_thread = pthread_self();
        show_clock.have_main_thread = 1;
    }
}

static int on_main_thread(void) {
    return show_clock.have_main_thread && pthread_equal(pthread_self(), show_clock.main_thread);
}

/* Called by the library's Mix_SetMusicPosition after the real one. */
static void music_positioned(void) {
    if (on_main_thread())
        show_clock.armed = 1;
}

/* The clock step's latest reading; taken before a buffer swap, it is the swapped frame's. */
static uint32_t clock_reading(void) {
    return show_clock.last_ticks;
}

/* The demo time of a frame whose clock reading was `reading`, in *aika; 0 when the swap is not the
 * main thread's or the show's clock has not started. */
static int frame_demo_time(uint32_t reading, uint32_t *aika) {
    if (!on_main_thread() || !show_clock.started)
        return 0;
    *aika = reading - show_clock.alkuaika;
    return 1;
}

static void start_tick(uint32_t alkuaika);

uint32_t SDL_GetTicks(void) {
    uint32_t t = REAL(SDL_GetTicks)();
    if (on_main_thread()) {
        show_clock.last_ticks = t;
        if (show_clock.armed && !show_clock.started) {
            show_clock.alkuaika = t;
            show_clock.started = 1;
            start_tick(t);
        }
    }
    return t;
}

#endif
