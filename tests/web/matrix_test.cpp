// The browser edition's matrix arithmetic against the desktop's: the same operations on a real
// Mesa context with the real libGLU, compared to the last bit. A differing bit moves an edge or
// a shade in the browser's frames.
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include "matrix_math.h"
#include "offscreen.h"

namespace {

class MatrixTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(offscreen_open(64, 64, &why)) << why;
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        vgl::set_identity(ours);
    }
    void TearDown() override { offscreen_close(); }

    // To the last bit, the driver's modelview matrix equals ours (a zero's sign aside, which
    // nothing downstream can tell).
    void expect_same(const std::string &what) {
        float theirs[16];
        glGetFloatv(GL_MODELVIEW_MATRIX, theirs);
        for (int i = 0; i < 16; ++i)
            ASSERT_TRUE(theirs[i] == ours[i]) << what << ": element " << i << " is " << theirs[i]
                                              << " in GL, " << ours[i] << " here";
    }

    float ours[16];
};

TEST_F(MatrixTest, RotationsTranslationsAndScalesAsTheDriverKeepsThem) {
    std::mt19937 random(1234);
    std::uniform_real_distribution<float> any(-10.0f, 10.0f);
    std::uniform_real_distribution<float> angle(-10000.0f, 10000.0f);
    // Axes as the show gives them: coordinate axes of both signs, tilted axes, no axis at all.
    const float axes[][3] = {{0, 1, 0},          {0, -1, 0},       {1, 0, 0}, {-1, 0, 0},
                             {0, 0, 1},          {0, 0, -1},       {0, 0, 0}, {0.2f, 0.2f, 0.3f},
                             {0.9f, 0.1f, 0.2f}, {0.f, 0.f, 1e-5f}};
    for (int step = 0; step < 2000; ++step) {
        if (step % 50 == 0) {
            glLoadIdentity();
            vgl::set_identity(ours);
        }
        const int op = step % 3;
        if (op == 0) {
            const float *axis = axes[random() % (sizeof axes / sizeof axes[0])];
            const float a = angle(random);
            glRotatef(a, axis[0], axis[1], axis[2]);
            vgl::rotate(ours, a, axis[0], axis[1], axis[2]);
        } else if (op == 1) {
            const float x = any(random), y = any(random), z = any(random);
            glTranslatef(x, y, z);
            vgl::translate(ours, x, y, z);
        } else {
            const float x = any(random), y = any(random), z = random() % 4 ? any(random) : -1.0f;
            glScalef(x, y, z);
            vgl::scale(ours, x, y, z);
        }
        expect_same("step " + std::to_string(step));
    }
}

TEST_F(MatrixTest, CameraMatricesAsGluComputesThem) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, 1280.0 / 720.0, 0.1, 100.0);
    float theirs[16];
    glGetFloatv(GL_PROJECTION_MATRIX, theirs);
    float projection[16];
    vgl::set_identity(projection);
    vgl::perspective(projection, 45.0, 1280.0 / 720.0, 0.1, 100.0);
    EXPECT_EQ(std::memcmp(theirs, projection, sizeof theirs), 0);
    glMatrixMode(GL_MODELVIEW);

    std::mt19937 random(99);
    std::uniform_real_distribution<double> any(-60.0, 60.0);
    for (int i = 0; i < 500; ++i) {
        // Look-at points far ahead and eyes near, as the camera paths have them.
        const double eye[3] = {any(random), any(random) / 10, any(random)};
        const double centre[3] = {any(random), any(random), any(random) * (i % 2 ? 150 : 1)};
        const double roll = any(random);
        glLoadIdentity();
        gluLookAt(eye[0], eye[1], eye[2], centre[0], centre[1], centre[2], std::cos(roll),
                  std::sin(roll), 0.0);
        vgl::set_identity(ours);
        vgl::look_at(ours, eye[0], eye[1], eye[2], centre[0], centre[1], centre[2], std::cos(roll),
                     std::sin(roll), 0.0);
        expect_same("look-at " + std::to_string(i));
    }
}

TEST_F(MatrixTest, LightPositionIsTakenToEyeSpaceAsGiven) {
    glTranslatef(1.5f, -2.25f, 3.0f);
    glRotatef(33.0f, 0.2f, 0.7f, 0.1f);
    glScalef(0.5f, 2.0f, 1.25f);
    glGetFloatv(GL_MODELVIEW_MATRIX, ours);
    const float position[4] = {5.0f, 5.0f, 20.0f, 1.0f};
    glLightfv(GL_LIGHT1, GL_POSITION, position);
    float theirs[4], eye[4];
    glGetLightfv(GL_LIGHT1, GL_POSITION, theirs);
    vgl::transform(ours, position, eye);
    EXPECT_EQ(std::memcmp(theirs, eye, sizeof eye), 0)
        << theirs[0] << " " << theirs[1] << " " << theirs[2] << " vs " << eye[0] << " " << eye[1]
        << " " << eye[2];
}

} // namespace
