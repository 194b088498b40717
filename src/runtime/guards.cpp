// What the show asks of the files it reads: plain files before anything opens them. (What it asks
// of standard output is the platform's: suojaa_viestit, in platform/.)
#include <sys/stat.h>

#include <SDL.h>

#include "runtime/runtime.h"

bool kelpaa_luettavaksi(const char *polku) {
    // Opening a FIFO with no writer blocks for ever, and a device can be anything; stat follows
    // symbolic links. A missing file is left to the loader, which says so in its own words.
    struct stat tiedot;
    if (stat(polku, &tiedot) != 0 || S_ISREG(tiedot.st_mode))
        return true;
    SDL_SetError("%s is not a regular file", polku);
    return false;
}
