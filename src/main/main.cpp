// The entry point: exit handler first, start-up, the demo, then one frame per pass until the
// viewer quits or the bar number passes 66.
#include <cstdlib>

#include <SDL.h>

#include "direction/direction.h"
#include "runtime/runtime.h"

namespace {
const uint32_t VIIMEINEN_TAHTI = 66;
}

int main(int, char **) {
    atexit(lopetusfunktio);
    alusta();
    demoinit();
    alkuaika = SDL_GetTicks();

    while (hoida_viestit() == 0) {
        laske_kulunut_aika();
        toimi();
        piirra();
        if (tahdit > VIIMEINEN_TAHTI) {
            virhe = 0;
            exit(0); // the frame just drawn is the last
        }
    }
    virhe = 0;
    return virhe;
}
