#include "show_renderer.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

#include "atomic_output.h"
#include "failure.h"
#include "direction/direction.h"
#include "draw/draw.h"
#include "offscreen.h"
#include "runtime/runtime.h"

namespace capture {

namespace {

// A scratch folder whose "data" is a link to `dir`, or empty when none can be made.
std::string scratch_for(const std::string &dir) {
    char *real = realpath(dir.c_str(), nullptr);
    std::string made;
    for (const std::string &base : scratch_folders()) {
        std::string scratch = base + "/vellamor-capture-XXXXXX";
        if (!real || !mkdtemp(scratch.data()))
            continue;
        if (symlink(real, (scratch + "/data").c_str()) == 0) {
            made = scratch;
            break;
        }
        rmdir(scratch.c_str());
    }
    free(real);
    return made;
}

// The show reads "data/logo3.png" relative to the working directory. A folder that is itself
// named "data" is read from its parent folder; any other is reached through a scratch folder
// whose "data" points at it. The working directory is restored at once, so relative output
// paths keep their meaning, and nothing but the chosen folder is ever read.
bool load_logo(const std::string &logo_dir, std::string *error) {
    std::string dir = logo_dir;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    const auto slash = dir.find_last_of('/');
    const bool named_data = dir.substr(slash == std::string::npos ? 0 : slash + 1) == "data";
    const std::string scratch = named_data ? std::string() : scratch_for(dir);
    const std::string where = !named_data                  ? scratch
                              : slash == std::string::npos ? "."
                              : slash == 0                 ? "/"
                                                           : dir.substr(0, slash);
    const int here = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool there = !where.empty() && here >= 0 && chdir(where.c_str()) == 0;
    if (there) {
        alusta_texturet();
        if (fchdir(here) != 0)
            perror("fchdir");
    }
    if (here >= 0)
        close(here);
    if (!scratch.empty()) {
        unlink((scratch + "/data").c_str());
        rmdir(scratch.c_str());
    }
    return there ||
           fail(error, "cannot reach '" + logo_dir + "' for the logo" +
                           (named_data ? "" : " (a scratch folder in TMPDIR or /tmp is needed)"));
}

bool has_extension(const char *name) {
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    for (GLint i = 0; i < count; ++i) {
        const auto *ext = reinterpret_cast<const char *>(glGetStringi(GL_EXTENSIONS, i));
        if (ext && std::strcmp(ext, name) == 0)
            return true;
    }
    return false;
}

} // namespace

ShowRenderer::~ShowRenderer() {
    if (pbo_[0])
        glDeleteBuffers(2, pbo_);
    if (depth_stencil_)
        glDeleteRenderbuffers(1, &depth_stencil_);
    offscreen_close();
}

bool ShowRenderer::open(int width, int height, int supersample, const std::string &logo_dir,
                        std::string *error) {
    width_ = width;
    height_ = height;
    drawn_width_ = width * supersample;
    drawn_height_ = height * supersample;
    std::string why;
    if (!offscreen_open(drawn_width_, drawn_height_, &why))
        return fail(error, "no offscreen OpenGL context: " + why);
    if (supersample > 1) {
        downscaler_ = std::make_unique<Downscaler>(width, height, supersample);
        drawn_.resize(static_cast<size_t>(drawn_width_) * drawn_height_ * 4);
        filtered_.resize(frame_bytes());
    }
    // The show's window under Mesa gets a 24-bit depth buffer packed with 8 bits of stencil;
    // the same packed format here makes near ties between coplanar faces fall the same way.
    glGenRenderbuffers(1, &depth_stencil_);
    glBindRenderbuffer(GL_RENDERBUFFER, depth_stencil_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, drawn_width_, drawn_height_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                              depth_stencil_);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        return fail(error, "the framebuffer with a depth and stencil buffer is incomplete");
    // Mesa draws a window's framebuffer upside down in memory; rasterising the same way makes
    // edge pixels and ties between coplanar faces come out as in the show's window, where a
    // framebuffer object the right way up differs in a few hundred pixels a frame.
    flipped_ = has_extension("GL_MESA_framebuffer_flip_y");
    if (flipped_)
        glFramebufferParameteri(GL_FRAMEBUFFER, GL_FRAMEBUFFER_FLIP_Y_MESA, 1);
    aseta_piirtotila();
    if (!logo_dir.empty() && !load_logo(logo_dir, error))
        return false;
    moment::set_tempo();
    // Single-buffered: piirra then never swaps, and the frame stays in the framebuffer object.
    kaksoispuskurointi = 0;
    frames_drawn = 0;

    const auto drawn_bytes = static_cast<GLsizeiptr>(drawn_width_) * drawn_height_ * 4;
    glGenBuffers(2, pbo_);
    for (unsigned b : pbo_) {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, b);
        glBufferData(GL_PIXEL_PACK_BUFFER, drawn_bytes, nullptr, GL_STREAM_READ);
    }
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    why = gl_error();
    return why.empty() || fail(error, "setting up the frame failed: " + why);
}

bool ShowRenderer::has_logo() const {
    return logo_texture != 0;
}

void ShowRenderer::read(uint8_t *rgba) {
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glReadPixels(0, 0, drawn_width_, drawn_height_, GL_RGBA, GL_UNSIGNED_BYTE,
                 downscaler_ ? drawn_.data() : rgba);
    if (downscaler_)
        downscaler_->run(drawn_.data(), rgba);
}

bool ShowRenderer::hand_over(uint64_t n,
                             const std::function<bool(uint64_t, const uint8_t *)> &deliver) {
    glBindBuffer(GL_PIXEL_PACK_BUFFER, pbo_[n & 1]);
    const auto *px = static_cast<const uint8_t *>(glMapBuffer(GL_PIXEL_PACK_BUFFER, GL_READ_ONLY));
    if (px && downscaler_) {
        downscaler_->run(px, filtered_.data());
        px = filtered_.data();
    }
    const bool go_on = px && deliver(n, px);
    glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    return go_on;
}

bool ShowRenderer::render(const moment::FrameClock &clock, uint64_t first, uint64_t last,
                          Readback how,
                          const std::function<bool(uint64_t, const uint8_t *)> &deliver) {
    if (first > 0)
        moment::draw_frame(first >= 2 ? clock.aika(first - 2) : 0, clock.aika(first - 1));
    if (how == Readback::sync) {
        std::vector<uint8_t> pixels(frame_bytes());
        for (uint64_t n = first; n <= last; ++n) {
            moment::draw_frame(n > 0 ? clock.aika(n - 1) : 0, clock.aika(n));
            read(pixels.data());
            if (!deliver(n, pixels.data()))
                return false;
        }
        return true;
    }
    // Two pixel buffers: frame n is read into one while frame n - 1, read into the other one
    // frame earlier, is copied out (and filtered down); the copy then waits on nothing that is
    // still drawing.
    for (uint64_t n = first; n <= last; ++n) {
        moment::draw_frame(n > 0 ? clock.aika(n - 1) : 0, clock.aika(n));
        glBindBuffer(GL_PIXEL_PACK_BUFFER, pbo_[n & 1]);
        glReadPixels(0, 0, drawn_width_, drawn_height_, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        if (n > first && !hand_over(n - 1, deliver))
            return false;
    }
    return hand_over(last, deliver);
}

std::string ShowRenderer::gl_error() const {
    std::string why;
    for (GLenum e = glGetError(); e != GL_NO_ERROR; e = glGetError()) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%04x", e);
        why += (why.empty() ? "GL error " : ", ") + std::string(code);
    }
    return why;
}

} // namespace capture
