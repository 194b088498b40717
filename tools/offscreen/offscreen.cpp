// The offscreen context: EGL display, context and the framebuffer object it draws into.
#include "offscreen.h"

#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

namespace {

EGLDisplay display = EGL_NO_DISPLAY;
EGLContext context = EGL_NO_CONTEXT;
GLuint framebuffer = 0;
GLuint colour_buffer = 0;
GLuint depth_buffer = 0;
int width_ = 0;
int height_ = 0;

bool fail(std::string *error, const std::string &why) {
    if (error)
        *error = why;
    offscreen_close();
    return false;
}

} // namespace

bool offscreen_open(int width, int height, std::string *error) {
    offscreen_close();
    auto get_platform_display = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!get_platform_display)
        return fail(error, "eglGetPlatformDisplayEXT is missing");
    display = get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr))
        return fail(error, "no surfaceless EGL display");
    if (!eglBindAPI(EGL_OPENGL_API))
        return fail(error, "eglBindAPI(EGL_OPENGL_API) failed");
    // No attributes: the default is a compatibility profile, which fixed-function drawing needs.
    context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT)
        return fail(error, "eglCreateContext failed");
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context))
        return fail(error, "eglMakeCurrent failed");

    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glGenRenderbuffers(1, &colour_buffer);
    glBindRenderbuffer(GL_RENDERBUFFER, colour_buffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_buffer);
    glGenRenderbuffers(1, &depth_buffer);
    glBindRenderbuffer(GL_RENDERBUFFER, depth_buffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_buffer);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        return fail(error, "the framebuffer object is incomplete");
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glViewport(0, 0, width, height);
    width_ = width;
    height_ = height;
    return true;
}

void offscreen_close() {
    if (display == EGL_NO_DISPLAY)
        return;
    if (context != EGL_NO_CONTEXT) {
        if (framebuffer) {
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            glDeleteFramebuffers(1, &framebuffer);
            glDeleteRenderbuffers(1, &colour_buffer);
            glDeleteRenderbuffers(1, &depth_buffer);
        }
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display, context);
    }
    eglTerminate(display);
    display = EGL_NO_DISPLAY;
    context = EGL_NO_CONTEXT;
    framebuffer = colour_buffer = depth_buffer = 0;
    width_ = height_ = 0;
}

int offscreen_width() {
    return width_;
}
int offscreen_height() {
    return height_;
}

void offscreen_read_rgba(uint8_t *dest) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, dest);
}

std::vector<uint8_t> offscreen_read_rgba() {
    std::vector<uint8_t> pixels(static_cast<size_t>(width_) * height_ * 4);
    offscreen_read_rgba(pixels.data());
    return pixels;
}
