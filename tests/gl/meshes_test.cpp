// The box meshes, seen through GL feedback (corners, corner colours, the normal each corner
// carries), through GL state, and through the pixels of a lit box.
#include <cmath>
#include <cstdlib>
#include <functional>

#include <GL/gl.h>

#include "boxes.h"
#include "draw/draw.h"
#include "gl_harness/context.h"
#include "gl_harness/pictures.h"
#include "runtime/runtime.h"

namespace vt {
namespace {

using Meshes = GlTest;

// Lights that turn the normal a corner carries into its lit colour: red 0.5 for +x and 0.25 for
// -x, green likewise for y, blue for z, and 0 for a component of 0. One-sided lighting, so the
// normal is used as given whatever the winding.
void normal_probe_lighting() {
    glDisable(GL_COLOR_MATERIAL);
    glEnable(GL_LIGHTING);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 0);
    const float zero[4] = {0, 0, 0, 1};
    const float white[4] = {1, 1, 1, 1};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, zero);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, zero);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, zero);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, zero);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    for (int axis = 0; axis < 3; ++axis)
        for (int sign = 0; sign < 2; ++sign) {
            const GLenum light = GL_LIGHT0 + axis * 2 + sign;
            float dir[4] = {0, 0, 0, 0};
            dir[axis] = sign ? -1.0f : 1.0f;
            float diffuse[4] = {0, 0, 0, 1};
            diffuse[axis] = sign ? 0.25f : 0.5f;
            glLightfv(light, GL_POSITION, dir);
            glLightfv(light, GL_DIFFUSE, diffuse);
            glLightfv(light, GL_AMBIENT, zero);
            glLightfv(light, GL_SPECULAR, zero);
            glEnable(light);
        }
}

Vec3 decode_normal(const std::array<float, 4> &rgba) {
    auto component = [](float c) {
        if (std::fabs(c - 0.5f) < 1e-3f)
            return 1.0;
        if (std::fabs(c - 0.25f) < 1e-3f)
            return -1.0;
        if (std::fabs(c) < 1e-3f)
            return 0.0;
        return 99.0; // not an axis normal
    };
    return {component(rgba[0]), component(rgba[1]), component(rgba[2])};
}

// The mesh drawn by `draw` has the table's six faces, corners in order, for top-face scale s,
// and every corner carries its face's normal.
void expect_box_mesh(const std::function<void()> &draw, float s, const char *name) {
    SCOPED_TRACE(name);
    glDisable(GL_LIGHTING);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    auto tris = capture(draw, 4);
    ASSERT_EQ(tris.size(), 12u) << "six quads";
    auto boxes = boxes_of(tris);
    ASSERT_EQ(boxes.size(), 1u);
    // Corners are exact: x and y come back without rounding, z through the depth range.
    EXPECT_TRUE(box_matches(boxes[0], Mat4(), s, 1e-6));
    for (int f = 0; f < 6; ++f)
        for (int c = 0; c < 4; ++c) {
            const Vec3 p = boxes[0][f].v[c].p, want = box_corner(f, c, s);
            EXPECT_EQ(p.x, want.x) << "face " << f + 1 << " corner " << c + 1;
            EXPECT_EQ(p.y, want.y) << "face " << f + 1 << " corner " << c + 1;
        }

    normal_probe_lighting();
    auto lit = boxes_of(capture(draw, 4));
    ASSERT_EQ(lit.size(), 1u);
    for (int f = 0; f < 6; ++f)
        for (int c = 0; c < 4; ++c) {
            const Vec3 n = decode_normal(lit[0][f].v[c].rgba), want = box_normal(f);
            EXPECT_TRUE(n.x == want.x && n.y == want.y && n.z == want.z)
                << "face " << f + 1 << " corner " << c + 1 << " carries normal (" << n.x << ", "
                << n.y << ", " << n.z << ")";
        }
    for (int l = 0; l < 6; ++l)
        glDisable(GL_LIGHT0 + l);
    glDisable(GL_LIGHTING);
}

