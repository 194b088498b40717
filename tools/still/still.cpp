// Stills of the show drawn through a program's own start-up and GL path (its window, its driver),
// written as binary PPM files: what the Windows edition's frames are checked with against the
// capture's stills of the same moments. The frames come from the same frame step as the
// capture's; several stills are drawn in one run, one after another, in one window.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <GL/gl.h>
#include <SDL.h>

#include "build_constants.h"
#include "moment/moment.h"
#include "runtime/runtime.h"

namespace {

const char *const KAYTTO =
    "Usage: vellamor_still [--after PREVIOUS] TIME OUTPUT.ppm [[--after PREVIOUS] TIME OUTPUT.ppm "
    "...]\n"
    "Draws the show's frame at each TIME (61936, 61.9s or 32:0) in the program's own window and\n"
    "writes it to OUTPUT as a binary PPM, %dx%d. The frame is drawn after the frame at PREVIOUS\n"
    "when given, otherwise after the frame before it on a %u fps clock, as the capture's stills\n"
    "are. Output paths are taken from the folder the program was started in.\n";

struct Tilaus {
    moment::Still still;
    FILE *tiedosto;
    std::string nimi;
};

[[noreturn]] void vaarin(const std::string &syy) {
    fprintf(stderr, "vellamor_still: %s (see --help)\n", syy.c_str());
    exit(2);
}

// The back buffer just drawn, top row first, as PPM.
bool kirjoita(const Tilaus &tilaus) {
    std::vector<unsigned char> kuva(static_cast<size_t>(LEVEYS) * KORKEUS * 3);
    glFinish();
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, LEVEYS, KORKEUS, GL_RGB, GL_UNSIGNED_BYTE, kuva.data());
    const size_t rivi = static_cast<size_t>(LEVEYS) * 3;
    bool ok = fprintf(tilaus.tiedosto, "P6\n%d %d\n255\n", LEVEYS, KORKEUS) > 0;
    for (int y = KORKEUS - 1; ok && y >= 0; --y)
        ok = fwrite(kuva.data() + y * rivi, 1, rivi, tilaus.tiedosto) == rivi;
    return fclose(tilaus.tiedosto) == 0 && ok;
}

} // namespace

int main(int argc, char **argv) {
    // Every output is opened before start-up, which may change the working directory.
    std::vector<Tilaus> tilaukset;
    std::string jalkeen;
    const moment::FrameClock kello(moment::STILL_FPS);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            printf(KAYTTO, LEVEYS, KORKEUS, moment::STILL_FPS);
            return 0;
        }
        if (arg == "--after") {
            if (i + 1 >= argc)
                vaarin("--after needs a time");
            jalkeen = argv[++i];
            continue;
        }
        if (i + 1 >= argc)
            vaarin("TIME " + arg + " has no OUTPUT file");
        std::string syy;
        const auto still = moment::still_clock(arg, jalkeen, kello, &syy);
        if (!still)
            vaarin(syy);
        const char *nimi = argv[++i];
        FILE *tiedosto = fopen(nimi, "wb");
        if (!tiedosto)
            vaarin(std::string("cannot write ") + nimi + ": " + strerror(errno));
        tilaukset.push_back({*still, tiedosto, nimi});
        jalkeen.clear();
    }
    if (tilaukset.empty())
        vaarin("no TIME and OUTPUT given");

    atexit(lopetusfunktio);
    alusta();
    for (const Tilaus &tilaus : tilaukset) {
        moment::draw_still(tilaus.still);
        if (!kirjoita(tilaus)) {
            printf("vellamor_still: could not write %s\n", tilaus.nimi.c_str());
            fflush(stdout);
            exit(1);
        }
    }
    virhe = 0;
    return 0;
}
