// mksong: composes and renders the Vellamor soundtrack, data/ruvo_megasong_bpm_124c.ogg.
//
// A small synthesizer and sequencer. The piece is written on the show's bar grid (124 BPM, four
// beats to the bar, bar n starting at n x 1935.484 ms, the first bar at 0 s exactly): chords,
// bass lines, melodies and drum patterns are placed per bar by the arrangement below, rendered
// note by note into float buses, processed (bus filters, sidechain, delay, reverb), mixed,
// normalised to about -14 LUFS under a look-ahead peak limiter and encoded with libvorbisenc.
//
// The form follows the show's timeline, in A minor:
//   bars  0-9   intro under the fade from black: pad swelling in, a muffled heartbeat kick,
//               plucked arpeggio from bar 2, hats from bar 4, a riser into
//   bar  10     the camera cut: crash, the full kick, the sub; bass and arpeggio return at 11,
//   bars 11-19  growth while the towers break apart: claps, open hats, a first hint of the theme,
//   bars 20-24  the darkening: Dm Bb F E, closed filters, rolling bass, a snare build,
//   bars 25-29  lift as the logo appears: the main theme, everything open,
//   bars 30-31  falling away into the fade to black: drums out, a downlifter, the heartbeat,
//   bars 32-41  movement two, the full beat; bass from 33, the arpeggio hook from 34,
//   bars 42-52  the camera rises: a second, higher theme, ride and off-beat hats, a build,
//   bars 53-59  the colder turn as the arc greys: glassy pad, bells, long sub notes,
//   bars 60-66  the closing fade with the picture's (to silence at bar 66.2), the drums leaving
//               one by one; then a breath of air to the end (bar 69, 133.5 s).
//
// Deterministic: all noise comes from seeded generators of our own, nothing reads the clock or
// the environment, and the Ogg stream serial number is fixed, so the same source and build give
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "outfile.h"
#include "synth/bus.h"
#include "synth/drums.h"
#include "synth/dsp.h"
#include "synth/grid.h"
#include "synth/master.h"
#include "synth/noise.h"
#include "synth/ogg_writer.h"
#include "synth/voices.h"

