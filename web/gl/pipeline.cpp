// The fixed-function pipeline as one pair of shaders: vertex lighting with one positional light,
// colour material and two-sided lighting; per-fragment linear fog from the eye-space depth; the
// texture modulating the colour. Every operation keeps a desktop driver's order and single
// precision, so the frames equal its frames but for single edge pixels and last bits.
#include <cstddef>
#include <string>

#include <emscripten.h>

#include "layer.h"
#include "matrix_math.h"

namespace {

const char *const VERTEX_SHADER = R"(#version 300 es
precision highp float;
layout(location = 0) in vec4 position;
layout(location = 1) in vec4 color;
layout(location = 2) in vec3 normal;
layout(location = 3) in vec2 texcoord;
uniform mat4 mvp;
uniform mat4 modelview;
uniform mat3 normal_matrix;
uniform bool lighting;
uniform bool two_side;
uniform vec3 light_position;
uniform vec3 light_ambient;
uniform vec3 light_diffuse;
uniform vec3 scene_ambient;
out vec4 front_color;
out vec4 back_color;
out float fog_depth;
out vec2 uv;

// Colour material: the vertex colour is the ambient and diffuse material; specular and
// emission are GL's default black.
vec4 lit(float n_dot_l) {
    vec3 c = light_ambient * color.rgb + scene_ambient * color.rgb;
    c = max(n_dot_l, 0.0) * (light_diffuse * color.rgb) + c;
    return clamp(vec4(c, color.a), 0.0, 1.0);
}

void main() {
    gl_Position = mvp * position;
    vec4 eye = modelview * position;
    fog_depth = abs(eye.z); // the distance of the fog: the eye-plane depth, not the radius
    uv = texcoord;
    if (lighting) {
        vec3 n = normal_matrix * normal; // normals stay as given, never renormalised
        vec3 to_light = light_position - eye.xyz;
        to_light = to_light * inversesqrt(dot(to_light, to_light));
        float d = dot(n, to_light);
        front_color = lit(d);
        back_color = two_side ? lit(-d) : front_color; // the back side lit with -n
    } else {
        front_color = clamp(color, 0.0, 1.0);
        back_color = front_color;
    }
}
)";

const char *const FRAGMENT_SHADER = R"(#version 300 es
precision highp float;
in vec4 front_color;
in vec4 back_color;
in float fog_depth;
in vec2 uv;
uniform bool texturing;
uniform sampler2D image;
uniform bool fog;
uniform vec2 fog_line; // factor = depth * x + y
uniform vec3 fog_color;
out vec4 fragment;

void main() {
    vec4 c = gl_FrontFacing ? front_color : back_color;
    if (texturing)
        c *= texture(image, uv); // modulate; the RGB texture's alpha is 1
    if (fog) {
        float f = clamp(fog_depth * fog_line.x + fog_line.y, 0.0, 1.0);
        c.rgb = fog_color + f * (c.rgb - fog_color);
    }
    fragment = c;
}
)";

enum Uniform {
    MVP,
    MODELVIEW,
    NORMAL_MATRIX,
    LIGHTING,
    TWO_SIDE,
    LIGHT_POSITION,
    LIGHT_AMBIENT,
    LIGHT_DIFFUSE,
    SCENE_AMBIENT,
    TEXTURING,
    FOG,
    FOG_LINE,
    FOG_COLOR,
    UNIFORMS
};
const char *const UNIFORM_NAMES[UNIFORMS] = {
    "mvp",           "modelview",     "normal_matrix", "lighting",  "two_side", "light_position",
    "light_ambient", "light_diffuse", "scene_ambient", "texturing", "fog",      "fog_line",
    "fog_color"};

const GLsizeiptr BUFFER_BYTES = 4 << 20; // vertices of several frames before it starts over

GLuint program = 0;
GLint uniforms[UNIFORMS];
GLuint buffer = 0;
GLintptr buffer_used = 0;
uint32_t sent_state = 0;
uint32_t sent_matrices = 0;

// Set once the driver has refused the shaders: nothing is drawn after that, and the page has
// been told why instead of showing a black canvas.
bool refused = false;

// Hands the driver's words to the page, which stops the show and shows them.
void refuse(const char *what, const std::string &log) {
    refused = true;
    const std::string why = std::string(what) + (log.empty() ? "" : ": " + log);
    EM_ASM({ Module.vellamorFailed(UTF8ToString($0)); }, why.c_str());
}

std::string info_log(GLuint object, bool is_program) {
    GLint length = 0;
    if (is_program)
        emscripten_glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        emscripten_glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    std::string log(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    GLsizei written = 0;
    if (length > 0 && is_program)
        emscripten_glGetProgramInfoLog(object, length, &written, log.data());
    else if (length > 0)
        emscripten_glGetShaderInfoLog(object, length, &written, log.data());
    log.resize(static_cast<size_t>(written));
    while (!log.empty() && (log.back() == '\n' || log.back() == ' '))
        log.pop_back();
    return log;
}

// Zero, after telling the page, when the driver refuses the source.
GLuint compile(GLenum type, const char *source) {
    const GLuint shader = emscripten_glCreateShader(type);
    emscripten_glShaderSource(shader, 1, &source, nullptr);
    emscripten_glCompileShader(shader);
    GLint compiled = GL_FALSE;
    emscripten_glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled != GL_TRUE) {
        refuse(type == GL_VERTEX_SHADER ? "the vertex shader did not compile"
                                        : "the fragment shader did not compile",
               info_log(shader, false));
        return 0;
    }
    return shader;
}

