// Shared helpers of the overlay and timeline tests: the offscreen context at the build's size,
// the start-up render state of alusta (which itself needs an SDL window), pixel read-back,
// render-state snapshots, feedback-mode recording, standard-output capture and a scratch
// working directory.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <GL/gl.h>

#include "build_constants.h"

namespace vt {

// Opens the offscreen context at LEVEYS x KORKEUS; fails the current test when EGL refuses.
void open_context();
// alusta's GL steps 5 to 14: projection, depth test with LEQUAL, colour material,
// GL_LIGHT1 and lighting, two-sided lighting, clear colour, linear fog, source-alpha blending.
// Leaves GL_MODELVIEW current with the identity loaded.
void startup_render_state();
// A perspective and fog as kamera sets them and a camera view (a gluLookAt away from the
// identity), so that an overlay that forgets to restore the modelview matrix is seen.
void camera_like_view();

// The colour buffer, top row first, RGBA bytes.
struct Picture {
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    const uint8_t *at(int x, int y) const { return &rgba[(static_cast<size_t>(y) * w + x) * 4]; }
    double mean(int channel) const;
};
Picture read_picture();
// Fills the colour buffer (and depth 1) with a colour, leaving the clear colour as it was.
void fill(float r, float g, float b);
// Writes the picture as a PNG under the build's artefacts directory; returns the path.
std::string save_artefact(const Picture &p, const std::string &name);

// The render state around the overlays, and the rest an overlay must not touch.
struct State {
    bool lighting, colour_material, blend, texture_2d, depth_test, fog, light1;
    GLint blend_src, blend_dst, blend_src_alpha, blend_dst_alpha, depth_func, matrix_mode;
    GLint modelview_depth, projection_depth, bound_texture;
    GLfloat colour[4];
    GLfloat modelview[16];
    GLfloat projection[16];
};
State state();

// Records what `draw` sends to GL in feedback mode (GL_3D_COLOR_TEXTURE, window coordinates).
struct Polygon {
    std::vector<std::array<float, 11>> vertices; // x, y, z, r, g, b, a, s, t, r, q
};
std::vector<float> feedback(const std::function<void()> &draw);
std::vector<Polygon> polygons(const std::vector<float> &buffer);

// Captures everything the code writes to standard output (file descriptor 1) while `run` runs.
std::string capture_stdout(const std::function<void()> &run);

// A fresh temporary directory that becomes the working directory for the object's lifetime.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    const std::string &path() const { return path_; }
    // Writes bytes to a path relative to the scratch directory, creating data/ on the way.
    void write(const std::string &relative, const std::vector<uint8_t> &bytes) const;

  private:
    std::string path_;
    std::string previous_;
};

} // namespace vt