TEST_F(Meshes, BoxesHaveTheTableCornersInOrderAndTheirFaceNormals) {
    expect_box_mesh(cube, 1.0f, "cube");
    expect_box_mesh([] { cube2(0.8f); }, 0.8f, "cube2(0.8)");
    expect_box_mesh([] { cube2(0.0f); }, 0.0f, "cube2(0)");
    expect_box_mesh([] { cube2(1.0f); }, 1.0f, "cube2(1) is cube");
    expect_box_mesh([] { cube2(-0.5f); }, -0.5f, "cube2(-0.5): top corners change sides");
    expect_box_mesh([] { colorCube(1.0f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f); }, 1.0f,
                    "colorCube(1) is cube");
    expect_box_mesh([] { colorCube(0.0f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f); }, 0.0f,
                    "colorCube(0)");
    expect_box_mesh([] { colorCube(0.8f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f); }, 0.8f,
                    "colorCube(0.8)");
}

TEST_F(Meshes, ColorCubePaintsTopAndBottomCornersAndLeavesTheBottomColour) {
    glDisable(GL_LIGHTING);
    glColor4f(0.9f, 0.9f, 0.9f, 0.25f);
    auto boxes =
        boxes_of(capture([] { colorCube(0.0f, 0.85f, 0.34f, 0.17f, 0.25f, 0.1f, 0.05f); }, 4));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(box_colours(boxes[0], {0.85f, 0.34f, 0.17f, 1.0f}, {0.25f, 0.1f, 0.05f, 1.0f}, 0));
    // With s = 0 the apex is the top colour and the base the bottom colour.
    EXPECT_EQ(boxes[0][3].v[0].p.y, 1.0);
    EXPECT_EQ(boxes[0][3].v[0].rgba[0], 0.85f);

    const auto colour = get4(GL_CURRENT_COLOR);
    EXPECT_EQ(colour, (std::array<float, 4>{0.25f, 0.1f, 0.05f, 1.0f}))
        << "the bottom colour with alpha 1 stays current";

    // Drawn for real, too: the colour left behind is the same.
    glColor4f(0.9f, 0.9f, 0.9f, 0.25f);
    colorCube(1.0f, 0.3f, 0.2f, 0.1f, 0.7f, 0.6f, 0.5f);
    EXPECT_EQ(get4(GL_CURRENT_COLOR), (std::array<float, 4>{0.7f, 0.6f, 0.5f, 1.0f}));
}