namespace {

using namespace synth;

// ---------------------------------------------------------------------------------------------
// Harmony: one chord per bar.

struct Chord {
    int bass;               // bass note (octave 2), MIDI
    std::array<int, 4> pad; // pad voicing, MIDI
};

enum ChordName { Am, F, C, G, Dm, E, E7, Esus, Bb, Em, Am9c, Em7c, Fl, Dm9c };

Chord chordOf(ChordName c) {
    switch (c) {
    case Am:
        return {45, {57, 60, 64, 71}};
    case F:
        return {41, {57, 60, 64, 67}};
    case C:
        return {48, {55, 60, 64, 67}};
    case G:
        return {43, {55, 59, 62, 67}};
    case Dm:
        return {38, {57, 60, 62, 65}};
    case E:
        return {40, {56, 59, 64, 68}};
    case E7:
        return {40, {56, 59, 62, 64}};
    case Esus:
        return {40, {57, 59, 64, 69}};
    case Bb:
        return {46, {58, 62, 65, 69}};
    case Em:
        return {40, {55, 59, 62, 64}};
    case Am9c:
        return {45, {55, 59, 60, 64}};
    case Em7c:
        return {40, {59, 62, 64, 67}};
    case Fl:
        return {41, {57, 59, 64, 67}};
    case Dm9c:
        return {38, {53, 57, 60, 64}};
    }
    return {45, {57, 60, 64, 71}};
}

// The chord of every bar, written against the show's timeline (see the section comments in
// arrange()).
const ChordName kChords[kBars] = {
    Am,   Am,   F,  F,    C,    C,    G,    G,  F,  Esus, // 0-9   intro under the fade from black
    Am,   F,    C,  G,    Am,   F,    C,    G,  Dm, E,    // 10-19 the cut, then growth
    Dm,   Bb,   F,  E,    E7,                             // 20-24 darkening, build
    Am,   F,    C,  G,    Am,                             // 25-29 lift: the logo
    F,    Esus,                                           // 30-31 falling away
    Am,   F,    C,  G,    Am,   F,    C,    G,  Dm, E,    // 32-41 movement two, full beat
    F,    G,    Em, Am,   F,    G,    Em,   Am, Dm, F,    E, // 42-52 the camera rises
    Am9c, Em7c, Fl, Em7c, Dm9c, Em7c, Esus,                  // 53-59 colder
    Am,   F,    C,  G,    Am,   F,    Am,   Am, Am,          // 60-68 closing fade and tail
};

// ---------------------------------------------------------------------------------------------
// Arrangement

struct Kick {
    double beat;
    float velocity;
    bool muffled;
};

struct Song {
    Mix mix;
    std::vector<Kick> kicks;
};

// Where the kick drum plays, one hit per beat. The full kick plays from the cut at bar 10 to the
// fall at bar 30 and through movement two; a muffled one, like a heartbeat through a wall,
// carries the pulse through the intro under the fade from black, the falling away (bars 30-31)
// and the close.
std::vector<Kick> kickPlan() {
    std::vector<Kick> kicks;
    auto fullOn = [](int bar) { return (bar >= 10 && bar < 30) || (bar >= 32 && bar < 64); };
    auto muffledOn = [](int bar) {
        return bar < 10 || bar == 30 || bar == 31 || (bar >= 64 && bar < 67);
    };
    for (int bar = 0; bar < kBars; ++bar) {
        for (int b = 0; b < 4; ++b) {
            const double beat = bars(bar) + b;
            if (fullOn(bar)) {
                const float vel = (bar == 24 && b >= 2) || (bar == 52 && b >= 2) ? 0.8f : 1.0f;
                kicks.push_back({beat, vel, false});
            } else if (muffledOn(bar)) {
                float vel = 0.6f;
                if (bar < 10)
                    vel = 0.3f + 0.35f * bar / 9.0f;
                if (bar == 31)
                    vel = 0.6f - 0.05f * b;
                kicks.push_back({beat, vel, true});
            }
        }
    }
    return kicks;
}

// Melodic phrases: (start in sixteenths, length in sixteenths, MIDI note) per bar.
struct N {
    int start, len, note;
};
using Phrase = std::vector<N>;

// Theme A, over Am F C G: syncopated 3-3-2 figures.
const Phrase kThemeA[4] = {
    {{0, 3, 76}, {3, 3, 72}, {6, 2, 69}, {8, 2, 71}, {10, 3, 72}, {13, 3, 76}},
    {{0, 6, 77}, {6, 2, 76}, {8, 4, 72}, {12, 4, 69}},
    {{0, 3, 79}, {3, 3, 76}, {6, 2, 72}, {8, 2, 74}, {10, 3, 76}, {13, 3, 79}},
    {{0, 6, 74}, {6, 2, 71}, {8, 4, 67}, {12, 2, 71}, {14, 2, 74}},
};
// Theme B, over F G Em Am (bars 42-49): higher and more flowing, answered the second time.
const Phrase kThemeB[8] = {
    {{0, 2, 81}, {2, 2, 79}, {4, 2, 77}, {6, 4, 76}, {10, 2, 77}, {12, 4, 79}},
    {{0, 6, 74}, {6, 2, 79}, {8, 4, 83}, {12, 4, 81}},
    {{0, 3, 79}, {3, 3, 76}, {6, 2, 71}, {8, 4, 74}, {12, 4, 76}},
    {{0, 10, 76}, {10, 2, 72}, {12, 4, 69}},
    {{0, 2, 81}, {2, 2, 79}, {4, 2, 77}, {6, 4, 76}, {10, 2, 77}, {12, 4, 81}},
    {{0, 6, 83}, {6, 2, 81}, {8, 4, 79}, {12, 4, 83}},
    {{0, 3, 84}, {3, 3, 83}, {6, 2, 79}, {8, 4, 76}, {12, 4, 79}},
    {{0, 6, 76}, {6, 2, 79}, {8, 8, 81}},
};
// Bars 50-52 (Dm F E), leading into the colder turn.
const Phrase kThemeBEnd[3] = {
    {{0, 4, 77}, {4, 4, 76}, {8, 8, 74}},
    {{0, 4, 72}, {4, 4, 74}, {8, 8, 76}},
    {{0, 12, 80}, {12, 4, 83}},
};

// The sections of the piece, on the show's timeline.
int sectionOf(int bar) {
    if (bar < 10)
        return 0; // intro under the fade from black
    if (bar < 20)
        return 1; // the camera cut at bar 10, growth while the towers break apart
    if (bar < 25)
        return 2; // the darkening of the sky
    if (bar < 30)
        return 3; // lift: the logo appears at bar 25
    if (bar < 32)
        return 4; // falling away into the fade to black
    if (bar < 42)
        return 5; // movement two, full beat
    if (bar < 53)
        return 6; // the camera rises
    if (bar < 60)
        return 7; // colder: the arc greys
    return 8;     // closing fade
}

// The pad has a bus of its own and its own noise generator, so it is rendered on a second
// thread while the rest of the arrangement is placed; the result does not depend on timing.
void arrangePad(StereoBus &pad) {
    Rng rng(0x706164ull); // "pad"
    // Chords, with runs of the same chord within a section held as one.
    for (int bar = 0; bar < 67;) {
        int end = bar + 1;
        while (end < 67 && kChords[end] == kChords[bar] && sectionOf(end) == sectionOf(bar))
            ++end;
        const Chord ch = chordOf(kChords[bar]);
        const int sec = sectionOf(bar);
        const double attack = bar == 0 ? 3.0 : (sec == 4 || sec == 7 ? 0.25 : 0.06);
        const double lenSec = (end - bar) * 4 * kSamplesPerBeat / kRate - 0.02;
        const double release = end >= 66 ? 3.5 : 0.45;
        const double glass = sec == 7 ? 1.0 : (sec == 8 ? 0.5 : 0.0);
        for (int k = 0; k < 4; ++k) {
            addTo(pad, padNote(rng, ch.pad[k], lenSec, attack, release, glass),
                  beatToSample(bars(bar)), 0.20f);
        }
        // A soft octave-down root under the pad for body.
        addTo(pad, padNote(rng, ch.bass + 12, lenSec, attack, release, glass),
              beatToSample(bars(bar)), 0.12f);
        bar = end;
    }
}

void arrange(Song &song) {
    Mix &mix = song.mix;
    std::thread padThread(arrangePad, std::ref(mix.pad));
    Rng rng(0x56656C6C616D6F72ull); // "Vellamor"

    // --- Drum sounds: a few takes of each, rendered once and reused round-robin.
    const std::vector<float> kickSound = kick(rng);
    auto muffle = [](std::vector<float> v, double hz) {
        Svf lp;
        lp.set(hz, 0.8);
        for (float &x : v)
            x = static_cast<float>(lp.tick(x) * 1.3);
        return v;
    };
    const std::vector<float> kickMuffled = muffle(kickSound, 260),
                             kickHalfOpen = muffle(kickSound, 700);
    std::array<StereoSound, 4> clapSounds;
    for (auto &v : clapSounds)
        v = clap(rng);
    std::array<std::vector<float>, 6> snares;
    for (auto &v : snares)
        v = snare(rng);
    std::array<std::vector<float>, 8> hatsShort, hatsLong;
    for (auto &v : hatsShort)
        v = hat(rng, 0.028, 1.0);
    for (auto &v : hatsLong)
        v = hat(rng, 0.040, 1.0);
    std::array<std::vector<float>, 4> openHatSounds;
    for (auto &v : openHatSounds)
        v = hat(rng, 0.16, 0.92);
    std::array<StereoSound, 4> rides;
    for (auto &v : rides)
        v = cymbal(rng, 0.5, 1.35, 0.75);
    int take = 0;

    // Plucks and bells repeat the same notes many times: each distinct one is rendered once.
    std::map<std::tuple<int, double, double>, std::vector<float>> plucks;
    auto cachedPluck = [&plucks](int note, double cutoff,
                                 double decay) -> const std::vector<float> & {
        auto [it, fresh] = plucks.try_emplace({note, cutoff, decay});
        if (fresh)
            it->second = pluck(note, cutoff, decay);
        return it->second;
    };
    std::map<int, std::vector<float>> bells;
    auto cachedBell = [&bells](int note) -> const std::vector<float> & {
        auto [it, fresh] = bells.try_emplace(note);
        if (fresh)
            it->second = bell(note, 0.55);
        return it->second;
    };

    // --- Kick drum and bass line.
    song.kicks = kickPlan();
    for (const Kick &k : song.kicks) {
        const int beat = static_cast<int>(k.beat);
        const int bar = beat / 4;
        if (!k.muffled) {
            mix.duck.kick(beat, k.velocity);
            placeMono(mix, kickSound, beatToSample(k.beat), 0.85f * k.velocity, 0.0f);
        } else {
            const auto &sound = (bar >= 8 && bar < 10) ? kickHalfOpen : kickMuffled;
            mix.duck.kick(beat, 0.3f * k.velocity);
            placeMono(mix, sound, beatToSample(k.beat), 0.95f * k.velocity, 0.0f);
        }
    }

    // The bass enters a bar after each arrival (bar 11, bar 33): the cut at bar 10 and the start of
    // movement two at bar 32 land on kick, crash and pad alone.
    for (int bar = 11; bar < 64; ++bar) {
        const int sec = sectionOf(bar);
        if (sec == 4 || bar == 32)
            continue;
        const Chord ch = chordOf(kChords[bar]);
        const int root = ch.bass;
        std::vector<std::pair<int, int>> steps; // (sixteenth, semitone offset)
        double cutoff = 420, envAmt = 900, len16 = 1.7;
        switch (sec) {
        case 1: // off-beat house bass; opens with the growth
            steps = {{2, 0}, {6, 0}, {10, 0}, {14, 0}};
            cutoff = 300 + 35.0 * (bar - 10);
            envAmt = 700 + 60.0 * (bar - 10);
            len16 = 1.8;
            break;
        case 2: // darker: rolling, lower, closed
            steps = {{2, 0}, {3, 0}, {6, 0}, {7, 0}, {10, 0}, {11, 0}, {14, 0}, {15, 12}};
            cutoff = 260;
            envAmt = 650;
            len16 = 0.85;
            break;
        case 3:
        case 5: // full: rolling with octave lifts
            steps = {{2, 0}, {3, 0}, {6, 0}, {7, 12}, {10, 0}, {11, 0}, {14, 0}, {15, 12}};
            cutoff = 380;
            envAmt = 1400;
            len16 = 0.85;
            break;
        case 6: // the camera rises: octave pattern, brighter
            steps = {{2, 0}, {4, 12}, {6, 0}, {7, 0}, {10, 0}, {12, 12}, {14, 0}, {15, 7}};
            cutoff = 450;
            envAmt = 1800;
            len16 = 0.9;
            break;
        case 7: // colder: long notes, mostly sub
            steps = {{0, 0}, {6, 0}, {10, 0}};
            cutoff = 220;
            envAmt = 300;
            len16 = 3.5;
            break;
        default: // closing
            steps = {{0, 0}, {8, 0}};
            cutoff = 200;
            envAmt = 200;
            len16 = 7.0;
            break;
        }
        for (auto [s, off] : steps) {
            const double beat = bars(bar) + s / 4.0;
            const double len = len16 * kSamplesPerBeat / 4.0 / kRate;
            auto v = bassNote(root + off, len, cutoff, envAmt);
            const float accent = (s % 4 == 2) ? 1.0f : 0.8f;
            placeMono(mix, v, beatToSample(beat), 0.42f * accent, 0.0f, {}, 0.45f);
        }
    }
    // The sub under it, one held note per chord.
    for (int bar = 10; bar < 64;) {
        int end = bar + 1;
        while (end < 64 && chordOf(kChords[end]).bass == chordOf(kChords[bar]).bass &&
               sectionOf(end) == sectionOf(bar))
            ++end;
        if (sectionOf(bar) != 4) {
            const double len = (end - bar) * 4 * kSamplesPerBeat / kRate - 0.03;
            placeMono(mix, subNote(chordOf(kChords[bar]).bass - 12, len), beatToSample(bars(bar)),
                      0.2f, 0.0f, {}, 0.85f);
        }
        bar = end;
    }

    // --- Claps, snare rolls, hats, ride, crashes.
    for (int bar = 0; bar < kBars; ++bar) {
        const int sec = sectionOf(bar);
        const bool claps = (bar >= 12 && bar < 24) || (bar >= 25 && bar < 30) ||
                           (bar >= 32 && bar < 52) || (bar >= 53 && bar < 62);
        if (claps) {
            for (int b : {1, 3}) {
                const int v = take++ % 4;
                place(mix, clapSounds[v], beatToSample(bars(bar) + b), 0.52f, {0.18f, 0.0f});
            }
        }
        if (bar == 19) { // a small fill into the darkening
            for (int s : {12, 13, 14}) {
                const auto &sn = snares[take++ % snares.size()];
                placeMono(mix, sn, beatToSample(bars(bar) + s / 4.0), 0.28f + 0.06f * (s - 12),
                          0.1f, {0.2f, 0.0f});
            }
        }
        const bool build = bar == 24 || bar == 52;
        if (build) { // snare builds: eighths, sixteenths, thirty-seconds, then an eighth's breath
            for (int s = 0; s < 12; ++s) {
                const double pos =
                    s < 4 ? s * 0.5 : (s < 8 ? 2.0 + (s - 4) * 0.25 : 3.0 + (s - 8) * 0.125);
                const auto &sn = snares[take++ % snares.size()];
                const float vel = static_cast<float>(0.15 + 0.3 * pos / 4.0);
                placeMono(mix, sn, beatToSample(bars(bar) + pos), vel, (s % 2) ? 0.15f : -0.15f,
                          {0.25f, 0.0f});
            }
        }
        // Closed hats on sixteenths, with a little swing on the off-sixteenths.
        const bool hats = (bar >= 4 && bar < 30) || (bar >= 32 && bar < 62);
        if (hats) {
            static constexpr std::array<float, 4> accents = {0.8f, 0.25f, 0.45f, 0.25f};
            double level = sec == 0 ? 0.25 + 0.5 * (bar - 4) / 5.0 : (sec == 2 ? 0.8 : 1.0);
            if (sec == 7)
                level = 0.75;
            for (int s = 0; s < 16; ++s) {
                if (sec == 0 && bar < 6 && s % 2 == 1)
                    continue; // eighths first
                if (build && s >= 14)
                    continue;
                const double swing = (s % 2) ? 0.035 : 0.0;
                const auto &h = (s % 4 == 2 ? hatsLong : hatsShort)[take++ % 8];
                placeMono(mix, h, beatToSample(bars(bar) + s / 4.0 + swing),
                          static_cast<float>(0.32 * level * accents[s % 4]), 0.25f, {0.05f, 0.0f});
            }
        }
        // Open hats: on every off-beat in the two peaks (the lift under the logo, the camera's
        // rise), elsewhere only on the last off-beat of every other bar.
        const bool openHats =
            (bar >= 14 && bar < 24) || (bar >= 25 && bar < 30) || (bar >= 32 && bar < 52);
        const bool offbeatHats = (bar >= 25 && bar < 30) || (bar >= 42 && bar < 52);
        if (openHats) {
            for (int b = 0; b < 4; ++b) {
                if (!offbeatHats && !(b == 3 && bar % 2 == 1))
                    continue;
                const auto &h = openHatSounds[take++ % openHatSounds.size()];
                placeMono(mix, h, beatToSample(bars(bar) + b + 0.5), 0.1f, -0.3f, {0.12f, 0.0f});
            }
        }
        if (bar >= 42 && bar < 52) { // ride on the beats while the camera rises
            for (int b = 0; b < 4; ++b) {
                const int v = take++ % 4;
                place(mix, rides[v], beatToSample(bars(bar) + b), 0.09f, {0.1f, 0.0f});
            }
        }
    }
    struct Hit {
        int bar;
        float gain;
    };
    // Crashes on the arrivals: two takes, bright and (for the colder turn) dark.
    const StereoSound crash = cymbal(rng, 1.6, 1.0, 0.35);
    const StereoSound darkCrash = cymbal(rng, 1.6, 0.8, 0.35);
    for (Hit c : {Hit{10, 0.32f}, Hit{20, 0.22f}, Hit{25, 0.36f}, Hit{32, 0.36f}, Hit{42, 0.32f},
                  Hit{53, 0.22f}, Hit{60, 0.18f}}) {
        const bool dark = c.bar == 53;
        place(mix, dark ? darkCrash : crash, beatToSample(bars(c.bar)), c.gain, {0.3f, 0.0f});
    }
    // Reverse cymbals swelling into the big arrivals. Each ends a thirty-second before the bar line
    // (a breath before the hit), with a quick fade.
    StereoSound swell = cymbal(rng, 0.9, 1.0, 0.3, 1.6);
    std::vector<float> &swellL = swell.l, &swellR = swell.r;
    std::reverse(swellL.begin(), swellL.end());
    std::reverse(swellR.begin(), swellR.end());
    {
        const int64_t fade = static_cast<int64_t>(0.006 * kRate),
                      len = static_cast<int64_t>(swellL.size());
        for (int64_t i = 0; i < fade; ++i) {
            swellL[len - 1 - i] *= static_cast<float>(i) / fade;
            swellR[len - 1 - i] *= static_cast<float>(i) / fade;
        }
    }
    for (Hit c : {Hit{10, 0.2f}, Hit{25, 0.24f}, Hit{32, 0.3f}, Hit{53, 0.2f}}) {
        const int64_t gap = static_cast<int64_t>(kSamplesPerBeat / 8),
                      len = static_cast<int64_t>(swellL.size());
        place(mix, swell, beatToSample(bars(c.bar)) - gap - len, c.gain, {0.2f, 0.0f});
    }
    // Risers over the two bars before a change, a downlifter into the fall.
    for (Hit c : {Hit{8, 0.10f}, Hit{23, 0.12f}, Hit{51, 0.12f}}) {
        const double sec =
            (2 * 4 - 0.25) * kSamplesPerBeat / kRate; // ends a sixteenth before the change
        place(mix, sweep(rng, sec, 250, 7000, true), beatToSample(bars(c.bar)), c.gain,
              {0.25f, 0.0f});
    }
    {
        place(mix, sweep(rng, 2 * 4 * kSamplesPerBeat / kRate, 6000, 180, false),
              beatToSample(bars(30)), 0.12f, {0.4f, 0.0f});
    }
    for (Hit c : {Hit{25, 0.30f}, Hit{32, 0.34f}}) {
        placeMono(mix, boom(), beatToSample(bars(c.bar)), c.gain, 0.0f, {0.1f, 0.0f});
    }

    // --- Arpeggio: chord tones an octave above the pad.
    // It rests at the cut (bar 10) and for the first two bars of movement two, where its hook
    // enters.
    for (int bar = 2; bar < 64; ++bar) {
        const int sec = sectionOf(bar);
        if (sec == 4 || sec == 7 || bar == 10 || bar == 32 || bar == 33)
            continue;
        const Chord ch = chordOf(kChords[bar]);
        std::array<int, 5> tones = {ch.pad[0] + 12, ch.pad[1] + 12, ch.pad[2] + 12, ch.pad[3] + 12,
                                    ch.pad[0] + 24};
        std::vector<std::pair<int, int>> pat; // (sixteenth, tone index)
        if (sec == 5) { // movement two's hook: a 3-3-2 figure against the four-to-the-floor
            pat = {{0, 4}, {3, 2}, {6, 3}, {8, 4}, {11, 2}, {14, 1}};
        } else {
            static constexpr std::array<int, 16> updown = {0, 1, 2, 3, 4, 3, 2, 1,
                                                           0, 1, 2, 3, 4, 3, 2, 1};
            for (int s = 0; s < 16; ++s) {
                if (sec == 0 && bar < 6 && s % 2)
                    continue;
                pat.push_back({s, updown[s]});
            }
        }
        double cutoff = 1800, level = 0.16, decay = 0.16;
        switch (sec) {
        case 0:
            cutoff = 500 + 170.0 * (bar - 2);
            level = 0.10 + 0.012 * (bar - 2);
            break;
        case 1:
            cutoff = 1500 + 220.0 * (bar - 10);
            level = 0.15;
            break;
        case 2:
            cutoff = 900;
            level = 0.13;
            break;
        case 3:
            cutoff = 3200;
            level = 0.12;
            break;
        case 5:
            cutoff = 2600;
            level = 0.20;
            decay = 0.2;
            break;
        case 6:
            cutoff = 2400;
            level = 0.09;
            break;
        default:
            cutoff = 1100;
            level = 0.09;
            break;
        }
        for (auto [s, idx] : pat) {
            const auto &p = cachedPluck(tones[idx], cutoff, decay);
            const float pan = (s % 2) ? 0.35f : -0.35f;
            placeMono(mix, p, beatToSample(bars(bar) + s / 4.0), static_cast<float>(1.25 * level),
                      pan, {0.15f, 0.22f}, 0.3f);
        }
    }

    // --- Lead melodies.
    auto playPhrase = [&](const Phrase &ph, int bar, double cutoff, float level) {
        for (const N &nt : ph) {
            place(mix, leadNote(nt.note, nt.len * kSamplesPerBeat / 4.0 / kRate - 0.01, cutoff),
                  beatToSample(bars(bar) + nt.start / 4.0), 1.25f * level, {0.25f, 0.3f}, 0.15f);
        }
    };
    auto themeAIndex = [](ChordName c) { return c == Am ? 0 : c == F ? 1 : c == C ? 2 : 3; };
    for (int bar = 14; bar < 18; ++bar)
        playPhrase(kThemeA[themeAIndex(kChords[bar])], bar, 900 + 150.0 * (bar - 14), 0.10f);
    for (int bar = 25; bar < 29; ++bar)
        playPhrase(kThemeA[themeAIndex(kChords[bar])], bar, 3000, 0.17f);
    playPhrase({{0, 16, 81}}, 29, 3200, 0.16f);
    playPhrase({{0, 8, 79}, {8, 8, 76}}, 30, 1800, 0.09f);
    for (int bar = 42; bar < 50; ++bar)
        playPhrase(kThemeB[bar - 42], bar, 3400, 0.15f);
    for (int bar = 50; bar < 53; ++bar)
        playPhrase(kThemeBEnd[bar - 50], bar, 3000, 0.15f);

    // --- Bells: the colder turn, and the close.
    for (int bar = 53; bar < 66; ++bar) {
        const Chord ch = chordOf(kChords[bar]);
        static constexpr std::array<std::pair<int, int>, 6> pat = {
            {{0, 3}, {3, 2}, {6, 0}, {8, 1}, {11, 2}, {14, 1}}};
        const float level = bar < 60 ? 0.12f : 0.10f;
        for (auto [s, idx] : pat) {
            const auto &b = cachedBell(ch.pad[idx] + 12);
            placeMono(mix, b, beatToSample(bars(bar) + s / 4.0), level, (idx % 2) ? 0.4f : -0.4f,
                      {0.4f, 0.35f}, 0.3f);
        }
    }
    // A last bell chord to end on.
    for (int k = 0; k < 4; ++k) {
        auto b = bell(chordOf(Am).pad[k] + 12, 1.6);
        placeMono(mix, b, beatToSample(bars(64)) + k * 900, 0.09f, -0.3f + 0.2f * k, {0.5f, 0.3f});
    }

    padThread.join();
}

// The mix's automation: the pad's filter follows the sections, and the level contour of the
// piece carries the growth, the darker stretch, the lift, the falling away into the fade to
// black, movement two and its colder turn; then the closing fade with the picture's: bar 60 to
// bar 66.2 (116.1 s to 128.1 s).
MixAutomation automation() {
    return {
        Curve{{{0, 320},
               {8, 1300},
               {10, 1000},
               {19.95, 3400},
               {20, 850},
               {23, 1100},
               {24.95, 2600},
               {25, 5200},
               {29.5, 5200},
               {31.9, 550},
               {32, 2200},
               {41.95, 3000},
               {42, 4200},
               {52.95, 4800},
               {53, 2800},
               {59.95, 3000},
               {60, 2400},
               {67, 420}},
              true},
        Curve{{{0, 1.0}, {20, 1.0}, {20.5, 0.85}, {25, 1.0}, {30, 1.0}, {31.8, 0.65}, {32, 1.0}}},
        Curve{{{0, 1.0},
               {10, 0.86},
               {19.9, 1.0},
               {20, 0.8},
               {24.9, 0.86},
               {25, 1.06},
               {29.9, 1.06},
               {30, 0.95},
               {31.95, 0.5},
               {32, 1.0},
               {41.9, 1.0},
               {42, 1.06},
               {52.9, 1.08},
               {53, 0.86},
               {60, 0.86}}},
        60.0, 66.2};
}

void usage(FILE *to) {
    std::fprintf(
        to,
        "Usage: mksong [--quiet] [--verbose] OUTPUT.ogg\n"
        "       mksong --print-kicks\n"
        "       mksong --help\n"
        "\n"
        "Composes and renders the Vellamor soundtrack (124 BPM, bar n at n x 1935.484 ms,\n"
        "%d bars, %.1f s) and writes it as Ogg Vorbis, 44.1 kHz stereo, to OUTPUT.ogg\n"
        "(written to a temporary file beside it and renamed when complete).\n"
        "\n"
        "  --print-kicks  print every kick drum hit as 'beat time_ms velocity kind' and exit\n"
        "                 (kind: 'kick', or 'muffled' for the filtered heartbeat kick)\n"
        "  --quiet        print nothing on success\n"
        "  --verbose      also print how long each stage took\n"
        "  --help         show this help\n",
        kBars, kTotal / static_cast<double>(kRate));
}

} // namespace

