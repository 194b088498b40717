// mksong's score: the soundtrack's harmony, form, phrases, kick plan and parts, bar 0 to bar 69.
//
// Written on the show's bar grid (124 BPM, bar n at n x 1935.484 ms, the first at 0 s exactly).
// The synthesizer that plays it is in synth/, the mix's automation in mksong_mix.cpp, the command
// line in mksong_main.cpp.
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
// All noise comes from seeded generators, so the same source and build give the same file byte
// for byte. The parts go onto the buses in a fixed order (arrange()): the buses add in single
// precision, so that order is part of the sound.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "mksong.h"
#include "synth/bus.h"
#include "synth/drums.h"
#include "synth/dsp.h"
#include "synth/grid.h"
#include "synth/kit.h"
#include "synth/master.h"
#include "synth/noise.h"
#include "synth/voices.h"

namespace score {

using namespace synth;

namespace {

// ---------------------------------------------------------------------------------------------
// Harmony: one chord per bar.

struct Chord {
    int bass;               // bass note (octave 2), MIDI
    std::array<int, 4> pad; // pad voicing, MIDI
};

enum ChordName { Am, F, C, G, Dm, E, E7, Esus, Bb, Em, Am9c, Em7c, Fl, Dm9c };

// In the order of ChordName. The colder turn's chords (c) are voiced higher and more open: Am9,
// Em7, F lydian (Fl), Dm9.
const Chord kVoicings[] = {
    {45, {57, 60, 64, 71}}, // Am
    {41, {57, 60, 64, 67}}, // F
    {48, {55, 60, 64, 67}}, // C
    {43, {55, 59, 62, 67}}, // G
    {38, {57, 60, 62, 65}}, // Dm
    {40, {56, 59, 64, 68}}, // E
    {40, {56, 59, 62, 64}}, // E7
    {40, {57, 59, 64, 69}}, // Esus
    {46, {58, 62, 65, 69}}, // Bb
    {40, {55, 59, 62, 64}}, // Em
    {45, {55, 59, 60, 64}}, // Am9c
    {40, {59, 62, 64, 67}}, // Em7c
    {41, {57, 59, 64, 67}}, // Fl
    {38, {53, 57, 60, 64}}, // Dm9c
};

static_assert(std::size(kVoicings) == Dm9c + 1, "one voicing per chord name");

Chord chordOf(ChordName c) {
    return kVoicings[c];
}

// The chord of every bar, written against the show's timeline.
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
// Form: the sections, and the bars each part plays in.

enum Section { Intro, Growth, Darkening, Lift, FallingAway, MovementTwo, Rise, Colder, Closing };

// The bar each section begins on.
constexpr int kSectionStart[] = {0, 10, 20, 25, 30, 32, 42, 53, 60};

Section sectionOf(int bar) {
    int sec = Closing;
    while (bar < kSectionStart[sec])
        --sec;
    return static_cast<Section>(sec);
}

// The bars each part plays in.
const Lane kFullKick{{10, 30}, {32, 64}};
const Lane kHeartbeat{{0, 10}, {30, 32}, {64, 67}}; // the muffled kick
const Lane kBass{{11, 30}, {33, 64}};
const Lane kClaps{{12, 24}, {25, 30}, {32, 52}, {53, 62}};
const Lane kSnareFill{{19, 20}};
const Lane kSnareBuild{{24, 25}, {52, 53}};
const Lane kClosedHats{{4, 30}, {32, 62}};
const Lane kOpenHats{{14, 24}, {25, 30}, {32, 52}};
const Lane kOpenHatsEveryOffbeat{{25, 30}, {42, 52}}; // the two peaks
const Lane kRide{{42, 52}};
const Lane kArpeggio{{2, 10}, {11, 30}, {34, 53}, {60, 64}};

// Hits on the arrivals: the bar and the gain.
struct Hit {
    int bar;
    float gain;
};

const Hit kCrashes[] = {{10, 0.32f}, {20, 0.22f}, {25, 0.36f}, {32, 0.36f},
                        {42, 0.32f}, {53, 0.22f}, {60, 0.18f}};
const Hit kReverseCymbals[] = {{10, 0.2f}, {25, 0.24f}, {32, 0.3f}, {53, 0.2f}};
const Hit kRisers[] = {{8, 0.10f}, {23, 0.12f}, {51, 0.12f}}; // over the two bars before a change
const Hit kDownlifter = {30, 0.12f};
const Hit kBooms[] = {{25, 0.30f}, {32, 0.34f}};

// ---------------------------------------------------------------------------------------------
// Phrases: (start in sixteenths, length in sixteenths, MIDI note) per bar.

struct PhraseNote {
    int start, len, note;
};
using Phrase = std::vector<PhraseNote>;

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

} // namespace

// ---------------------------------------------------------------------------------------------
// Kick plan

// Where the kick drum plays, one hit per beat. The full kick plays from the cut at bar 10 to the
// fall at bar 30 and through movement two; a muffled one, like a heartbeat through a wall,
// carries the pulse through the intro under the fade from black, the falling away (bars 30-31)
// and the close.
std::vector<Kick> kickPlan() {
    std::vector<Kick> kicks;
    for (int bar = 0; bar < kBars; ++bar) {
        for (int b = 0; b < 4; ++b) {
            const double beat = bars(bar) + b;
            if (kFullKick.has(bar)) {
                const float vel = kSnareBuild.has(bar) && b >= 2 ? 0.8f : 1.0f;
                kicks.push_back({beat, vel, false});
            } else if (kHeartbeat.has(bar)) {
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

// ---------------------------------------------------------------------------------------------
// The parts

namespace {

// The pad: the chords, with runs of the same chord within a section held as one. It has a bus
// and a noise generator of its own; its voices are rendered as the mix reaches them.
void playPad(Mix &mix) {
    Rng rng(0x706164ull); // "pad"
    for (int bar = 0; bar < 67;) {
        int end = bar + 1;
        while (end < 67 && kChords[end] == kChords[bar] && sectionOf(end) == sectionOf(bar))
            ++end;
        const Chord ch = chordOf(kChords[bar]);
        const Section sec = sectionOf(bar);
        const double attack = bar == 0 ? 3.0 : (sec == FallingAway || sec == Colder ? 0.25 : 0.06);
        const double lenSec = (end - bar) * 4 * kSamplesPerBeat / kRate - 0.02;
        const double release = end >= 66 ? 3.5 : 0.45;
        const double glass = sec == Colder ? 1.0 : (sec == Closing ? 0.5 : 0.0);
        for (int k = 0; k < 4; ++k) {
            const PadVoice v = padVoice(rng, ch.pad[k], lenSec, attack, release, glass);
            addToPad(mix, later([v] { return renderPad(v); }), beatToSample(bars(bar)), 0.20f);
        }
        // A soft octave-down root under the pad for body.
        const PadVoice v = padVoice(rng, ch.bass + 12, lenSec, attack, release, glass);
        addToPad(mix, later([v] { return renderPad(v); }), beatToSample(bars(bar)), 0.12f);
        bar = end;
    }
}

// The kick, full or muffled, and the sidechain every ducking part follows.
void playKick(Mix &mix, const Kit &kit) {
    for (const Kick &k : kickPlan()) {
        const int beat = static_cast<int>(k.beat);
        const int bar = beat / 4;
        if (!k.muffled) {
            mix.duck.kick(beat, k.velocity);
            placeMono(mix, kit.kick, beatToSample(k.beat), 0.85f * k.velocity, 0.0f);
        } else {
            const auto &sound = (bar >= 8 && bar < 10) ? kit.kickHalfOpen : kit.kickMuffled;
            mix.duck.kick(beat, 0.3f * k.velocity);
            placeMono(mix, sound, beatToSample(k.beat), 0.95f * k.velocity, 0.0f);
        }
    }
}

// The bass enters a bar after each arrival (bar 11, bar 33): the cut at bar 10 and the start of
// movement two at bar 32 land on kick, crash and pad alone.
void playBass(Mix &mix) {
    for (int bar = 0; bar < kBars; ++bar) {
        if (!kBass.has(bar))
            continue;
        const Section sec = sectionOf(bar);
        const int root = chordOf(kChords[bar]).bass;
        std::vector<std::pair<int, int>> steps; // (sixteenth, semitone offset)
        double cutoff = 420, envAmt = 900, len16 = 1.7;
        switch (sec) {
        case Growth: // off-beat house bass; opens with the growth
            steps = {{2, 0}, {6, 0}, {10, 0}, {14, 0}};
            cutoff = 300 + 35.0 * (bar - 10);
            envAmt = 700 + 60.0 * (bar - 10);
            len16 = 1.8;
            break;
        case Darkening: // rolling, lower, closed
            steps = {{2, 0}, {3, 0}, {6, 0}, {7, 0}, {10, 0}, {11, 0}, {14, 0}, {15, 12}};
            cutoff = 260;
            envAmt = 650;
            len16 = 0.85;
            break;
        case Lift:
        case MovementTwo: // full: rolling with octave lifts
            steps = {{2, 0}, {3, 0}, {6, 0}, {7, 12}, {10, 0}, {11, 0}, {14, 0}, {15, 12}};
            cutoff = 380;
            envAmt = 1400;
            len16 = 0.85;
            break;
        case Rise: // octave pattern, brighter
            steps = {{2, 0}, {4, 12}, {6, 0}, {7, 0}, {10, 0}, {12, 12}, {14, 0}, {15, 7}};
            cutoff = 450;
            envAmt = 1800;
            len16 = 0.9;
            break;
        case Colder: // long notes, mostly sub
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
            const int pitch = root + off;
            const SoundPtr note = later([=] { return bassNote(pitch, len, cutoff, envAmt); });
            const float accent = (s % 4 == 2) ? 1.0f : 0.8f;
            placeMono(mix, note, beatToSample(beat), 0.42f * accent, 0.0f, {}, 0.45f);
        }
    }
}

// The sub under the bass, an octave down: one held note per chord, from the cut to the close.
void playSub(Mix &mix) {
    for (int bar = 10; bar < 64;) {
        int end = bar + 1;
        while (end < 64 && chordOf(kChords[end]).bass == chordOf(kChords[bar]).bass &&
               sectionOf(end) == sectionOf(bar))
            ++end;
        if (sectionOf(bar) != FallingAway) {
            const double len = (end - bar) * 4 * kSamplesPerBeat / kRate - 0.03;
            const int pitch = chordOf(kChords[bar]).bass - 12;
            placeMono(mix, later([=] { return subNote(pitch, len); }), beatToSample(bars(bar)),
                      0.2f, 0.0f, {}, 0.85f);
        }
        bar = end;
    }
}

// Claps, snare fill and builds, closed and open hats, ride: bar by bar, taking the kit's
// round-robin takes in the order they sound.
void playDrums(Mix &mix, Kit &kit) {
    for (int bar = 0; bar < kBars; ++bar) {
        const Section sec = sectionOf(bar);
        if (kClaps.has(bar)) {
            for (int b : {1, 3})
                place(mix, kit.next(kit.claps), beatToSample(bars(bar) + b), 0.52f, {0.18f, 0.0f});
        }
        if (kSnareFill.has(bar)) { // a small fill into the darkening
            for (int s : {12, 13, 14}) {
                placeMono(mix, kit.next(kit.snares), beatToSample(bars(bar) + s / 4.0),
                          0.28f + 0.06f * (s - 12), 0.1f, {0.2f, 0.0f});
            }
        }
        const bool build = kSnareBuild.has(bar);
        if (build) { // snare builds: eighths, sixteenths, thirty-seconds, then an eighth's breath
            for (int s = 0; s < 12; ++s) {
                const double pos =
                    s < 4 ? s * 0.5 : (s < 8 ? 2.0 + (s - 4) * 0.25 : 3.0 + (s - 8) * 0.125);
                const SoundPtr &sn = kit.next(kit.snares);
                const float vel = static_cast<float>(0.15 + 0.3 * pos / 4.0);
                placeMono(mix, sn, beatToSample(bars(bar) + pos), vel, (s % 2) ? 0.15f : -0.15f,
                          {0.25f, 0.0f});
            }
        }
        // Closed hats on sixteenths, with a little swing on the off-sixteenths.
        if (kClosedHats.has(bar)) {
            static constexpr std::array<float, 4> accents = {0.8f, 0.25f, 0.45f, 0.25f};
            double level =
                sec == Intro ? 0.25 + 0.5 * (bar - 4) / 5.0 : (sec == Darkening ? 0.8 : 1.0);
            if (sec == Colder)
                level = 0.75;
            for (int s = 0; s < 16; ++s) {
                if (sec == Intro && bar < 6 && s % 2 == 1)
                    continue; // eighths first
                if (build && s >= 14)
                    continue;
                const double swing = (s % 2) ? 0.035 : 0.0;
                const SoundPtr &h = kit.next(s % 4 == 2 ? kit.longClosedHats : kit.closedHats);
                placeMono(mix, h, beatToSample(bars(bar) + s / 4.0 + swing),
                          static_cast<float>(0.32 * level * accents[s % 4]), 0.25f, {0.05f, 0.0f});
            }
        }
        // Open hats: on every off-beat in the two peaks (the lift under the logo, the camera's
        // rise), elsewhere only on the last off-beat of every other bar.
        if (kOpenHats.has(bar)) {
            for (int b = 0; b < 4; ++b) {
                if (!kOpenHatsEveryOffbeat.has(bar) && !(b == 3 && bar % 2 == 1))
                    continue;
                placeMono(mix, kit.next(kit.openHats), beatToSample(bars(bar) + b + 0.5), 0.1f,
                          -0.3f, {0.12f, 0.0f});
            }
        }
        if (kRide.has(bar)) { // on the beats while the camera rises
            for (int b = 0; b < 4; ++b)
                place(mix, kit.next(kit.rides), beatToSample(bars(bar) + b), 0.09f, {0.1f, 0.0f});
        }
    }
}

// Crashes on the arrivals (the dark one for the colder turn), and reverse cymbals swelling into
// the big ones, each ending a thirty-second before the bar line: a breath before the hit.
void playCymbals(Mix &mix, const Kit &kit) {
    for (Hit c : kCrashes) {
        const bool dark = c.bar == 53;
        place(mix, dark ? kit.darkCrash : kit.crash, beatToSample(bars(c.bar)), c.gain,
              {0.3f, 0.0f});
    }
    for (Hit c : kReverseCymbals) {
        const int64_t gap = static_cast<int64_t>(kSamplesPerBeat / 8),
                      len = static_cast<int64_t>(kit.reverseCymbal->length());
        place(mix, kit.reverseCymbal, beatToSample(bars(c.bar)) - gap - len, c.gain, {0.2f, 0.0f});
    }
}

// Risers into the changes, a downlifter into the fall, booms under the two big arrivals.
void playSweeps(Mix &mix, Rng &rng) {
    for (Hit c : kRisers) {
        const double sec =
            (2 * 4 - 0.25) * kSamplesPerBeat / kRate; // ends a sixteenth before the change
        place(mix, share(sweep(rng, sec, 250, 7000, true)), beatToSample(bars(c.bar)), c.gain,
              {0.25f, 0.0f});
    }
    place(mix, share(sweep(rng, 2 * 4 * kSamplesPerBeat / kRate, 6000, 180, false)),
          beatToSample(bars(kDownlifter.bar)), kDownlifter.gain, {0.4f, 0.0f});
    const SoundPtr impact = later(boom);
    for (Hit c : kBooms)
        placeMono(mix, impact, beatToSample(bars(c.bar)), c.gain, 0.0f, {0.1f, 0.0f});
}

// The arpeggio: chord tones an octave above the pad. It rests at the cut (bar 10) and for the
// first two bars of movement two, where its hook enters.
void playArpeggio(Mix &mix) {
    // Plucks repeat the same notes many times: each distinct one is rendered once.
    std::map<std::tuple<int, double, double>, SoundPtr> plucks;
    for (int bar = 0; bar < kBars; ++bar) {
        if (!kArpeggio.has(bar))
            continue;
        const Section sec = sectionOf(bar);
        const Chord ch = chordOf(kChords[bar]);
        std::array<int, 5> tones = {ch.pad[0] + 12, ch.pad[1] + 12, ch.pad[2] + 12, ch.pad[3] + 12,
                                    ch.pad[0] + 24};
        std::vector<std::pair<int, int>> pat; // (sixteenth, tone index)
        if (sec == MovementTwo) { // the hook: a 3-3-2 figure against the four-to-the-floor
            pat = {{0, 4}, {3, 2}, {6, 3}, {8, 4}, {11, 2}, {14, 1}};
        } else {
            static constexpr std::array<int, 16> updown = {0, 1, 2, 3, 4, 3, 2, 1,
                                                           0, 1, 2, 3, 4, 3, 2, 1};
            for (int s = 0; s < 16; ++s) {
                if (sec == Intro && bar < 6 && s % 2)
                    continue;
                pat.push_back({s, updown[s]});
            }
        }
        double cutoff = 1800, level = 0.16, decay = 0.16;
        switch (sec) {
        case Intro:
            cutoff = 500 + 170.0 * (bar - 2);
            level = 0.10 + 0.012 * (bar - 2);
            break;
        case Growth:
            cutoff = 1500 + 220.0 * (bar - 10);
            level = 0.15;
            break;
        case Darkening:
            cutoff = 900;
            level = 0.13;
            break;
        case Lift:
            cutoff = 3200;
            level = 0.12;
            break;
        case MovementTwo:
            cutoff = 2600;
            level = 0.20;
            decay = 0.2;
            break;
        case Rise:
            cutoff = 2400;
            level = 0.09;
            break;
        default:
            cutoff = 1100;
            level = 0.09;
            break;
        }
        for (auto [s, idx] : pat) {
            auto [it, fresh] = plucks.try_emplace({tones[idx], cutoff, decay});
            if (fresh)
                it->second = later(
                    [tone = tones[idx], cutoff, decay] { return pluck(tone, cutoff, decay); });
            const float pan = (s % 2) ? 0.35f : -0.35f;
            placeMono(mix, it->second, beatToSample(bars(bar) + s / 4.0),
                      static_cast<float>(1.25 * level), pan, {0.15f, 0.22f}, 0.3f);
        }
    }
}

// The lead: a hint of theme A in the growth, theme A in full under the logo, theme B as the
// camera rises.
void playLead(Mix &mix) {
    auto phrase = [&mix](const Phrase &ph, int bar, double cutoff, float level) {
        for (const PhraseNote &nt : ph) {
            const double len = nt.len * kSamplesPerBeat / 4.0 / kRate - 0.01;
            place(mix,
                  later([pitch = nt.note, len, cutoff] { return leadNote(pitch, len, cutoff); }),
                  beatToSample(bars(bar) + nt.start / 4.0), 1.25f * level, {0.25f, 0.3f}, 0.15f);
        }
    };
    auto themeA = [](int bar) {
        const ChordName c = kChords[bar];
        return kThemeA[c == Am ? 0 : c == F ? 1 : c == C ? 2 : 3];
    };
    for (int bar = 14; bar < 18; ++bar)
        phrase(themeA(bar), bar, 900 + 150.0 * (bar - 14), 0.10f);
    for (int bar = 25; bar < 29; ++bar)
        phrase(themeA(bar), bar, 3000, 0.17f);
    phrase({{0, 16, 81}}, 29, 3200, 0.16f);
    phrase({{0, 8, 79}, {8, 8, 76}}, 30, 1800, 0.09f);
    for (int bar = 42; bar < 50; ++bar)
        phrase(kThemeB[bar - 42], bar, 3400, 0.15f);
    for (int bar = 50; bar < 53; ++bar)
        phrase(kThemeBEnd[bar - 50], bar, 3000, 0.15f);
}

// Bells through the colder turn and the close, and a last bell chord to end on.
void playBells(Mix &mix) {
    std::map<int, SoundPtr> bells; // each distinct note rendered once
    for (int bar = 53; bar < 66; ++bar) {
        const Chord ch = chordOf(kChords[bar]);
        static constexpr std::array<std::pair<int, int>, 6> pat = {
            {{0, 3}, {3, 2}, {6, 0}, {8, 1}, {11, 2}, {14, 1}}};
        const float level = bar < 60 ? 0.12f : 0.10f;
        for (auto [s, idx] : pat) {
            auto [it, fresh] = bells.try_emplace(ch.pad[idx] + 12);
            if (fresh)
                it->second = later([pitch = ch.pad[idx] + 12] { return bell(pitch, 0.55); });
            placeMono(mix, it->second, beatToSample(bars(bar) + s / 4.0), level,
                      (idx % 2) ? 0.4f : -0.4f, {0.4f, 0.35f}, 0.3f);
        }
    }
    for (int k = 0; k < 4; ++k) {
        const SoundPtr b = later([pitch = chordOf(Am).pad[k] + 12] { return bell(pitch, 1.6); });
        placeMono(mix, b, beatToSample(bars(64)) + k * 900, 0.09f, -0.3f + 0.2f * k, {0.5f, 0.3f});
    }
}

} // namespace

// Every part onto the buses, in this order.
void arrange(Mix &mix) {
    playPad(mix);
    Rng rng(0x56656C6C616D6F72ull); // "Vellamor"
    Kit kit(rng);
    playKick(mix, kit);
    playBass(mix);
    playSub(mix);
    playDrums(mix, kit);
    playCymbals(mix, kit);
    playSweeps(mix, rng);
    playArpeggio(mix);
    playLead(mix);
    playBells(mix);
}

} // namespace score
