// One pass of the frame loop, the same in every edition: the native programs loop over it, the
// browser runs it once per animation frame. The order is the show's: event pump, clock step,
// action step, frame, end test.
#include "direction/direction.h"
#include "runtime/runtime.h"

namespace {
const uint32_t VIIMEINEN_TAHTI = 66; // the show ends after the first frame past this bar
}

Kierros kierros() {
    if (hoida_viestit() != 0)
        return Kierros::lopetettu; // no clock step and no frame after a quit request
    laske_kulunut_aika();
    toimi_ja_piirra();
    if (tahdit > VIIMEINEN_TAHTI)
        return Kierros::loppui; // the frame just drawn is the last
    return Kierros::jatkuu;
}

void toimi_ja_piirra() {
    toimi();
    piirra();
}
