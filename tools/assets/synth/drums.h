// The drum machine: kick, clap, snare, hats, cymbals, risers, downlifters and the impact boom.
//
// Each renders one hit into a sound that starts at its onset.
#pragma once
#include "dsp.h"
#include "noise.h"

namespace synth {

// Kick: a sine swept down from a click to 51 Hz, softly saturated, over a bright noise tick.
Sound kick(Rng &rng, double decay = 0.19);
// A clap over a short snare body; stereo through decorrelated noise.
StereoSound clap(Rng &rng);
// Snare for rolls: body and bright noise, short.
Sound snare(Rng &rng);
// Closed or open hat: `decay` in seconds, `tone` scales its frequencies.
Sound hat(Rng &rng, double decay, double tone);
// Crash or ride: long metallic noise, stereo; `metalMix` is the share of the metallic tone
// against plain noise.
StereoSound cymbal(Rng &rng, double decay, double tone, double metalMix, double maxSeconds = 3.5);
// Noise swell through a rising band-pass (riser) or falling one (downlifter).
StereoSound sweep(Rng &rng, double seconds, double fromHz, double toHz, bool rising);
// Low impact boom for the section arrivals.
Sound boom();

} // namespace synth
