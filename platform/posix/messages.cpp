// Messages on a POSIX system: best effort, whatever standard output is or becomes.
#include "messages.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

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
