// Where the scenes should put their boxes and how they should colour them, worked out
// independently: one transform and colour pair per box, in drawing order.
#pragma once
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "boxes.h"
#include "gl_harness/context.h"

namespace vt {

struct ExpectedBox {
    Mat4 M;      // maps the table's box to where it is drawn
    float s = 1; // top-face scale
    std::array<float, 4> top{}, bottom{};
    bool drawn = true;
};

inline std::array<float, 4> rgb(double r, double g, double b) {
    return {static_cast<float>(r), static_cast<float>(g), static_cast<float>(b), 1.0f};
}

// One floor in the frame M: 146 boxes from the generator seeded with 1234, two numbers per box.
inline std::vector<ExpectedBox> expected_floor(const Mat4 &M) {
    std::vector<ExpectedBox> boxes;
    srand(1234);
    for (int i = 4; i <= 149; ++i) {
        ExpectedBox b;
        const double a = (150 - i) / 40.0;
        b.top = b.bottom = rgb(0.045 / std::sqrt(a), 0.01 / std::sqrt(a), 0);
        const float side = static_cast<float>(1000.0 / (i * i));
        const float height = static_cast<float>((150 - i) / 130 + 0.05);
        const int e = rand();
        const int f = rand();
        const float tx = static_cast<float>(i * (e % 100) / 100.0 - i / 2.0);
        const float ty = static_cast<float>(i / 20.0 - 5);
        const float tz = static_cast<float>(i * (f % 100) / 100.0 - i / 2.0);
        b.M = M * Mat4::scale(side, height, side) * Mat4::translate(tx, ty, tz);
        b.drawn = e > 20;
        boxes.push_back(b);
    }
    return boxes;
}

inline std::vector<ExpectedBox> expected_row() {
    std::vector<ExpectedBox> boxes;
    for (float k = 0; k < 10; ++k) {
        ExpectedBox b;
        b.M = Mat4::translate(static_cast<float>(6 * k - 40), 5,
                              static_cast<float>(25 * std::sin(static_cast<double>(k)) - 30)) *
              Mat4::rotate(static_cast<float>(370 * k), 0, 1, 0) * Mat4::scale(5, 5, 5);
        b.s = 0;
        b.top = rgb(0.85f, 0.34f, 0.17f);
        b.bottom = rgb(0.25f, 0.1f, 0.05f);
        b.drawn = k != 6;
        boxes.push_back(b);
    }
    return boxes;
}

// The fade factor of the arc's colour, from the time since bar 53.
inline float arc_fade(uint32_t aika_ms) {
    const float iv = beat_ms();
    const float m =
        std::fmax(static_cast<float>((static_cast<double>(aika_ms) - 212.0 * iv) / 10.0), 0.0f);
    const double cube = static_cast<double>(m) * m * m;
    const float q = static_cast<float>(cube / 12500 / 5 / 30);
    return std::fmax(q / 30.0f, 1.0f);
}

inline std::array<float, 4> arc_colour(uint32_t aika_ms) {
    const double g = arc_fade(aika_ms);
    const double h = 0.5 * (1 - 1 / g);
    return rgb(0.65 / g + h, 0.05 / g + h, h);
}

inline std::vector<ExpectedBox> expected_arc(const Mat4 &M, uint32_t aika_ms) {
    std::vector<ExpectedBox> boxes;
    for (int i = 0; i < 5; ++i) {
        ExpectedBox b;
        b.M = M * Mat4::translate(0, 1, 0) * Mat4::rotate(static_cast<float>(50 * i), 0, 0, 1) *
              Mat4::scale(0.5, 0.5, 0.5) * Mat4::translate(3, 0, 0);
        b.top = b.bottom = arc_colour(aika_ms);
        boxes.push_back(b);
    }
    return boxes;
}

// The drift of the upper blocks of a tower of index a < 3.
inline float tower_drift(uint32_t aika_ms, int a) {
    const float iv = beat_ms();
    const float since =
        std::fmax(static_cast<float>(static_cast<double>(aika_ms) - (6.0 * a + 44.0) * iv), 0.0f);
    return static_cast<float>(std::pow(since * 0.0002, 1.5));
}

struct TowerPlace {
    int group, j;
    float x, z, scale;
};

inline std::vector<TowerPlace> tower_places() {
    const float offsets[4][3] = {{-5, 0, 1}, {0, -7, 1.2f}, {5, 18, 3}, {-17, 30, 6}};
    const float groups[3][2] = {{0, 0}, {10, 10}, {-20, -30}};
    std::vector<TowerPlace> places;
    for (int g = 0; g < 3; ++g)
        for (int j = 0; j < (g == 0 ? 4 : 3); ++j)
            places.push_back(
                {g, j, offsets[j][0] + groups[g][0], offsets[j][1] + groups[g][1], offsets[j][2]});
    return places;
}

// The frame of a whole tower: its place, its breathing height and its turn.
inline Mat4 tower_frame(const TowerPlace &p, uint32_t aika_ms) {
    const double t = aika_ms;
    const float sy = static_cast<float>(p.scale + std::sin(t / 10000 + 4 * p.j) / 5);
    return Mat4::translate(p.x, 1, p.z) * Mat4::scale(p.scale, sy, p.scale) *
           Mat4::rotate(static_cast<float>(t / 300), 0, 1, 0);
}

inline Mat4 block_step(int n) {
    return Mat4::scale(static_cast<float>(1 - n / 8.0), static_cast<float>(1 + n / 3.0),
                       static_cast<float>(1 - n / 8.0)) *
           Mat4::translate(0, static_cast<float>(0.4 * std::sqrt(n)), 0);
}

// Base block and three upper blocks of one tower of index a, in the frame M.
inline std::vector<ExpectedBox> expected_tower(const Mat4 &M, int a, uint32_t aika_ms) {
    std::vector<ExpectedBox> boxes;
    ExpectedBox base;
    base.M = M * Mat4::translate(0, -3, 0) * Mat4::scale(2, 2, 2);
    base.top = base.bottom = rgb(0.12f, 0.0266667f, 0.0f);
    boxes.push_back(base);
    const auto orange = rgb(0.8f, 0.3f, 0.2f);
    Mat4 acc = M;
    if (a == 3) {
        for (int i = 0; i < 3; ++i) {
            acc = acc * block_step(i) *
                  Mat4::rotate(static_cast<float>(static_cast<double>(aika_ms) / 1000), 1, 0, 0);
            ExpectedBox b;
            b.M = acc;
            b.s = 0.8f;
            b.top = b.bottom = orange;
            boxes.push_back(b);
        }
        return boxes;
    }
    const float b = tower_drift(aika_ms, a);
    for (int i = 0; i < 3; ++i) {
        acc = acc * Mat4::translate(0, static_cast<float>(0.4 * b * (i + 1)), 0);
        Mat4 block = acc * Mat4::rotate(b * b, static_cast<float>(std::sin(1.8 * (a + i))),
                                        static_cast<float>(std::sin(2.3 * (a + i))),
                                        static_cast<float>(std::sin(1.3 * (i - a))));
        for (int n = 0; n <= i; ++n)
            block = block * block_step(n);
        ExpectedBox e;
        e.M = block;
        e.s = 0.8f;
        e.top = e.bottom = orange;
        boxes.push_back(e);
    }
    return boxes;
}

inline std::vector<ExpectedBox> expected_towers(const Mat4 &M, uint32_t aika_ms) {
    std::vector<ExpectedBox> boxes;
    for (const auto &p : tower_places()) {
        auto tower = expected_tower(M * tower_frame(p, aika_ms), p.j, aika_ms);
        boxes.insert(boxes.end(), tower.begin(), tower.end());
    }
    return boxes;
}

// Compares captured boxes with expected ones (those drawn), in order.
inline void expect_boxes(const std::vector<FbBox> &got, const std::vector<ExpectedBox> &want,
                         double tol, double colour_tol, const char *what, double abs_tol = 0) {
    size_t k = 0;
    for (size_t w = 0; w < want.size(); ++w) {
        if (!want[w].drawn)
            continue;
        if (k >= got.size()) {
            ADD_FAILURE() << what << ": only " << got.size() << " boxes drawn";
            return;
        }
        EXPECT_TRUE(box_matches(got[k], want[w].M, want[w].s, tol, abs_tol))
            << what << " box " << w;
        EXPECT_TRUE(box_colours(got[k], want[w].top, want[w].bottom, colour_tol))
            << what << " box " << w;
        ++k;
    }
    EXPECT_EQ(k, got.size()) << what << ": more boxes drawn than expected";
}

} // namespace vt