TEST_F(Meshes, MeshesLeaveTheBottomNormalAndOnlyColorCubeChangesTheColour) {
    const std::array<float, 4> before_colour{0.1f, 0.2f, 0.3f, 0.4f};
    const std::array<float, 4> bottom_normal{0.0f, -1.0f, 0.0f, 0.0f};
    struct Case {
        const char *name;
        std::function<void()> draw;
        bool sets_colour;
    };
    const Case cases[] = {
        {"cube", cube, false},
        {"cube2(0.8)", [] { cube2(0.8f); }, false},
        {"colorCube", [] { colorCube(0.0f, 1, 1, 1, 0.5f, 0.25f, 0.125f); }, true},
        {"cubeboom", cubeboom, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        glNormal3f(0.3f, 0.4f, 0.5f);
        glColor4f(before_colour[0], before_colour[1], before_colour[2], before_colour[3]);
        c.draw();
        auto normal = get4(GL_CURRENT_NORMAL);
        normal[3] = 0;
        EXPECT_EQ(normal, bottom_normal);
        if (c.sets_colour) {
            EXPECT_EQ(get4(GL_CURRENT_COLOR), (std::array<float, 4>{0.5f, 0.25f, 0.125f, 1.0f}));
        } else {
            EXPECT_EQ(get4(GL_CURRENT_COLOR), before_colour);
        }
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Meshes, PyramidIsFourTrianglesWithTheCallersNormalAndColour) {
    glDisable(GL_LIGHTING);
    glColor4f(0.3f, 0.6f, 0.9f, 0.5f);
    glNormal3f(0.3f, 0.4f, 0.5f);
    auto tris = capture(pyramid, 4);
    ASSERT_EQ(tris.size(), 4u);
    const Vec3 want[4][3] = {
        {{-1, -1, 1}, {0, -1, -1}, {1, -1, 1}},
        {{-1, -1, 1}, {0, -1, -1}, {0, 1, 0}},
        {{0, -1, -1}, {1, -1, 1}, {0, 1, 0}},
        {{-1, -1, 1}, {1, -1, 1}, {0, 1, 0}},
    };
    for (int t = 0; t < 4; ++t)
        for (int c = 0; c < 3; ++c) {
            const Vec3 p = tris[t].v[c].p;
            EXPECT_LT(length(p - want[t][c]), 1e-6) << "triangle " << t + 1 << " corner " << c + 1;
            EXPECT_EQ(tris[t].v[c].rgba, (std::array<float, 4>{0.3f, 0.6f, 0.9f, 0.5f}));
        }
    EXPECT_EQ(get4(GL_CURRENT_NORMAL), (std::array<float, 4>{0.3f, 0.4f, 0.5f, 0.0f}));
    EXPECT_EQ(get4(GL_CURRENT_COLOR), (std::array<float, 4>{0.3f, 0.6f, 0.9f, 0.5f}));

    // Lit with the caller's normal: every corner gets the same colour.
    normal_probe_lighting();
    glNormal3f(0, 0, -1);
    auto lit = capture(pyramid, 4);
    ASSERT_EQ(lit.size(), 4u);
    for (const auto &t : lit)
        for (const auto &v : t.v)
            EXPECT_EQ(decode_normal(v.rgba).z, -1.0);
}

// The 18 numbers cubeboom draws after srand(seed), as the axes of its faces: per face z, y, x.
std::array<Vec3, 6> boom_axes(unsigned seed) {
    srand(seed);
    std::array<Vec3, 6> axes;
    for (auto &a : axes) {
        const float z = static_cast<float>((rand() % 100) / 100.0 - 0.5);
        const float y = static_cast<float>((rand() % 100) / 100.0 - 0.5);
        const float x = static_cast<float>((rand() % 100) / 100.0 - 0.5);
        a = {x, y, z};
    }
    return axes;
}

TEST_F(Meshes, CubeboomDrawsEighteenNumbersAndTurnsFromBarFiftyFive) {
    // The modelview is left as found, and the generator moves on by exactly 18 draws.
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(1.5f, -2.0f, 3.25f);
    glRotatef(33.0f, 0.2f, 0.7f, 0.1f);
    const auto before = modelview_floats();
    for (uint32_t t : {0u, 106551u, 106552u, 120000u}) {
        set_clock(t, bars_at(t));
        srand(4321);
        cubeboom();
        const int next = rand();
        srand(4321);
        for (int i = 0; i < 18; ++i)
            rand();
        EXPECT_EQ(next, rand()) << "at " << t;
        EXPECT_EQ(modelview_floats(), before) << "at " << t;
    }

    glLoadIdentity();
    glDisable(GL_LIGHTING);
    const auto axes = boom_axes(4321);
    struct Case {
        uint32_t aika;
        double degrees;
    };
    // Bar 55 starts at 106451.61 ms; one whole degree per 100 ms after it.
    for (const Case c : {Case{0, 0}, Case{106451, 0}, Case{106551, 0}, Case{106552, 1},
                         Case{107451, 9}, Case{107452, 10}}) {
        SCOPED_TRACE(::testing::Message() << "aika " << c.aika);
        set_clock(c.aika, bars_at(c.aika));
        auto tris = capture(
            [] {
                srand(4321);
                cubeboom();
            },
            4);
        ASSERT_EQ(tris.size(), 12u);
        auto boxes = boxes_of(tris);
        ASSERT_EQ(boxes.size(), 1u);
        for (int f = 0; f < 6; ++f) {
            const Mat4 R = Mat4::rotate(c.degrees, axes[f].x, axes[f].y, axes[f].z);
            for (int k = 0; k < 4; ++k) {
                const Vec3 want = R.point(box_corner(f, k, 1.0f));
                EXPECT_LT(length(boxes[0][f].v[k].p - want), 2e-6)
                    << "face " << f + 1 << " corner " << k + 1;
            }
        }
        // Fails loudly if the angle were off by a degree: a turn of 1 degree moves some corner.
        if (c.degrees == 0) {
            const Mat4 R = Mat4::rotate(1, axes[0].x, axes[0].y, axes[0].z);
            EXPECT_GT(length(R.point(box_corner(0, 0, 1)) - box_corner(0, 0, 1)), 1e-3);
        }
    }
}

// The show's light and two-sided lighting: faces 1, 3 and 4 seen from outside are front faces
// lit with their outward normal; faces 2, 5 and 6 are back faces, lit with the reversed normal,
// which turns away from the light, so only the ambient terms remain.
TEST_F(Meshes, TwoSidedLightingShadesFacesTwoFiveAndSixAsBackFaces) {
    reopen(96, 96);
    startup_render_state();
    use_perspective(1.0f); // a square picture
    glDisable(GL_FOG);
    glDisable(GL_BLEND);
    const float grey = 0.6f;
    struct Turn {
        int face;
        double degrees, x, y; // rotation about (x, y, 0) that turns the face toward the eye
    };
    const Turn turns[6] = {{1, 180, 0, 1}, {2, 0, 0, 1},   {3, 90, 0, 1},
                           {4, 90, 1, 0},  {5, -90, 0, 1}, {6, -90, 1, 0}};
    const std::function<void()> meshes[3] = {
        cube, [] { cube2(1.0f); }, [grey] { colorCube(1.0f, grey, grey, grey, grey, grey, grey); }};
    // Global ambient 0.2 and light ambient 0.3 on the colour; diffuse adds n.l for a front face.
    const double ambient = 0.5 * grey;
    for (int m = 0; m < 3; ++m)
        for (const Turn &turn : turns) {
            SCOPED_TRACE(::testing::Message() << "mesh " << m << " face " << turn.face);
            glClearColor(0, 0, 0, 1);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glMatrixMode(GL_MODELVIEW);
            glLoadIdentity();
            glTranslatef(0, 0, -6);
            glRotated(turn.degrees, turn.x, turn.y, 0);
            glColor3f(grey, grey, grey);
            meshes[m]();
            const Picture pic = read_picture();
            const uint8_t *centre = pic.at(48, 48);
            // The face lies in z = -5; the light at (5, 5, 20) is nearly straight ahead of it.
            double nl_lo = 1, nl_hi = 0;
            for (double x : {-1.0, 1.0})
                for (double y : {-1.0, 1.0}) {
                    const Vec3 to_light = Vec3{5, 5, 20} - Vec3{x, y, -5};
                    const double nl = to_light.z / length(to_light);
                    nl_lo = std::min(nl_lo, nl);
                    nl_hi = std::max(nl_hi, nl);
                }
            const bool back = turn.face == 2 || turn.face == 5 || turn.face == 6;
            for (int c = 0; c < 3; ++c) {
                if (back) {
                    EXPECT_NEAR(centre[c], ambient * 255, 1.5) << "channel " << c;
                } else {
                    EXPECT_GE(centre[c], (ambient + grey * nl_lo) * 255 - 1.5) << "channel " << c;
                    EXPECT_LE(centre[c], (ambient + grey * nl_hi) * 255 + 1.5) << "channel " << c;
                }
            }
        }
}

} // namespace
} // namespace vt
