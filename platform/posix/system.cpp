// The system's side of start-up for the programs of this system: messages made safe. The data
// files are read from the working directory, which the installed launchers set.
#include "messages.h"
#include "runtime/runtime.h"

void alusta_jarjestelma() {
    suojaa_viestit();
}
