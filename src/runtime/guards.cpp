// What the show asks of the system beside SDL: a standard output that may be closed or gone,
// since messages are best effort, and data files that are plain files before anything opens them.
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <SDL.h>

#include "runtime/runtime.h"

void suojaa_viestit() {
    // A reader that has gone (`vellamor | head -1`) must not end the show: a write to the pipe
    // then fails with EPIPE instead of raising SIGPIPE, and the message is lost.
    signal(SIGPIPE, SIG_IGN);
    // A closed standard descriptor would be handed to the next file opened, the X connection
    // among them, and messages written into it: hold each with /dev/null. Lowest first, so that
    // open() returns the very descriptor being filled.
    for (int kuvaaja = 0; kuvaaja <= 2; ++kuvaaja)
        if (fcntl(kuvaaja, F_GETFD) == -1 && errno == EBADF)
            open("/dev/null", kuvaaja == 0 ? O_RDONLY : O_WRONLY);
}

bool kelpaa_luettavaksi(const char *polku) {
    // Opening a FIFO with no writer blocks for ever, and a device can be anything; stat follows
    // symbolic links. A missing file is left to the loader, which says so in its own words.
    struct stat tiedot;
    if (stat(polku, &tiedot) != 0 || S_ISREG(tiedot.st_mode))
        return true;
    SDL_SetError("%s is not a regular file", polku);
    return false;
}
