// What the files of the GL layer share: the vertex as it goes to WebGL, the fixed-function state
// the shaders read, the matrix stacks and the error flag. The layer draws one light, linear fog,
// colour material and one 2-D texture, the way a desktop driver draws them.
#pragma once
#include <cstdint>

#include <GL/gl.h>
// WebGL itself, under the emscripten_gl names, as the layer takes the GL names for itself.
#include <webgl/webgl1.h>
#include <webgl/webgl2.h>

namespace vgl {

struct Vertex {
    float position[3];
    float color[4];
    float normal[3];
    float texcoord[2];
};

// A light with GL's defaults for lights 1 to 7 (light 0 alone starts white).
struct Light {
    bool enabled = false;
    float ambient[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float diffuse[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float position[4] = {0.0f, 0.0f, 1.0f, 0.0f}; // in eye space
};

constexpr int LIGHTS = 8;

struct FixedState {
    bool lighting = false;
    bool two_side = false;
    bool color_material = false;
    bool fog = false;
    bool texture = false;
    Light lights[LIGHTS];
    float scene_ambient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    GLenum fog_mode = GL_EXP;
    float fog_start = 0.0f;
    float fog_end = 1.0f;
    float fog_color[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

// The state and a count that moves whenever it changes, so the shader inputs are sent again
// only then.
extern FixedState state;
extern uint32_t state_version;
inline void state_changed() {
    ++state_version;
}

// The tops of the two matrix stacks, and a count that moves whenever either changes.
const float *modelview();
const float *projection();
uint32_t matrix_version();

// Records the first GL error of the layer itself, as glGetError reports it.
void set_error(GLenum error);

// Draws triangles with the current state and matrices.
void draw_triangles(const Vertex *vertices, int count);

} // namespace vgl
