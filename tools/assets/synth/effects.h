// The effects on the send buses and the pad bus: reverb, ping-pong delay and the pad's filter.
#pragma once
#include "bus.h"
#include "dsp.h"

namespace synth {

// Freeverb-style stereo reverb over the whole bus, in place, with a 20 ms pre-delay.
void reverb(StereoBus &io, float roomSize, float damp);
// Ping-pong delay of a dotted eighth, darkened on every repeat, in place; a quarter of the
// echoes also go to `reverbSend`.
void delay(StereoBus &io, StereoBus &reverbSend);
// The pad bus, in place: a low-pass whose cutoff follows `cutoff` (Hz over bars) with a slow
// wobble, and the level curve `level`.
void filterPad(StereoBus &pad, const Curve &cutoff, const Curve &level);

} // namespace synth
