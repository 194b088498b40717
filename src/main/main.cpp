// The entry point: exit handler first, start-up, the demo, then one pass of the frame loop after
// another until the viewer quits or the bar number passes 66.
#include <cstdlib>

#include <SDL.h>

#include "runtime/runtime.h"

int main(int, char **) {
    atexit(lopetusfunktio);
    alusta();
    demoinit();
    alkuaika = SDL_GetTicks();

    Kierros tila = Kierros::jatkuu;
    while (tila == Kierros::jatkuu)
        tila = kierros();
    virhe = 0;
    if (tila == Kierros::loppui)
        exit(0); // the end of the show
    return virhe;
}
