// mksong's command line: the options, the stages from the score to the Ogg file, and the report.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

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
        "       mksong --print-kicks\n"
        "       mksong --help\n"
        "\n"
        "Composes and renders the Vellamor soundtrack (124 BPM, bar n at n x 1935.484 ms,\n"
        "%d bars, %.1f s) and writes it as Ogg Vorbis, 44.1 kHz stereo, to OUTPUT.ogg\n"
        "(written to a temporary file beside it and renamed when complete).\n"
        "\n"
        "  --print-kicks  print every kick drum hit as 'beat time_ms velocity kind' and exit\n"
        "                 (kind: 'kick', or 'muffled' for the filtered heartbeat kick)\n"
        "  --quiet        print nothing on success\n"
        "  --verbose      also print how long each stage took\n"
        "  --help         show this help\n",
        kBars, kTotal / static_cast<double>(kRate));
}

} // namespace

int main(int argc, char **argv) {
    std::string output;
    bool quiet = false, printKicks = false, verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--quiet" || a == "-q") {
            quiet = true;
        } else if (a == "--verbose" || a == "-v") {
            verbose = true;
        } else if (a == "--print-kicks") {
            printKicks = true;
        } else if (!a.empty() && a[0] == '-') {
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
    auto file = std::make_unique<OutFile>(output);
    if (!file->open()) {
        std::fprintf(stderr, "mksong: %s\n", file->error().c_str());
        return 1;
    }
    auto mix = std::make_unique<Mix>();
    score::arrange(*mix);
    const double tArrange = since();
    const Mastered master = mixdown(*mix, score::automation(), -14.0, -2.0);
    const double tMix = since();
    std::string error;
    const VorbisTags tags = {{"TITLE", "Vellamor"}, {"ARTIST", "Korvek"}, {"BPM", "124"}};
    if (!encodeOgg(mix->dry, tags, *file, &error)) {
        std::fprintf(stderr, "mksong: %s\n", error.c_str());
        return 1;
    }
    const double secs = since();
    if (verbose) {
        std::printf("mksong: arrangement and instruments %.2f s, mixing and mastering %.2f s, "
                    "encoding %.2f s\n",
                    tArrange, tMix - tArrange, secs - tMix);
    }
    if (!quiet) {
        std::printf("mksong: wrote %s: %.3f s, %d bars at %.0f BPM, %.2f LUFS, peak %.2f dBFS "
                    "before encoding, in %.2f s\n",
                    output.c_str(), kTotal / static_cast<double>(kRate), kBars, kBpm, master.lufs,
                    master.peakDb, secs);
    }
    return 0;
}