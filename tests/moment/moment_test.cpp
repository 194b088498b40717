// The show at given demo times: times read before anything has set the tempo, the bar rule
// shared with the clock step, and the still clock's choice of frames and refusals.
#include <SDL.h>
#include <gtest/gtest.h>

#include "moment/moment.h"
#include "runtime/runtime.h"

namespace {

// Read during static initialisation, before any test or start-up has set the tempo: a page
// that opens on a bar:beat link reads its time in exactly this state.
const double FRESH_BAR_32 = moment::parse_time("32:0", nullptr).value_or(-1.0);

TEST(Moment, BarBeatTimesNeedNothingSetFirst) {
    EXPECT_EQ(FRESH_BAR_32, 61935.484375);
    EXPECT_EQ(moment::parse_time("0:2", nullptr), 2.0 * 483.8709716796875);
    EXPECT_EQ(moment::parse_time("61.9s", nullptr), 61900.0);
    EXPECT_EQ(moment::parse_time("61936ms", nullptr), 61936.0);
}

TEST(Moment, BarNumbersAreTheClockStepsOwn) {
    ASSERT_EQ(SDL_Init(SDL_INIT_TIMER), 0) << SDL_GetError();
    aseta_tempo();
    // Around every bar line, where a rule restated in another precision would differ.
    for (uint32_t bar = 0; bar <= moment::END_BAR; ++bar) {
        const auto line = static_cast<uint32_t>(bar * 4 * 483.8709716796875);
        for (uint32_t t = line > 0 ? line - 1 : 0; t <= line + 1; ++t) {
            // The clock step derives the bar from the time the previous step left in `aika`.
            aika = t;
            laske_kulunut_aika();
            ASSERT_EQ(moment::bar_after(t), tahdit) << "at " << t << " ms";
        }
    }
    SDL_Quit();
    EXPECT_EQ(moment::bar_after(60000), 30u);
    EXPECT_EQ(moment::bar_after(60001), 31u);
    EXPECT_EQ(moment::bar_after(61936), 32u);
    EXPECT_EQ(moment::bar_after(129678), 67u);
}

TEST(Moment, StillClockChoosesTheFramesBeforeIt) {
    const moment::FrameClock clock(moment::STILL_FPS);
    std::string why;

    // On the clock: the frame nearest to the time, after the frame before it.
    auto still = moment::still_clock("32:0", "", clock, &why);
    ASSERT_TRUE(still) << why;
    ASSERT_TRUE(still->frame);
    EXPECT_EQ(*still->frame, clock.nearest_frame(61935.484375));
    EXPECT_EQ(still->now, clock.aika(*still->frame));
    EXPECT_EQ(still->previous, clock.aika(*still->frame - 1));
    EXPECT_EQ(still->before, clock.aika(*still->frame - 2));
    EXPECT_TRUE(still->two_frames);

    // The opening frame has no frame before it.
    still = moment::still_clock("0", "", clock, &why);
    ASSERT_TRUE(still);
    EXPECT_FALSE(still->two_frames);
    EXPECT_EQ(still->now, 0u);

    // After a named frame: the one before that at the same spacing, not below 0.
    still = moment::still_clock("61953", "61936", clock, &why);
    ASSERT_TRUE(still) << why;
    EXPECT_FALSE(still->frame);
    EXPECT_EQ(still->before, 61919u);
    EXPECT_EQ(still->previous, 61936u);
    EXPECT_EQ(still->now, 61953u);
    still = moment::still_clock("30", "20", clock, &why);
    ASSERT_TRUE(still);
    EXPECT_EQ(still->before, 10u);
    still = moment::still_clock("100", "20", clock, &why);
    ASSERT_TRUE(still);
    EXPECT_EQ(still->before, 0u);

    // The closing frame is the last one a still may show, on the clock or after a frame.
    const std::string end = std::to_string(clock.aika(clock.end_frame()));
    EXPECT_TRUE(moment::still_clock(end, "", clock, &why));
    EXPECT_FALSE(moment::still_clock("130s", "", clock, &why));
    EXPECT_NE(why.find("beyond the show"), std::string::npos) << why;
    EXPECT_FALSE(moment::still_clock("129700", "129690", clock, &why));
    EXPECT_NE(why.find("beyond the show"), std::string::npos) << why;
    EXPECT_FALSE(moment::still_clock("1000", "2000", clock, &why));
    EXPECT_NE(why.find("comes after"), std::string::npos) << why;
    EXPECT_FALSE(moment::still_clock("32:4", "", clock, &why));
    EXPECT_NE(why.find("not within a bar"), std::string::npos) << why;
    EXPECT_FALSE(moment::still_clock("1000", "soon", clock, &why));
    EXPECT_NE(why.find("'soon' is not a time"), std::string::npos) << why;
}

} // namespace
