// The fixed-function switches and parameters the show sets: lighting with its lights, colour
// material, fog, 2-D texturing, the hints, and GL's error flag. What WebGL 2 has itself (blending,
// the depth test) goes straight to it.

#include "layer.h"
#include "matrix_math.h"

namespace vgl {

FixedState state;
uint32_t state_version = 1;

namespace {
GLenum first_error = GL_NO_ERROR;

bool is_light(GLenum cap) {
    return cap >= GL_LIGHT0 && cap < GL_LIGHT0 + LIGHTS;
}

// A fixed-function switch of the layer; false for what WebGL has itself.
bool set_capability(GLenum cap, bool on) {
    if (is_light(cap))
        state.lights[cap - GL_LIGHT0].enabled = on;
    else if (cap == GL_LIGHTING)
        state.lighting = on;
    else if (cap == GL_COLOR_MATERIAL)
        state.color_material = on;
    else if (cap == GL_FOG)
        state.fog = on;
    else if (cap == GL_TEXTURE_2D)
        state.texture = on;
    else
        return false;
    state_changed();
    return true;
}

void copy4(float *to, const GLfloat *from) {
    for (int i = 0; i < 4; ++i)
        to[i] = from[i];
}

} // namespace

void set_error(GLenum error) {
    if (first_error == GL_NO_ERROR)
        first_error = error;
}

} // namespace vgl

using vgl::state;

extern "C" {

void glEnable(GLenum cap) {
    if (!vgl::set_capability(cap, true))
        emscripten_glEnable(cap);
}

void glDisable(GLenum cap) {
    if (!vgl::set_capability(cap, false))
        emscripten_glDisable(cap);
}

GLenum glGetError() {
    const GLenum own = vgl::first_error;
    vgl::first_error = GL_NO_ERROR;
    return own != GL_NO_ERROR ? own : emscripten_glGetError();
}

void glHint(GLenum target, GLenum mode) {
    // The layer always interpolates with perspective correction and fogs every fragment, as a
    // desktop driver does at GL_NICEST.
    if (target != GL_PERSPECTIVE_CORRECTION_HINT && target != GL_FOG_HINT)
        emscripten_glHint(target, mode);
}

void glShadeModel(GLenum mode) {
    if (mode != GL_SMOOTH)
        vgl::set_error(GL_INVALID_ENUM); // only smooth shading is drawn
}

void glClearDepth(GLdouble depth) {
    emscripten_glClearDepthf(static_cast<GLfloat>(depth));
}

void glColorMaterial(GLenum face, GLenum mode) {
    // Colour material tracks the ambient and diffuse colour of both faces, and nothing else.
    if (face != GL_FRONT_AND_BACK || mode != GL_AMBIENT_AND_DIFFUSE)
        vgl::set_error(GL_INVALID_ENUM);
}

void glLightfv(GLenum light, GLenum pname, const GLfloat *params) {
    if (!vgl::is_light(light)) {
        vgl::set_error(GL_INVALID_ENUM);
        return;
    }
    vgl::Light &l = state.lights[light - GL_LIGHT0];
    if (pname == GL_AMBIENT)
        vgl::copy4(l.ambient, params);
    else if (pname == GL_DIFFUSE)
        vgl::copy4(l.diffuse, params);
    else if (pname == GL_POSITION)
        vgl::transform(vgl::modelview(), params, l.position); // into eye space, as given
    else
        vgl::set_error(GL_INVALID_ENUM);
    vgl::state_changed();
}

void glLightModelf(GLenum pname, GLfloat param) {
    if (pname == GL_LIGHT_MODEL_TWO_SIDE)
        state.two_side = param != 0.0f;
    else
        vgl::set_error(GL_INVALID_ENUM);
    vgl::state_changed();
}

void glFogi(GLenum pname, GLint param) {
    if (pname == GL_FOG_MODE)
        state.fog_mode = static_cast<GLenum>(param);
    else
        glFogf(pname, static_cast<GLfloat>(param));
    vgl::state_changed();
}

void glFogf(GLenum pname, GLfloat param) {
    if (pname == GL_FOG_START)
        state.fog_start = param;
    else if (pname == GL_FOG_END)
        state.fog_end = param;
    else if (pname != GL_FOG_DENSITY) // the density shapes only the exponential fogs
        vgl::set_error(GL_INVALID_ENUM);
    vgl::state_changed();
}

void glFogfv(GLenum pname, const GLfloat *params) {
    if (pname == GL_FOG_COLOR)
        vgl::copy4(state.fog_color, params);
    else
        glFogf(pname, params[0]);
    vgl::state_changed();
}

} // extern "C"
