// The song's render in the browser: the score played into the worker's two channel arrays,
// reporting its progress, with nothing but the finished samples leaving the module.
#include <emscripten.h>
#include <emscripten/heap.h>

#include <cstdint>

#include "mksong.h"
#include "synth/grid.h"
#include "synth/master.h"

// The worker holds the song in two Float32Arrays outside the module's memory (Module.songLeft,
// Module.songRight): the module's own memory then never holds the whole piece, and the arrays go
// to the page without a copy.
EM_JS(void, vellamor_song_write, (double at, const float *l, const float *r, int count), {
    Module.songLeft.set(HEAPF32.subarray(l >> 2, (l >> 2) + count), at);
    Module.songRight.set(HEAPF32.subarray(r >> 2, (r >> 2) + count), at);
});
EM_JS(void, vellamor_song_read, (double at, float *l, float *r, int count), {
    HEAPF32.set(Module.songLeft.subarray(at, at + count), l >> 2);
    HEAPF32.set(Module.songRight.subarray(at, at + count), r >> 2);
});
EM_JS(void, vellamor_song_progress, (double done), { Module.songProgress(done); });

namespace {

class WorkerStore : public synth::SongStore {
  public:
    void write(int64_t at, const float *l, const float *r, int count) override {
        vellamor_song_write(static_cast<double>(at), l, r, count);
    }
    void read(int64_t at, float *l, float *r, int count) override {
        vellamor_song_read(static_cast<double>(at), l, r, count);
    }
};

} // namespace

extern "C" {

// Frames per channel, and their rate: what the worker allocates before the render.
EMSCRIPTEN_KEEPALIVE int vellamor_song_frames() {
    return static_cast<int>(synth::kTotal);
}
EMSCRIPTEN_KEEPALIVE int vellamor_song_rate() {
    return synth::kRate;
}

// The module's memory now: at the end of the render, the most it has held.
EMSCRIPTEN_KEEPALIVE double vellamor_song_heap_bytes() {
    return static_cast<double>(emscripten_get_heap_size());
}

// Renders the whole song into Module.songLeft and Module.songRight; returns its loudness (LUFS).
EMSCRIPTEN_KEEPALIVE double vellamor_song_render() {
    WorkerStore store;
    return score::render(store, [](double done) { vellamor_song_progress(done); }).lufs;
}

} // extern "C"
