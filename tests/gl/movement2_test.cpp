// Movement two: the field of bobbing boxes, the swarm of quads, the floating arc (and the unused
// planet), through GL feedback with an identity view, through GL state, and in one frame.
#include <cmath>
#include <cstdlib>

#include <GL/gl.h>

#include "boxes.h"
#include "build_constants.h"
#include "direction/direction.h"
#include "gl_harness/context.h"
#include "gl_harness/pictures.h"
#include "runtime/runtime.h"
#include "scene_model.h"
#include "scenes/scenes.h"

namespace vt {
namespace {

class MovementTwo : public GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        glDisable(GL_LIGHTING);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    }
};

// ---------------------------------------------------------------------------------------------
// The field

struct Cell {
    Vec3 at;      // translation
    bool flipped; // point reflection
    float sx, sy; // shape scales
    float shade;  // the new shade of this cell
    std::array<float, 4> top, bottom;
    Mat4 M;
};

struct Field {
    float a, b, g, o, c0;
    std::vector<Cell> cells; // row by row
};

Field expected_field(uint32_t aika_ms) {
    const double t = aika_ms;
    const float iv = beat_ms();
    Field f;
    f.a = static_cast<float>((t - iv * 4.0 * 32.0) / 5800);
    f.b = std::fmax(static_cast<float>(-(f.a - 5.0) * 0.3), 0.3f);
    f.g = static_cast<float>(f.b - 0.3);
    f.o = static_cast<float>(f.g / 2.0 + 0.5);
    f.c0 = static_cast<float>((1 - std::sin(t / 1200)) * 0.5);
    float c = f.c0;
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j < 10; ++j) {
            Cell cell;
            const float h = ((i ^ j) & 1) ? -f.b : f.b;
            cell.at = {static_cast<float>(2.5 * j - 10),
                       static_cast<float>(0.1 * std::sin(i * j + t / 1200) * (1.3 * c) + 2.5 * h),
                       static_cast<float>(-2.5 * i - f.a)};
            cell.flipped = h < 0;
            cell.sx = static_cast<float>(1 + 0.1 * std::sin(i * j));
            cell.sy = static_cast<float>(0.8 + 0.5 * std::cos(j + 0.9 * i * j));
            c = static_cast<float>((1 - std::sin(t / 1200 + 550 * (i + 1) * j)) * 0.8 * f.g);
            cell.shade = c;
            const double o = f.o;
            cell.top = rgb((0.05 * c + 0.32) * o, 0.22 * o, 0.15 * o);
            const double low = (0.42 - 0.1 * c) * o + (1 - o);
            cell.bottom = rgb((0.2 * c + 0.52) * o + (1 - o), low, low);
            cell.M = Mat4::translate(cell.at.x, cell.at.y, cell.at.z);
            if (cell.flipped)
                cell.M = cell.M * Mat4::scale(-1, -1, -1);
            cell.M = cell.M * Mat4::scale(cell.sx, cell.sy, 1);
            f.cells.push_back(cell);
        }
    return f;
}

std::vector<FbBox> field_at(uint32_t t) {
    set_clock(t, bars_at(t));
    auto boxes = boxes_of(capture(planebumps, 64));
    EXPECT_EQ(boxes.size(), 100u);
    return boxes;
}

void expect_field(const std::vector<FbBox> &boxes, const Field &want) {
    ASSERT_EQ(boxes.size(), want.cells.size());
    for (size_t k = 0; k < boxes.size(); ++k) {
        const Cell &cell = want.cells[k];
        EXPECT_TRUE(box_matches(boxes[k], cell.M, 1.0f, 1e-6)) << "cell " << k;
        EXPECT_TRUE(box_colours(boxes[k], cell.top, cell.bottom, 1e-7)) << "cell " << k;
    }
}

