// One capture program per set of build constants: the frame size is the show's own.
#include "build_constants.h"
#include "capture.h"

int main(int argc, char **argv) {
    return capture::capture_main(argc, argv, {CAPTURE_SHOW_NAME, LEVEYS, KORKEUS});
}
