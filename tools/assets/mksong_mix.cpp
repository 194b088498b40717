// The song's mix: the pad filter's sweep, the level contour and the closing fade, over bars;
// and the whole render, from the score to the mastered samples.
#include "mksong.h"

#include <memory>

namespace score {

using synth::Curve;
using synth::MixAutomation;

namespace {
constexpr double kTargetLufs = -14.0; // integrated loudness of the finished song
constexpr double kCeilingDb = -2.0;   // its sample peaks at most
constexpr double kArranged = 0.1;     // the share of the work done once every part is placed
} // namespace

// The mix's automation, over bar positions: the pad's filter follows the sections; the level
// contour carries the growth, the darker stretch, the lift, the falling away into the fade to
// black, movement two and its colder turn; then the closing fade with the picture's, bar 60 to
// bar 66.2 (116.1 s to 128.1 s).
MixAutomation automation() {
    MixAutomation a;
    // clang-format off
    a.padCutoff = {{{0, 320}, {8, 1300},                  // Hz: the intro opening up
                    {10, 1000}, {19.95, 3400},            // growth
                    {20, 850}, {23, 1100}, {24.95, 2600}, // darkening
                    {25, 5200}, {29.5, 5200},             // lift
                    {31.9, 550},                          // falling away
                    {32, 2200}, {41.95, 3000},            // movement two
                    {42, 4200}, {52.95, 4800},            // the rise
                    {53, 2800}, {59.95, 3000},            // colder
                    {60, 2400}, {67, 420}},               // closing
                   true};
    a.padLevel = {{{0, 1.0}, {20, 1.0}, {20.5, 0.85}, {25, 1.0}, {30, 1.0}, {31.8, 0.65},
                   {32, 1.0}}};
    a.level = {{{0, 1.0}, {10, 0.86}, {19.9, 1.0},        // intro, growth
                {20, 0.8}, {24.9, 0.86},                  // darkening
                {25, 1.06}, {29.9, 1.06},                 // lift
                {30, 0.95}, {31.95, 0.5},                 // falling away
                {32, 1.0}, {41.9, 1.0},                   // movement two
                {42, 1.06}, {52.9, 1.08},                 // the rise
                {53, 0.86}, {60, 0.86}}};                 // colder, and on into the fade
    // clang-format on
    a.fadeFrom = 60.0;
    a.fadeTo = 66.2;
    return a;
}

synth::Mastered render(synth::SongStore &store, const synth::Progress &progress) {
    auto mix = std::make_unique<synth::Mix>();
    progress(0.0);
    arrange(*mix);
    progress(kArranged);
    return synth::mixdown(*mix, automation(), kTargetLufs, kCeilingDb, store,
                          [&](double done) { progress(kArranged + (1.0 - kArranged) * done); });
}

} // namespace score
