/* A preload library for the benchmarks. It only measures: every watched call is forwarded to the
 * real SDL, SDL_image, SDL_mixer or GLU function with its own arguments and result, and nothing
 * is written while the show runs; the records stay in memory and are written when SDL is shut
 * down (or at process exit if it never is).
 *
 * Environment:
 *   BENCH_LOG        file the records are written to (nothing is recorded without it):
 *                      exec_ns N             the launcher's CLOCK_MONOTONIC just before it spawned
 *                                            the program (from BENCH_EXEC_NS, when given)
 *                      loaded_ns N           this library's constructor: dynamic loading done
 *                      phase NAME START END  a start-up call, CLOCK_MONOTONIC ns around it
 *                      alkuaika TICK NS      the start tick and when it was read
 *                      frame AIKA END SWAP   per buffer swap: the frame's demo time (ms), the
 *                                            time the swap returned and the ns spent in it
 *                      quit_ns N             SDL_Quit called
 *   BENCH_EXEC_NS    see exec_ns
 *   BENCH_FIRST_SWAP file created right after the first buffer swap returned, so a launcher
 *                    that only wants start-up can end the run (with SIGTERM, a quit request)
 *
 * The demo time of a frame follows the clock step, as tests/support/preload.h finds it.
 *
 * Under valgrind's callgrind the library also cuts the profile into parts by dumping the
 * counters: "startup" when the start tick is read, "first-frame" after the first swap, then one
 * dump per section of the show
 * (taken at the swap after which the next frame's bar number enters a new section, and for the
 * last section at SDL_Quit). A frame's section comes from its bar number, which the clock step
 * derives from the previous frame's demo time.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#define PRELOAD_NAME "bench probe"
#include "../tests/support/preload.h"

#if defined(__has_include)
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define HAVE_CALLGRIND 1
#endif
#endif

typedef struct SDL_Surface SDL_Surface;
typedef struct SDL_RWops SDL_RWops;
typedef struct _Mix_Music Mix_Music;

/* One bar in ms: four single-precision beats of 60000 / 124. */
#define BAR_MS (4.0 * (double)(60000.0f / 124.0f))
#define MAX_FRAMES (1 << 20)
#define MAX_PHASES 32

struct frame {
    uint32_t aika;
    uint32_t swap_ns;
    int64_t end_ns;
};

struct phase {
    const char *name;
    int64_t start, end;
};

static struct frame frames[MAX_FRAMES];
static unsigned long nframes = 0;
static struct phase phases[MAX_PHASES];
static int nphases = 0;
static int64_t loaded_ns = 0, alku_ns = 0, quit_ns = 0;
static int sdl_seen = 0, written = 0;
static int section = 0;

/* The system call itself, not the C library's clock_gettime: a run sped up by a time-faking preload
 * library is still timed in real time. */
