/* A preload library for the end-to-end tests: it watches the real programs at the library boundary
 * and forwards every call to the real SDL, SDL_mixer and SDL_image functions unchanged.
 *
 * Environment (all optional; without any of them the library only forwards):
 *   E2E_TRACE_LOG   file to which one line per watched call is appended: "SDL_Init 0x31 -> 0",
 *                   "SDL_WM_SetCaption Korvek - Vellamor", "Mix_OpenAudio 44100 0x8010 2 256 -> 0",
 *                   "SDL_Quit"; before "SDL_Quit", "swaps N" (buffer swaps so far) and
 *                   "last frames A B C" (the demo times of the last three frames swapped) ...
 *   E2E_HOLD_DIR    start-up hold: the first SDL_PollEvent after a successful SDL_SetVideoMode (the
 *                   first drain of start-up) creates HOLD_DIR/reached and waits (at most 60 s) for
 *                   HOLD_DIR/go before it polls, so a test can queue X events for the show's window
 *                   while start-up is known not to have drained the event queue yet.
 *   E2E_LOG_EVENTS  when set, every event that SDL_PollEvent hands to the program is logged too:
 *                   "event SDL_KEYDOWN sym 27 @S", "event SDL_KEYUP sym 27 @S", "event SDL_QUIT @S",
 *                   "event N @S", where S is the number of buffer swaps before the event.
 *   E2E_SHOT_DIR and E2E_SHOT_TIMES (comma-separated demo times in ms, ascending): after the
 *                   buffer swap of the first frame whose demo time is at least the next time and
 *                   whose bar number came from a demo time at least that (the previous frame's; a
 *                   time of 0 takes the very first frame), the library flushes X, writes
 *                   SHOT_DIR/shot-I (its text: "AIKA PREVIOUS", the demo times of the frame and of the
 *                   frame before it, -1 for none) and waits (at most 60 s) for SHOT_DIR/shot-I.done
 *                   while the frame stays on screen.
 *   E2E_GL_MARKERS  when set, the GL calls that SDL makes itself are marked in a GL trace with
 *                   string markers (glStringMarkerGREMEDY, which apitrace records whether or not
 *                   the driver has it): "SDL end" after a successful SDL_SetVideoMode, and
 *                   "SDL begin" and "SDL end" around each later SDL_GL_GetAttribute and buffer swap.
 *                   Everything up to the first "SDL end" and between each pair is SDL's (an SDL 1.2
 *                   over SDL 2 draws through a framebuffer of its own, cleared and blitted in the
 *                   swap).
 *
 * The demo time of a frame is found from the order of the clock step's calls, as
 * tests/support/preload.h says.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#define PRELOAD_NAME "e2e_shim"
#include "../support/preload.h"

typedef struct SDL_Surface SDL_Surface;
typedef struct _Mix_Music Mix_Music;
typedef struct _XDisplay Display;

static int log_fd = -2;
static unsigned long swaps = 0;
static int shot_index = 0;
static int video_up = 0, polled = 0;
static unsigned long frames_seen = 0;
static uint32_t frame_aika[3]; /* demo times of the last three frames swapped, newest last */