TEST_F(MovementTwo, FieldAtTheStartOfTheMovement) {
    const uint32_t t = 61936;
    const Field want = expected_field(t);
    EXPECT_NEAR(want.b, 1.5, 1e-4);
    const auto boxes = field_at(t);
    expect_field(boxes, want);
    ASSERT_EQ(boxes.size(), 100u);

    // The first cell: raised, upright, scaled (1, 1.3, 1).
    const Vec3 c0 = centroid(boxes[0]);
    EXPECT_NEAR(c0.x, -10, 1e-4);
    EXPECT_NEAR(c0.y, 3.7515, 1e-4);
    EXPECT_NEAR(c0.z, -0.0001, 1e-4);
    Vec3 lo, hi;
    bounds(boxes[0], &lo, &hi);
    EXPECT_NEAR((hi.x - lo.x) / 2, 1, 1e-5);
    EXPECT_NEAR((hi.y - lo.y) / 2, 1.3, 1e-5);
    EXPECT_NEAR((hi.z - lo.z) / 2, 1, 1e-5);
    const FbVertex first_top = boxes[0][3].v[0]; // top face, corner (1, 1, 1) before the scales
    EXPECT_GT(first_top.p.y, c0.y) << "not flipped: the top colour is on top";
    EXPECT_NEAR(first_top.p.x, c0.x + 1, 1e-5);
    const std::array<double, 3> top0{0.3533, 0.2420, 0.1650}, bottom0{0.4772, 0.3594, 0.3594};
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(boxes[0][3].v[0].rgba[k], top0[k], 1e-4);
        EXPECT_NEAR(boxes[0][5].v[0].rgba[k], bottom0[k], 1e-4);
    }

    // The second cell: hung upside down, scaled (1, 1.0702, 1); it bobs with the first cell's
    // new shade (about 0.0238), not its own (about 1.9200).
    EXPECT_NEAR(want.cells[0].shade, 0.0238, 1e-4);
    EXPECT_NEAR(want.cells[1].shade, 1.9200, 1e-4);
    const Vec3 c1 = centroid(boxes[1]);
    EXPECT_NEAR(c1.x, -7.5, 1e-4);
    EXPECT_NEAR(c1.y, -3.7469, 1e-4);
    EXPECT_NEAR(c1.z, -0.0001, 1e-4);
    bounds(boxes[1], &lo, &hi);
    EXPECT_NEAR((hi.y - lo.y) / 2, 1.0702, 1e-4);
    const FbVertex second_top = boxes[1][3].v[0];
    EXPECT_LT(second_top.p.y, c1.y) << "flipped: the top colour faces down";
    EXPECT_NEAR(second_top.p.x, c1.x - 1, 1e-5) << "a point reflection, not a turn about x";
    EXPECT_NEAR(second_top.p.z, c1.z - 1, 1e-5) << "a point reflection, not a turn about x";
    const std::array<double, 3> top1{0.4576, 0.2420, 0.1650}, bottom1{0.8944, 0.1508, 0.1508};
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(boxes[1][3].v[0].rgba[k], top1[k], 1e-4);
        EXPECT_NEAR(boxes[1][5].v[0].rgba[k], bottom1[k], 1e-4);
    }
    // Chessboard: cells with i + j odd are flipped.
    for (int k = 0; k < 100; ++k) {
        const bool odd = ((k / 10) + (k % 10)) % 2 == 1;
        EXPECT_EQ(boxes[k][3].v[0].p.y < centroid(boxes[k]).y, odd) << "cell " << k;
    }
}

