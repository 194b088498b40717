// The song maker's own elementary functions: within an ulp of the true value (long double's)
// over the ranges the synthesizer uses and beyond, the edge cases as the C library has them,
// the symmetries exact, and the same bits as on the build that pinned them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "synth/maths.h"

namespace {

namespace m = synth::maths;
constexpr double kInf = std::numeric_limits<double>::infinity();

int64_t ordered(double x) {
    int64_t i;
    std::memcpy(&i, &x, sizeof i);
    return i < 0 ? std::numeric_limits<int64_t>::min() - i : i;
}
// Distance in units in the last place.
int64_t ulps(double a, double b) {
    const int64_t d = ordered(a) - ordered(b);
    return d < 0 ? -d : d;
}

struct Case {
    const char *name;
    std::function<double(double)> ours;
    std::function<long double(long double)> truth;
    double from, to;
    bool logScale; // draw exp(uniform(from, to))
};

const Case kCases[] = {
    {"exp", m::exp, [](long double x) { return expl(x); }, -745, 709, false},
    {"exp small", m::exp, [](long double x) { return expl(x); }, -1, 1, false},
    {"log", m::log, [](long double x) { return logl(x); }, -700, 700, true},
    {"log near 1", m::log, [](long double x) { return logl(x); }, -0.3, 0.3, true},
    {"log10", m::log10, [](long double x) { return log10l(x); }, -700, 700, true},
    {"pow 2^y", [](double y) { return m::pow(2.0, y); }, [](long double y) { return powl(2, y); },
     -8, 8, false},
    {"pow 10^y", [](double y) { return m::pow(10.0, y); },
     [](long double y) { return powl(10, y); }, -5, 5, false},
    {"pow x^0.5", [](double x) { return m::pow(x, 0.5); },
     [](long double x) { return powl(x, 0.5L); }, -20, 20, true},
    {"sin", m::sin, [](long double x) { return sinl(x); }, -10, 10, false},
    {"sin far", m::sin, [](long double x) { return sinl(x); }, -1e6, 1e6, false},
    {"cos", m::cos, [](long double x) { return cosl(x); }, -10, 10, false},
    {"tan", m::tan, [](long double x) { return tanl(x); }, -1.5, 1.5, false},
    {"tanh", m::tanh, [](long double x) { return tanhl(x); }, -25, 25, false},
    {"tanh small", m::tanh, [](long double x) { return tanhl(x); }, -1e-3, 1e-3, false},
};

TEST(SongMaths, WithinAnUlpOfTheTrueValue) {
    for (const Case &c : kCases) {
        std::mt19937_64 rng(7);
        std::uniform_real_distribution<double> draw(c.from, c.to);
        int64_t worst = 0;
        double at = 0;
        for (int i = 0; i < 100000; ++i) {
            const double x = c.logScale ? std::exp(draw(rng)) : draw(rng);
            const int64_t off = ulps(c.ours(x), static_cast<double>(c.truth(x)));
            if (off > worst)
                worst = off, at = x;
        }
        EXPECT_LE(worst, 1) << c.name << " at " << at;
    }
}

TEST(SongMaths, EdgesAsTheCLibraryHasThem) {
    EXPECT_EQ(m::exp(0), 1.0);
    EXPECT_EQ(m::exp(-800), 0.0);
    EXPECT_EQ(m::exp(710), kInf);
    EXPECT_EQ(m::exp(-kInf), 0.0);
    EXPECT_TRUE(std::isnan(m::exp(NAN)));
    EXPECT_GT(m::exp(-740), 0.0); // subnormal, not flushed
    EXPECT_EQ(m::log(1), 0.0);
    EXPECT_EQ(m::log(0), -kInf);
    EXPECT_EQ(m::log(kInf), kInf);
    EXPECT_TRUE(std::isnan(m::log(-1)));
    EXPECT_LE(ulps(m::log(4.9e-324), std::log(4.9e-324)), 1); // the smallest subnormal
    EXPECT_EQ(m::log10(1000), 3.0);
    EXPECT_EQ(m::log10(0), -kInf);
    EXPECT_EQ(m::pow(7.5, 0), 1.0);
    EXPECT_EQ(m::pow(1, 1e300), 1.0);
    EXPECT_EQ(m::pow(2, 10), 1024.0);
    EXPECT_EQ(m::pow(0, 2), 0.0);
    EXPECT_EQ(m::pow(0, -1), kInf);
    EXPECT_EQ(m::pow(kInf, -2), 0.0);
    EXPECT_EQ(m::pow(10, 400), kInf);
    EXPECT_TRUE(std::isnan(m::pow(-2, 0.5)));
    EXPECT_EQ(m::sin(0), 0.0);
    EXPECT_EQ(m::cos(0), 1.0);
    EXPECT_EQ(m::tan(0), 0.0);
    EXPECT_EQ(m::tanh(0), 0.0);
    EXPECT_EQ(m::tanh(30), 1.0);
    EXPECT_EQ(m::tanh(-30), -1.0);
    EXPECT_EQ(m::tanh(1e-20), 1e-20);
}

TEST(SongMaths, SymmetriesExact) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> draw(0, 8);
    for (int i = 0; i < 10000; ++i) {
        const double x = draw(rng);
        EXPECT_EQ(m::sin(-x), -m::sin(x));
        EXPECT_EQ(m::cos(-x), m::cos(x));
        EXPECT_EQ(m::tan(-x), -m::tan(x));
        EXPECT_EQ(m::tanh(-x), -m::tanh(x));
    }
}

// A digest of the bits of many results: a build that rounds or fuses anything differently
// (say, contracted into fused multiply-adds) changes it. GCC on x86-64 and emscripten's
// WebAssembly both give this one; the web tests check the whole song's samples alike.
TEST(SongMaths, TheSameBitsAsEverywhere) {
    uint64_t h = 1469598103934665603ull; // FNV-1a
    auto mixIn = [&h](double v) {
        uint64_t u;
        std::memcpy(&u, &v, sizeof u);
        for (int b = 0; b < 8; ++b) {
            h ^= (u >> (8 * b)) & 0xFF;
            h *= 1099511628211ull;
        }
    };
    for (int i = 1; i <= 20000; ++i) {
        const double x = i * 0.000731 - 7.0;
        mixIn(m::exp(x));
        mixIn(m::log(i * 0.37));
        mixIn(m::log10(i * 0.37));
        mixIn(m::pow(i * 0.0011, x));
        mixIn(m::sin(x));
        mixIn(m::cos(x));
        mixIn(m::tan(x * 0.2));
        mixIn(m::tanh(x));
    }
    EXPECT_EQ(h, 0x2dd37c6be885e0c6ull) << std::hex << h;
}

} // namespace
