// The demo clock against SDL's real millisecond timer: bar lines, the one-frame lag of the bar
// number, the spin on the tick and unsigned wrap-around; and the exit handler's odd-code branch.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <SDL.h>
#include <gtest/gtest.h>

#include "runtime/runtime.h"

namespace {

class Clock : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(SDL_Init(SDL_INIT_TIMER), 0) << SDL_GetError(); }
    static void TearDownTestSuite() { SDL_Quit(); }
    void SetUp() override {
        aseta_tempo();
        aika = tahdit = alkuaika = 0;
    }
};

// The bar number of a step that starts from `edellinen` as the previous step's time.
uint32_t bar_after(uint32_t edellinen) {
    aika = edellinen;
    laske_kulunut_aika();
    return tahdit;
}

TEST_F(Clock, BarLinesFallOnTheSinglePrecisionBeat) {
    EXPECT_EQ(bpm, 124.0f);
    EXPECT_EQ(interval, 483.8709716796875f);
    EXPECT_EQ(bar_after(0), 0u);
    EXPECT_EQ(bar_after(1935), 0u);
    EXPECT_EQ(bar_after(1936), 1u);
    // A single-precision quotient would already give 31 at 60000.
    EXPECT_EQ(bar_after(60000), 30u);
    EXPECT_EQ(bar_after(60001), 31u);
    EXPECT_EQ(bar_after(61935), 31u);
    EXPECT_EQ(bar_after(61936), 32u);
    EXPECT_EQ(bar_after(127741), 65u);
    EXPECT_EQ(bar_after(127742), 66u);
    EXPECT_EQ(bar_after(129677), 66u);
    EXPECT_EQ(bar_after(129678), 67u);
}

TEST_F(Clock, BarNumberLagsOneStepBehindTheTime) {
    // Start the demo 61936 ms in the past: the first step still sees the old time.
    alkuaika = SDL_GetTicks() - 61936;
    aika = 0;
    laske_kulunut_aika();
    EXPECT_EQ(tahdit, 0u);
    EXPECT_GE(aika, 61936u);
    EXPECT_LT(aika, 61936u + 1000u);
    laske_kulunut_aika();
    EXPECT_EQ(tahdit, 32u);
}

TEST_F(Clock, EachStepWaitsForAFreshTick) {
    const int32_t summa_alussa = average_frame_time;
    uint32_t yhteensa = 0;
    for (int i = 0; i < 20; ++i) {
        const uint32_t edellinen = uusi_aika;
        laske_kulunut_aika();
        EXPECT_NE(uusi_aika, edellinen);
        EXPECT_EQ(vanha_aika, edellinen);
        EXPECT_GE(kulunut_aika, 1u);
        EXPECT_EQ(kulunut_aika, uusi_aika - vanha_aika);
        EXPECT_EQ(frame_time, static_cast<int32_t>(kulunut_aika));
        yhteensa += kulunut_aika;
    }
    EXPECT_EQ(static_cast<uint32_t>(average_frame_time - summa_alussa), yhteensa);
    EXPECT_EQ(aika_phase, 0u);
    EXPECT_EQ(aika_sync, 0u);
}

TEST_F(Clock, DemoTimeWrapsModulo2To32) {
    // A start tick in the future gives a huge unsigned time, never a negative one.
    alkuaika = SDL_GetTicks() + 1000;
    laske_kulunut_aika();
    EXPECT_GT(aika, 0xFFFFFFFFu - 1000u);
    laske_kulunut_aika();
    EXPECT_EQ(tahdit, static_cast<uint32_t>(static_cast<double>(0xFFFFFFFFu - 999u) /
                                            (4.0 * static_cast<double>(interval))));
}

TEST_F(Clock, ActionStepCountsFrames) {
    frames_drawn = 0;
    for (int i = 0; i < 7; ++i)
        toimi();
    EXPECT_EQ(frames_drawn, 7);
}

// The exit handler interprets the exit code on the way out of a real process.
std::string exit_output(int32_t koodi, int *status) {
    int putki[2];
    if (pipe(putki) != 0)
        return "pipe failed";
    fflush(stdout); // or the child would write out what the test runner has buffered so far
    const pid_t lapsi = fork();
    if (lapsi == 0) {
        dup2(putki[1], STDOUT_FILENO);
        atexit(lopetusfunktio);
        virhe = koodi;
        exit(koodi);
    }
    close(putki[1]);
    std::string teksti;
    char puskuri[256];
    ssize_t n;
    while ((n = read(putki[0], puskuri, sizeof puskuri)) > 0)
        teksti.append(puskuri, static_cast<size_t>(n));
    close(putki[0]);
    waitpid(lapsi, status, 0);
    return teksti;
}

TEST(ExitHandler, ReportsAnUnknownCodeAndNothingForKnownOnes) {
    int status = 0;
    EXPECT_EQ(exit_output(5, &status), "Virhekoodi väärin 5\n");
    EXPECT_EQ(WEXITSTATUS(status), 5);
    EXPECT_EQ(exit_output(-3, &status), "Virhekoodi väärin -3\n");
    EXPECT_EQ(exit_output(1, &status), "");
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(exit_output(0, &status), "");
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ShaderSource, ReadsAWholeFileZeroTerminated) {
    char polku[] = "/tmp/vellamor_shaderXXXXXX";
    const int fd = mkstemp(polku);
    ASSERT_GE(fd, 0);
    const std::string sisalto = std::string("void main() {}\n") + '\0' + "tail";
    ASSERT_EQ(write(fd, sisalto.data(), sisalto.size()), static_cast<ssize_t>(sisalto.size()));
    close(fd);
    char *puskuri = LoadShaderSource(polku);
    ASSERT_NE(puskuri, nullptr);
    EXPECT_EQ(std::string(puskuri, sisalto.size()), sisalto);
    EXPECT_EQ(puskuri[sisalto.size()], '\0');
    free(puskuri);
    unlink(polku);
    EXPECT_EQ(LoadShaderSource("/nonexistent/shader.glsl"), nullptr);
}

} // namespace
