// mksong's command line: the options, the render into memory, the Ogg file (or the raw samples),
// and the report.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mksong.h"
#include "outfile.h"
#include "synth/bus.h"
#include "synth/grid.h"
#include "synth/master.h"
#include "synth/ogg_writer.h"

namespace {

using namespace synth;

void usage(FILE *to) {
    std::fprintf(
        to,
        "Usage: mksong [--quiet] [--verbose] OUTPUT.ogg\n"
        "       mksong --pcm OUTPUT.f32\n"
        "       mksong --print-kicks\n"
        "       mksong --help\n"
        "\n"
        "Composes and renders the Vellamor soundtrack (124 BPM, bar n at n x 1935.484 ms,\n"
        "%d bars, %.1f s) and writes it as Ogg Vorbis, 44.1 kHz stereo, to OUTPUT.ogg\n"
        "(written to a temporary file beside it and renamed when complete).\n"
        "\n"
        "  --pcm          write the rendered samples themselves instead: 32-bit float,\n"
        "                 little-endian, left and right interleaved, no header ('-': standard\n"
        "                 output); the browser edition renders the same samples\n"
        "  --print-kicks  print every kick drum hit as 'beat time_ms velocity kind' and exit\n"
        "                 (kind: 'kick', or 'muffled' for the filtered heartbeat kick)\n"
        "  --quiet        print nothing on success\n"
        "  --verbose      also print how long each stage took\n"
        "  --help         show this help\n",
        kBars, kTotal / static_cast<double>(kRate));
}

// The song in memory, both channels whole.
class MemoryStore : public SongStore {
  public:
    MemoryStore() : l(kTotal), r(kTotal) {}
    void write(int64_t at, const float *left, const float *right, int count) override {
        std::copy(left, left + count, l.begin() + at);
        std::copy(right, right + count, r.begin() + at);
    }
    void read(int64_t at, float *left, float *right, int count) override {
        std::copy(l.begin() + at, l.begin() + at + count, left);
        std::copy(r.begin() + at, r.begin() + at + count, right);
    }
    std::vector<float> l, r;
};

// The samples, interleaved, as 32-bit little-endian floats (this machine's order: x86 and
// WebAssembly are both little-endian).
bool writePcm(const MemoryStore &song, OutFile *file) {
    static_assert(sizeof(float) == 4, "32-bit floats");
    std::vector<float> frames(2 * 65536);
    for (int64_t at = 0; at < kTotal; at += 65536) {
        const int64_t count = std::min<int64_t>(65536, kTotal - at);
        for (int64_t i = 0; i < count; ++i) {
            frames[2 * i] = song.l[at + i];
            frames[2 * i + 1] = song.r[at + i];
        }
        const size_t bytes = static_cast<size_t>(count) * 2 * sizeof(float);
        if (file ? !file->write(frames.data(), bytes)
                 : std::fwrite(frames.data(), 1, bytes, stdout) != bytes)
            return false;
    }
    return file ? file->commit() : std::fflush(stdout) == 0;
}

} // namespace

int main(int argc, char **argv) {
    std::string output;
    bool quiet = false, printKicks = false, verbose = false, pcm = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--quiet" || a == "-q") {
            quiet = true;
        } else if (a == "--verbose" || a == "-v") {
            verbose = true;
        } else if (a == "--pcm") {
            pcm = true;
        } else if (a == "--print-kicks") {
            printKicks = true;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            std::fprintf(stderr, "mksong: unknown option %s\n", a.c_str());
            usage(stderr);
            return 2;
        } else if (output.empty()) {
            output = a;
        } else {
            std::fprintf(stderr, "mksong: more than one output path given\n");
            usage(stderr);
            return 2;
        }
    }
    if (output == "-" && !pcm) {
        std::fprintf(stderr, "mksong: only --pcm writes to standard output\n");
        usage(stderr);
        return 2;
    }
    if (output.empty() && !printKicks) {
        std::fprintf(stderr, "mksong: no output path given\n");
        usage(stderr);
        return 2;
    }

    if (printKicks) {
        for (const score::Kick &k : score::kickPlan()) {
            std::printf("%d %.3f %.2f %s\n", static_cast<int>(std::lround(k.beat)),
                        k.beat * 60000.0 / kBpm, k.velocity, k.muffled ? "muffled" : "kick");
        }
        return 0;
    }
    const auto t0 = std::chrono::steady_clock::now();
    auto since = [&t0] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    };
    // Open the output first, so that a bad path fails at once rather than after the rendering.
    const bool toStdout = pcm && output == "-";
    auto file = std::make_unique<OutFile>(output);
    if (!toStdout && !file->open()) {
        std::fprintf(stderr, "mksong: %s\n", file->error().c_str());
        return 1;
    }
    auto song = std::make_unique<MemoryStore>();
    const Mastered master = score::render(*song, [](double) {});
    const double tRender = since();
    std::string error;
    if (pcm) {
        if (!writePcm(*song, toStdout ? nullptr : file.get())) {
            std::fprintf(stderr, "mksong: %s\n",
                         toStdout ? "cannot write to standard output" : file->error().c_str());
            return 1;
        }
    } else {
        const VorbisTags tags = {{"TITLE", "Vellamor"}, {"ARTIST", "Korvek"}, {"BPM", "124"}};
        if (!encodeOgg(song->l.data(), song->r.data(), tags, *file, &error)) {
            std::fprintf(stderr, "mksong: %s\n", error.c_str());
            return 1;
        }
    }
    const double secs = since();
    if (verbose) {
        std::fprintf(stderr, "mksong: rendering %.2f s, writing %.2f s\n", tRender, secs - tRender);
    }
    if (!quiet && !toStdout) {
        std::printf("mksong: wrote %s: %.3f s, %d bars at %.0f BPM, %.2f LUFS, peak %.2f dBFS "
                    "before encoding, in %.2f s\n",
                    output.c_str(), kTotal / static_cast<double>(kRate), kBars, kBpm, master.lufs,
                    master.peakDb, secs);
    }
    return 0;
}