// The pitched instruments: mid bass, sub bass, pad, plucked arpeggio, lead and bell.
//
// Each renders one note (a MIDI note number, lengths in seconds) into a sound that starts at its
// onset.
#pragma once
#include <array>

#include "dsp.h"
#include "noise.h"

namespace synth {

// Mid bass: two slightly detuned saws through a resonant low-pass with its own envelope
// (`cutoff` plus up to `envAmount` Hz), with a soft attack so that the off-beat notes groove
// without pulling the ear (or a beat tracker) off the kick.
Sound bassNote(double note, double len, double cutoff, double envAmount);
// Sub bass: a held sine with a touch of second harmonic so that it still speaks on small
// speakers.
Sound subNote(double note, double len);
// Pad voice: five detuned saws spread across the stereo field ("saw" timbre) blended with a
// glassy stack of sines ("glass" timbre, 0 to 1). The voice's random phases are drawn when it is
// made, its samples rendered later (the pad is rendered as the mix reaches it).
struct PadVoice {
    double note, len, attack, release, glass;
    std::array<double, 5> sawPhases;
    std::array<double, 4> glassPhases;
};
PadVoice padVoice(Rng &rng, double note, double len, double attack, double release, double glass);
StereoSound renderPad(const PadVoice &voice);
// Plucked arpeggio note: saw and narrow pulse through a quickly closing low-pass.
Sound pluck(double note, double cutoff, double decay);
// Lead: three saws and a square an octave down, vibrato after the attack, soft filter envelope.
StereoSound leadNote(double note, double len, double cutoff);
// FM bell: an inharmonic modulator with a decaying index over a sine carrier.
Sound bell(double note, double decay);

} // namespace synth