static int64_t now_ns(void) {
    struct timespec ts;
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

static void add_phase(const char *name, int64_t start, int64_t end) {
    if (nphases < MAX_PHASES)
        phases[nphases++] = (struct phase){name, start, end};
}

/* 0: movement one before bar 20; 1: bars 20 to 31; 2: movement two. */
static int section_of_bar(uint32_t bar) {
    return bar < 20 ? 0 : bar < 32 ? 1 : 2;
}

static const char *const section_names[3] = {"m1-before-bar20", "m1-from-bar20", "m2"};

static void dump(const char *what) {
#ifdef HAVE_CALLGRIND
    CALLGRIND_DUMP_STATS_AT(what);
#else
    (void)what;
#endif
}

static void write_log(void) {
    const char *path = getenv("BENCH_LOG");
    if (written || !sdl_seen || !path)
        return;
    written = 1;
    FILE *f = fopen(path, "w");
    if (!f)
        return;
    const char *exec = getenv("BENCH_EXEC_NS");
    if (exec)
        fprintf(f, "exec_ns %s\n", exec);
    fprintf(f, "loaded_ns %lld\n", (long long)loaded_ns);
    for (int i = 0; i < nphases; i++)
        fprintf(f, "phase %s %lld %lld\n", phases[i].name, (long long)phases[i].start,
                (long long)phases[i].end);
    if (show_clock.started)
        fprintf(f, "alkuaika %u %lld\n", show_clock.alkuaika, (long long)alku_ns);
    for (unsigned long i = 0; i < nframes; i++)
        fprintf(f, "frame %u %lld %u\n", frames[i].aika, (long long)frames[i].end_ns,
                frames[i].swap_ns);
    if (quit_ns)
        fprintf(f, "quit_ns %lld\n", (long long)quit_ns);
    fclose(f);
}

__attribute__((constructor)) static void probe_loaded(void) {
    loaded_ns = now_ns();
}

__attribute__((destructor)) static void probe_unloaded(void) {
    write_log();
}

/* A start-up call, forwarded and timed (the real function looked up before): its result. */
#define TIMED(fn, ...)                                                                             \
    ({                                                                                             \
        __typeof__(fn) *real_ = REAL(fn);                                                          \
        int64_t start_ = now_ns();                                                                 \
        __auto_type result_ = real_(__VA_ARGS__);                                                  \
        add_phase(#fn, start_, now_ns());                                                          \
        result_;                                                                                   \
    })

int SDL_Init(uint32_t flags) {
    note_main_thread();
    sdl_seen = 1;
    return TIMED(SDL_Init, flags);
}

SDL_Surface *SDL_SetVideoMode(int w, int h, int bpp, uint32_t flags) {
    return TIMED(SDL_SetVideoMode, w, h, bpp, flags);
}

SDL_Surface *IMG_LoadPNG_RW(SDL_RWops *rw) {
    return TIMED(IMG_LoadPNG_RW, rw);
}

int gluBuild2DMipmaps(unsigned target, int components, int w, int h, unsigned format, unsigned type,
                      const void *data) {
    return TIMED(gluBuild2DMipmaps, target, components, w, h, format, type, data);
}

int Mix_OpenAudio(int freq, uint16_t format, int channels, int chunk) {
    return TIMED(Mix_OpenAudio, freq, format, channels, chunk);
}

Mix_Music *Mix_LoadMUS(const char *path) {
    return TIMED(Mix_LoadMUS, path);
}

int Mix_PlayMusic(Mix_Music *m, int loops) {
    return TIMED(Mix_PlayMusic, m, loops);
}

int Mix_SetMusicPosition(double position) {
    int rc = TIMED(Mix_SetMusicPosition, position);
    music_positioned();
    return rc;
}

/* The start tick: the show's clock starts here. */
static void start_tick(uint32_t alkuaika) {
    (void)alkuaika;
    alku_ns = now_ns();
    dump("startup");
}

void SDL_GL_SwapBuffers(void) {
    void (*swap)(void) = REAL(SDL_GL_SwapBuffers);
    uint32_t reading = clock_reading();
    int64_t t = now_ns();
    swap();
    int64_t end = now_ns();
    uint32_t aika;
    if (!frame_demo_time(reading, &aika))
        return;
    if (nframes < MAX_FRAMES) {
        frames[nframes] = (struct frame){aika, (uint32_t)(end - t), end};
        if (nframes == 0) {
            /* The first frame compiles the driver's code for every state it meets: apart. */
            dump("first-frame");
            const char *marker = getenv("BENCH_FIRST_SWAP");
            if (marker) {
                int fd = open(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
                if (fd >= 0)
                    close(fd);
            }
        }
        nframes++;
        /* The next frame's bar number comes from this frame's demo time. */
        int next = section_of_bar((uint32_t)(aika / BAR_MS));
        if (next != section) {
            dump(section_names[section]);
            section = next;
        }
    }
}

void SDL_Quit(void) {
    quit_ns = now_ns();
    if (show_clock.started)
        dump(section_names[section]);
    REAL(SDL_Quit)();
    write_log();
}
