// The system's side of start-up for the portable programs, which are unpacked anywhere and
// started from any folder, through a symbolic link or by a click in a file manager: messages made
// safe, and the working directory set to the program's own folder, where its data lies.
#include <climits>
#include <cstring>

#include <unistd.h>

#include "posix/messages.h"
#include "runtime/runtime.h"

void alusta_jarjestelma() {
    suojaa_viestit();
    // The kernel's name of the program file, symbolic links resolved: the folder the archive
    // was unpacked into. Without it the working directory stays, and the loaders say what they
    // could not find.
    char polku[PATH_MAX];
    const ssize_t pituus = readlink("/proc/self/exe", polku, sizeof polku - 1);
    if (pituus <= 0)
        return;
    polku[pituus] = '\0';
    char *viimeinen = strrchr(polku, '/');
    if (!viimeinen)
        return;
    viimeinen[viimeinen == polku ? 1 : 0] = '\0';
    (void)!chdir(polku);
}