int main(int argc, char **argv) {
    std::string output;
    bool quiet = false, printKicks = false, verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--quiet" || a == "-q") {
            quiet = true;
        } else if (a == "--verbose" || a == "-v") {
            verbose = true;
        } else if (a == "--print-kicks") {
            printKicks = true;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "mksong: unknown option %s\n", a.c_str());
            usage(stderr);
            return 2;
        } else if (output.empty()) {
            output = a;
        } else {
            std::fprintf(stderr, "mksong: more than one output path given\n");
            usage(stderr);
            return 2;
        }
    }
    if (output.empty() && !printKicks) {
        std::fprintf(stderr, "mksong: no output path given\n");
        usage(stderr);
        return 2;
    }

    if (printKicks) {
        for (const Kick &k : kickPlan()) {
            std::printf("%d %.3f %.2f %s\n", static_cast<int>(std::lround(k.beat)),
                        k.beat * 60000.0 / kBpm, k.velocity, k.muffled ? "muffled" : "kick");
        }
        return 0;
    }
    const auto t0 = std::chrono::steady_clock::now();
    auto since = [&t0] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    };
    // Open the output first, so that a bad path fails at once rather than after the rendering.
    auto file = std::make_unique<OutFile>(output);
    if (!file->open()) {
        std::fprintf(stderr, "mksong: %s\n", file->error().c_str());
        return 1;
    }
    auto song = std::make_unique<Song>();
    arrange(*song);
    const double tArrange = since();
    const Mastered master = mixdown(song->mix, automation(), -14.0, -2.0);
    const double tMix = since();
    std::string error;
    const VorbisTags tags = {{"TITLE", "Vellamor"}, {"ARTIST", "Korvek"}, {"BPM", "124"}};
    if (!encodeOgg(song->mix.dry, tags, *file, &error)) {
        std::fprintf(stderr, "mksong: %s\n", error.c_str());
        return 1;
    }
    const double secs = since();
    if (verbose) {
        std::printf("mksong: arrangement and instruments %.2f s, mixing and mastering %.2f s, "
                    "encoding %.2f s\n",
                    tArrange, tMix - tArrange, secs - tMix);
    }
    if (!quiet) {
        std::printf("mksong: wrote %s: %.3f s, %d bars at %.0f BPM, %.2f LUFS, peak %.2f dBFS "
                    "before encoding, in %.2f s\n",
                    output.c_str(), kTotal / static_cast<double>(kRate), kBars, kBpm, master.lufs,
                    master.peakDb, secs);
    }
    return 0;
}