static void logf_(const char *fmt, ...) {
    if (log_fd == -2) {
        const char *path = getenv("E2E_TRACE_LOG");
        log_fd = path ? open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
    }
    if (log_fd < 0)
        return;
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(line, sizeof line - 1, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    if (n > (int)sizeof line - 2)
        n = sizeof line - 2;
    line[n++] = '\n';
    ssize_t w = write(log_fd, line, n);
    (void)w;
}

/* Sleeps in real time: faketime may speed the clock up, so wait with the raw system call. */
static void real_sleep_ms(long ms) {
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    syscall(SYS_nanosleep, &ts, NULL);
}

static int wait_for_file(const char *path, long timeout_ms) {
    struct stat st;
    for (long waited = 0; waited < timeout_ms; waited += 5) {
        if (stat(path, &st) == 0)
            return 1;
        real_sleep_ms(5);
    }
    return 0;
}

static void write_file(const char *path, const char *text) {
    char tmp[4200];
    snprintf(tmp, sizeof tmp, "%s.tmp", path);
    int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return;
    ssize_t w = write(fd, text, strlen(text));
    (void)w;
    close(fd);
    rename(tmp, path);
}

int SDL_Init(uint32_t flags) {
    note_main_thread();
    int rc = REAL(SDL_Init)(flags);
    logf_("SDL_Init 0x%x -> %d", flags, rc);
    return rc;
}

void SDL_Quit(void) {
    logf_("swaps %lu", swaps);
    if (frames_seen >= 3)
        logf_("last frames %u %u %u", frame_aika[0], frame_aika[1], frame_aika[2]);
    logf_("SDL_Quit");
    REAL(SDL_Quit)();
}

void SDL_WM_SetCaption(const char *title, const char *icon) {
    logf_("SDL_WM_SetCaption %s|%s", title ? title : "(null)", icon ? icon : "(null)");
    REAL(SDL_WM_SetCaption)(title, icon);
}

int SDL_ShowCursor(int toggle) {
    int rc = REAL(SDL_ShowCursor)(toggle);
    logf_("SDL_ShowCursor %d -> %d", toggle, rc);
    return rc;
}

static void gl_marker(const char *text) {
    static void (*marker)(int, const void *) = NULL;
    static int looked = 0;
    if (!looked) {
        looked = 1;
        void *(*get)(const unsigned char *) =
            getenv("E2E_GL_MARKERS") ? (void *(*)(const unsigned char *))dlsym(
                                           RTLD_DEFAULT, "glXGetProcAddressARB")
                                     : NULL;
        if (get)
            marker =
                (void (*)(int, const void *))get((const unsigned char *)"glStringMarkerGREMEDY");
    }
    if (marker && video_up)
        marker((int)strlen(text), text);
}

SDL_Surface *SDL_SetVideoMode(int w, int h, int bpp, uint32_t flags) {
    SDL_Surface *s = REAL(SDL_SetVideoMode)(w, h, bpp, flags);
    logf_("SDL_SetVideoMode %d %d %d 0x%x -> %s", w, h, bpp, flags, s ? "ok" : "null");
    if (s) {
        video_up = 1;
        gl_marker("SDL end");
    }
    return s;
}

int SDL_GL_GetAttribute(int attribute, int *value) {
    gl_marker("SDL begin");
    int rc = REAL(SDL_GL_GetAttribute)(attribute, value);
    gl_marker("SDL end");
    return rc;
}

int Mix_OpenAudio(int freq, uint16_t format, int channels, int chunk) {
    int rc = REAL(Mix_OpenAudio)(freq, format, channels, chunk);
    logf_("Mix_OpenAudio %d 0x%x %d %d -> %d", freq, format, channels, chunk, rc);
    return rc;
}

Mix_Music *Mix_LoadMUS(const char *path) {
    Mix_Music *m = REAL(Mix_LoadMUS)(path);
    logf_("Mix_LoadMUS %s -> %s", path ? path : "(null)", m ? "ok" : "null");
    return m;
}

int Mix_PlayMusic(Mix_Music *m, int loops) {
    int rc = REAL(Mix_PlayMusic)(m, loops);
    logf_("Mix_PlayMusic %s %d -> %d", m ? "music" : "null", loops, rc);
    return rc;
}

int Mix_SetMusicPosition(double position) {
    int rc = REAL(Mix_SetMusicPosition)(position);
    logf_("Mix_SetMusicPosition %g -> %d", position, rc);
    music_positioned();
    return rc;
}

/* The start tick: the show's clock starts here. */
static void start_tick(uint32_t alkuaika) {
    logf_("alkuaika %u", alkuaika);
}

int SDL_PollEvent(void *event) {
    static int log_events = -1;
    if (log_events < 0)
        log_events = getenv("E2E_LOG_EVENTS") != NULL;
    if (video_up && !polled && on_main_thread()) {
        polled = 1;
        const char *hold = getenv("E2E_HOLD_DIR");
        logf_("first SDL_PollEvent");
        if (hold) {
            char p[4096];
            snprintf(p, sizeof p, "%s/reached", hold);
            write_file(p, "reached\n");
            snprintf(p, sizeof p, "%s/go", hold);
            if (!wait_for_file(p, 60000))
                logf_("hold timed out");
        }
    }
    int got = REAL(SDL_PollEvent)(event);
    if (got && event && log_events) {
        const unsigned char *e = (const unsigned char *)event;
        int sym;
        memcpy(&sym, e + 8, sizeof sym); /* SDL_KeyboardEvent: type, which, state, keysym {scancode, sym ...} */
        if (e[0] == 2 || e[0] == 3)
            logf_("event %s sym %d @%lu", e[0] == 2 ? "SDL_KEYDOWN" : "SDL_KEYUP", sym, swaps);
        else if (e[0] == 12)
            logf_("event SDL_QUIT @%lu", swaps);
        else
            logf_("event %d @%lu", e[0], swaps);
    }
    return got;
}

/* Called after the buffer swap of a frame whose demo time is frame_aika; prev_aika is that of the
 * frame before it, from which the clock step derived this frame's bar number (-1 for the first). */
static void take_shots(long frame_aika, long prev_aika) {
    const char *dir = getenv("E2E_SHOT_DIR");
    const char *times = getenv("E2E_SHOT_TIMES");
    if (!dir || !times || !show_clock.started)
        return;
    /* Find the next target time. */
    const char *p = times;
    for (int i = 0; i < shot_index && p; i++) {
        p = strchr(p, ',');
        if (p)
            p++;
    }
    if (!p || !*p)
        return;
    long target = strtol(p, NULL, 10);
    /* Target 0 is the first frame; any other target holds the first frame that both reached it and
     * took its bar number from a time that reached it. */
    if (target > 0 && (frame_aika < target || prev_aika < target))
        return;
    /* Make sure the frame has reached the X server before the test looks at the screen. */
    Display *(*current)(void) = (Display * (*)(void)) dlsym(RTLD_DEFAULT, "glXGetCurrentDisplay");
    int (*xsync)(Display *, int) = (int (*)(Display *, int))dlsym(RTLD_DEFAULT, "XSync");
    void (*finish)(void) = (void (*)(void))dlsym(RTLD_DEFAULT, "glFinish");
    if (finish)
        finish();
    if (current && xsync && current())
        xsync(current(), 0);
    char path[4096], text[64];
    snprintf(path, sizeof path, "%s/shot-%d", dir, shot_index);
    snprintf(text, sizeof text, "%ld %ld\n", frame_aika, prev_aika);
    logf_("shot %d at %ld after %ld", shot_index, frame_aika, prev_aika);
    write_file(path, text);
    snprintf(path, sizeof path, "%s/shot-%d.done", dir, shot_index);
    if (!wait_for_file(path, 60000))
        logf_("shot %d timed out", shot_index);
    shot_index++;
}

void SDL_GL_SwapBuffers(void) {
    uint32_t reading = clock_reading();
    gl_marker("SDL begin");
    REAL(SDL_GL_SwapBuffers)();
    gl_marker("SDL end");
    swaps++;
    uint32_t aika;
    if (frame_demo_time(reading, &aika)) {
        frame_aika[0] = frame_aika[1];
        frame_aika[1] = frame_aika[2];
        frame_aika[2] = aika;
        frames_seen++;
        take_shots((long)frame_aika[2], frames_seen > 1 ? (long)frame_aika[1] : -1);
    }
}