TEST_F(MovementTwo, FieldSettlesFromBarFortyFour) {
    // At 85135 ms the lift is still above its floor: cells stand a little beyond 0.75.
    {
        const Field want = expected_field(85135);
        EXPECT_NEAR(want.b, 0.30003, 1e-5);
        const auto boxes = field_at(85135);
        expect_field(boxes, want);
        for (size_t k = 1; k < boxes.size(); ++k)
            EXPECT_GT(std::fabs(centroid(boxes[k]).y), 0.75 + 5e-5) << "cell " << k;
    }
    for (uint32_t t : {85136u, 90000u, 100000u, 129678u}) {
        SCOPED_TRACE(::testing::Message() << "aika " << t);
        const Field want = expected_field(t);
        EXPECT_EQ(want.b, 0.3f);
        EXPECT_EQ(want.o, 0.5f);
        const auto boxes = field_at(t);
        expect_field(boxes, want);
        ASSERT_EQ(boxes.size(), 100u);
        for (size_t k = 0; k < boxes.size(); ++k) {
            EXPECT_TRUE(box_colours(boxes[k], {0.16f, 0.11f, 0.075f, 1.0f},
                                    {0.76f, 0.71f, 0.71f, 1.0f}, 1e-7))
                << "cell " << k;
            if (k > 0) {
                const double y = want.cells[k].flipped ? -0.75 : 0.75;
                EXPECT_NEAR(centroid(boxes[k]).y, y, 1e-6) << "cell " << k;
            }
        }
        // Only the first cell still bobs, by 0.13 c0 sin(aika / 1200).
        EXPECT_NEAR(centroid(boxes[0]).y, 0.75 + 0.13 * want.c0 * std::sin(t / 1200.0), 1e-6);
        if (t == 100000) {
            // The rows slide along -z: from -6.56 to -29.06.
            EXPECT_NEAR(centroid(boxes[0]).z, -6.56, 0.005);
            EXPECT_NEAR(centroid(boxes[90]).z, -29.06, 0.005);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The swarm

struct Quad {
    int32_t k;
    uint32_t q;
    float e, alpha, x, y, spin;
};

Quad expected_quad(int i, uint32_t aika_ms) {
    const double t = aika_ms;
    Quad d;
    const float angle = static_cast<float>(95 * i);
    d.k = static_cast<int32_t>(std::sin(angle) * 100000.0f);
    d.q = (static_cast<uint32_t>(d.k) + aika_ms) % 20000u;
    d.e = static_cast<float>(d.q / 1000.0 - 15);
    d.alpha = static_cast<float>(0.2 * (0.5 * std::sin(t / 4000 + 98 * i) - 1) +
                                 (static_cast<double>(d.e) / 20 + 1));
    d.x = static_cast<float>(std::cos(angle) + (0.15 * i - 7));
    d.y = static_cast<float>(std::sin(static_cast<float>(50 * i)) * 1.5);
    d.spin = static_cast<float>(std::sin(angle) * 0.7 * (t * 0.1) + 31.2 * i);
    return d;
}

std::vector<FbQuad> swarm_at(uint32_t t) {
    set_clock(t, bars_at(t));
    const auto tris = capture(quadswarm, 32);
    EXPECT_EQ(tris.size(), 240u) << "120 quads";
    return quads_of(tris, 0, tris.size() / 2);
}

TEST_F(MovementTwo, SwarmQuadsFollowTheirCycles) {
    // The swarm switches lighting off itself: with lighting on at entry the captured colours
    // are still the unlit ones.
    startup_render_state();
    glDisable(GL_FOG);
    glLoadIdentity();
    const std::array<Vec3, 4> corners{Vec3{-1, 1, 0}, Vec3{1, 1, 0}, Vec3{1, -1, 0},
                                      Vec3{-1, -1, 0}};
    int wrapped = 0;
    for (uint32_t t : {61936u, 70000u, 85136u, 99999u, 100000u, 100001u, 115000u, 129678u}) {
        SCOPED_TRACE(::testing::Message() << "aika " << t);
        const auto quads = swarm_at(t);
        ASSERT_EQ(quads.size(), 120u);
        for (int i = 0; i < 120; ++i) {
            const Quad want = expected_quad(i, t);
            if (static_cast<int64_t>(want.k) + t < 0)
                ++wrapped;
            if (t >= 100000) {
                EXPECT_GE(static_cast<int64_t>(want.k) + t, 0)
                    << "no sum below zero from 100000 on";
            }
            const Mat4 M = Mat4::translate(want.x, want.y, want.e) *
                           Mat4::rotate(want.spin, 0.2f, 0.2f, 0.3f) *
                           Mat4::scale(0.05f, 0.05f, 0.05f);
            for (int c = 0; c < 4; ++c) {
                const Vec3 p = quads[i].v[c].p, w = M.point(corners[c]);
                EXPECT_LT(length(p - w), 4e-6) << "quad " << i << " corner " << c + 1;
            }
            const float alpha = std::fmin(1.0f, std::fmax(0.0f, want.alpha));
            EXPECT_EQ(quads[i].v[0].rgba[0], 0.8f) << "quad " << i << ": drawn unlit";
            EXPECT_EQ(quads[i].v[0].rgba[1], 0.7f) << "quad " << i;
            EXPECT_EQ(quads[i].v[0].rgba[2], 0.6f) << "quad " << i;
            EXPECT_NEAR(quads[i].v[0].rgba[3], alpha, 2e-7) << "quad " << i;
        }
        // Quad 0: phase 0, at (-6, 0, e), never turned.
        const double e0 = (t % 20000) / 1000.0 - 15;
        EXPECT_NEAR(quads[0].v[0].p.x, -6.05, 1e-6);
        EXPECT_NEAR(quads[0].v[0].p.y, 0.05, 1e-6);
        EXPECT_NEAR(quads[0].v[0].p.z, e0, 1e-5);
        EXPECT_NEAR(quads[0].v[2].p.x, -5.95, 1e-6);
        EXPECT_NEAR(quads[0].v[2].p.y, -0.05, 1e-6);
        EXPECT_NEAR(quads[0].v[2].p.z, e0, 1e-5);
        if (t == 61936) {
            EXPECT_NEAR(e0, -13.064, 1e-9);
            EXPECT_NEAR(quads[0].v[0].rgba[3], 0.1690, 1e-4);
            // Quad 6 has phase -98025: the sum -36089 wraps modulo 2^32 to cycle position 11207.
            const Quad six = expected_quad(6, t);
            EXPECT_EQ(six.k, -98025);
            EXPECT_EQ(six.q, 11207u);
            double z = 0;
            for (const auto &v : quads[6].v)
                z += v.p.z / 4;
            EXPECT_NEAR(z, -3.793, 1e-5);
        }
    }
    EXPECT_GT(wrapped, 0) << "some sums must be negative before 100000 for this to test wrapping";

    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
}

TEST_F(MovementTwo, SwarmRestoresTheRenderState) {
    startup_render_state();
    set_clock(70000, bars_at(70000));
    kamera();
    glDisable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO); // the swarm re-states the one blend function on its way out
    glColor4f(0.1f, 0.2f, 0.3f, 0.4f);
    const auto view = modelview_floats();
    quadswarm();
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(geti(GL_BLEND_SRC_RGB), GL_SRC_ALPHA);
    EXPECT_EQ(geti(GL_BLEND_SRC_ALPHA), GL_SRC_ALPHA);
    EXPECT_EQ(geti(GL_BLEND_DST_RGB), GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(geti(GL_BLEND_DST_ALPHA), GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(get4(GL_CURRENT_COLOR), (std::array<float, 4>{0.9f, 0.1f, 0.05f, 1.0f}));
    EXPECT_EQ(modelview_floats(), view);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// ---------------------------------------------------------------------------------------------
// The floating arc, the planet and the routines together

TEST_F(MovementTwo, FloatingArcTurnsAboutItsTiltedAxis) {
    for (uint32_t t : {61936u, 100000u, 129678u}) {
        SCOPED_TRACE(::testing::Message() << "aika " << t);
        set_clock(t, bars_at(t));
        const float angle = static_cast<float>(t / 900.0 - 32);
        if (t == 100000) {
            EXPECT_NEAR(angle, 79.11, 0.005);
        }
        if (t == 61936) {
            EXPECT_NEAR(angle, 36.82, 0.005);
        }
        const Mat4 M = Mat4::translate(0, 4, -20) * Mat4::rotate(angle, 0.9f, 0.1f, 0.2f);
        srand(11);
        const auto boxes = boxes_of(capture(floating_kaari, 32));
        const int next = rand();
        srand(1234);
        EXPECT_EQ(next, rand()) << "the arc re-seeds the generator";
        ASSERT_EQ(boxes.size(), 5u);
        expect_boxes(boxes, expected_arc(M, t), 2e-6, 2e-7, "floating arc");
    }
}

TEST_F(MovementTwo, PlanetIsTwoWideBoxesWithoutColour) {
    glColor4f(0.3f, 0.2f, 0.1f, 0.5f);
    const auto boxes = boxes_of(capture(planet, 128));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(
        box_matches(boxes[0], Mat4::translate(0, -5, 0) * Mat4::scale(70, 0.25f, 70), 1, 1e-6));
    EXPECT_TRUE(
        box_matches(boxes[1], Mat4::translate(0, 55, 0) * Mat4::scale(70, 50.25f, 70), 1, 1e-6));
    EXPECT_TRUE(box_colours(boxes[0], {0.3f, 0.2f, 0.1f, 0.5f}, {0.3f, 0.2f, 0.1f, 0.5f}, 0));
    EXPECT_EQ(get4(GL_CURRENT_COLOR), (std::array<float, 4>{0.3f, 0.2f, 0.1f, 0.5f}));
}

TEST_F(MovementTwo, EveryRoutineLeavesTheModelviewAndRenderState) {
    startup_render_state();
    for (uint32_t t : {61936u, 85136u, 110000u}) {
        set_clock(t, bars_at(t));
        kamera();
        glDisable(GL_BLEND);
        const auto view = modelview_floats();
        const int depth = geti(GL_MODELVIEW_STACK_DEPTH);
        struct Routine {
            const char *name;
            void (*run)();
        };
        for (const Routine r :
             {Routine{"planebumps", planebumps}, Routine{"quadswarm", quadswarm},
              Routine{"floating_kaari", floating_kaari}, Routine{"planet", planet}}) {
            SCOPED_TRACE(::testing::Message() << r.name << " at " << t);
            r.run();
            EXPECT_EQ(modelview_floats(), view);
            EXPECT_EQ(geti(GL_MODELVIEW_STACK_DEPTH), depth);
            EXPECT_EQ(geti(GL_MATRIX_MODE), GL_MODELVIEW);
            EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
            EXPECT_TRUE(glIsEnabled(GL_COLOR_MATERIAL));
            EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
            EXPECT_TRUE(glIsEnabled(GL_FOG));
            EXPECT_FALSE(glIsEnabled(GL_BLEND));
            EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
        }
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(MovementTwo, FrameOfTheSecondMovementIsDrawnAndStable) {
    reopen(LEVEYS, KORKEUS);
    auto scene = [] {
        planebumps();
        quadswarm();
        floating_kaari();
    };
    // Bar 34: the field still high and shimmering, rolling with the camera, the swarm among it.
    const uint32_t t = 66000;
    const Picture first = render_frame(t, bars_at(t), scene);
    const Picture again = render_frame(t, bars_at(t), scene);
    const std::string path = save_artefact(first, "movement2");
    EXPECT_TRUE(first.rgba == again.rgba) << "the same frame twice differs; see " << path;
    // Path 3's background (0.2, 0.05, 0.01).
    EXPECT_GT(fraction_unlike(first, {51, 13, 3}), 0.1) << "mostly background; see " << path;
    EXPECT_GT(distinct_colours(first), 200u) << "see " << path;
}

} // namespace
} // namespace vt