void set_up() {
    const GLuint vertex = compile(GL_VERTEX_SHADER, VERTEX_SHADER);
    const GLuint fragment = vertex ? compile(GL_FRAGMENT_SHADER, FRAGMENT_SHADER) : 0;
    if (!fragment)
        return;
    program = emscripten_glCreateProgram();
    emscripten_glAttachShader(program, vertex);
    emscripten_glAttachShader(program, fragment);
    emscripten_glLinkProgram(program);
    GLint linked = GL_FALSE;
    emscripten_glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) {
        refuse("the shaders did not link", info_log(program, true));
        return;
    }
    emscripten_glUseProgram(program);
    for (int u = 0; u < UNIFORMS; ++u)
        uniforms[u] = emscripten_glGetUniformLocation(program, UNIFORM_NAMES[u]);

    GLuint vertex_array = 0;
    emscripten_glGenVertexArrays(1, &vertex_array);
    emscripten_glBindVertexArray(vertex_array);
    emscripten_glGenBuffers(1, &buffer);
    emscripten_glBindBuffer(GL_ARRAY_BUFFER, buffer);
    emscripten_glBufferData(GL_ARRAY_BUFFER, BUFFER_BYTES, nullptr, GL_STREAM_DRAW);
    const struct {
        GLint size;
        size_t offset;
    } attributes[4] = {{3, offsetof(vgl::Vertex, position)},
                       {4, offsetof(vgl::Vertex, color)},
                       {3, offsetof(vgl::Vertex, normal)},
                       {2, offsetof(vgl::Vertex, texcoord)}};
    for (GLuint a = 0; a < 4; ++a) {
        emscripten_glEnableVertexAttribArray(a);
        emscripten_glVertexAttribPointer(a, attributes[a].size, GL_FLOAT, GL_FALSE,
                                         sizeof(vgl::Vertex),
                                         reinterpret_cast<const void *>(attributes[a].offset));
    }
}

// The light that is on (the pipeline draws one); none gives the light-model ambient alone.
const vgl::Light &active_light() {
    static const vgl::Light dark;
    for (const vgl::Light &l : vgl::state.lights)
        if (l.enabled)
            return l;
    return dark;
}

void send_state() {
    const vgl::FixedState &s = vgl::state;
    const vgl::Light &light = active_light();
    emscripten_glUniform1i(uniforms[LIGHTING], s.lighting);
    emscripten_glUniform1i(uniforms[TWO_SIDE], s.two_side);
    emscripten_glUniform3fv(uniforms[LIGHT_POSITION], 1, light.position);
    emscripten_glUniform3fv(uniforms[LIGHT_AMBIENT], 1, light.ambient);
    emscripten_glUniform3fv(uniforms[LIGHT_DIFFUSE], 1, light.diffuse);
    emscripten_glUniform3fv(uniforms[SCENE_AMBIENT], 1, s.scene_ambient);
    emscripten_glUniform1i(uniforms[TEXTURING], s.texture);
    // Linear fog only, with the factor's slope and intercept in single precision.
    emscripten_glUniform1i(uniforms[FOG], s.fog && s.fog_mode == GL_LINEAR);
    const float slope = s.fog_end == s.fog_start ? 1.0f : -1.0f / (s.fog_end - s.fog_start);
    const float line[2] = {slope, s.fog_end * -slope};
    emscripten_glUniform2fv(uniforms[FOG_LINE], 1, line);
    emscripten_glUniform3fv(uniforms[FOG_COLOR], 1, s.fog_color);
}

void send_matrices() {
    const float *mv = vgl::modelview();
    float mvp[16];
    vgl::multiply(mvp, vgl::projection(), mv);
    emscripten_glUniformMatrix4fv(uniforms[MVP], 1, GL_FALSE, mvp);
    emscripten_glUniformMatrix4fv(uniforms[MODELVIEW], 1, GL_FALSE, mv);
    float normals[9];
    if (!vgl::normal_matrix(mv, normals))
        for (int i = 0; i < 9; ++i)
            normals[i] = (i % 4 == 0) ? 1.0f : 0.0f; // a singular matrix leaves normals as given
    emscripten_glUniformMatrix3fv(uniforms[NORMAL_MATRIX], 1, GL_FALSE, normals);
}

} // namespace

namespace vgl {

void draw_triangles(const Vertex *vertices, int count) {
    if (refused)
        return;
    if (program == 0)
        set_up();
    if (refused)
        return;
    if (sent_state != state_version) {
        send_state();
        sent_state = state_version;
    }
    if (sent_matrices != matrix_version()) {
        send_matrices();
        sent_matrices = matrix_version();
    }
    const GLsizeiptr bytes = static_cast<GLsizeiptr>(count) * sizeof(Vertex);
    if (buffer_used + bytes > BUFFER_BYTES) {
        // Fresh storage rather than overwriting vertices a draw may still be reading.
        emscripten_glBufferData(GL_ARRAY_BUFFER, BUFFER_BYTES, nullptr, GL_STREAM_DRAW);
        buffer_used = 0;
    }
    emscripten_glBufferSubData(GL_ARRAY_BUFFER, buffer_used, bytes, vertices);
    emscripten_glDrawArrays(GL_TRIANGLES, static_cast<GLint>(buffer_used / sizeof(Vertex)), count);
    buffer_used += bytes;
}

} // namespace vgl
