// piirra swaps buffers only when kaksoispuskurointi is nonzero, seen with real parts: SDL 1.2
// opens an OpenGL window on a private Xvfb server, and what the X server shows in the window
// (XGetImage) is compared with what GL drew into the back buffer.
//
// A double-buffered window with the flag forced to 0 must keep showing its old picture after
// piirra, while the back buffer holds the new frame; with the flag 1 the same frame reaches
// the window (the control that shows the method can see a swap). A genuinely single-buffered
// window (SDL_GL_DOUBLEBUFFER 0, read back into the flag as alusta does) shows the frame it
// drew once GL has finished, without any swap.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "direction/direction.h"
#include "fixture.h"

// X11's headers define macros (None, Bool, Status) that gtest's headers use as names: they
// come after gtest.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace vt {
namespace {

// A private Xvfb for this process, started with -displayfd so that parallel tests never race
// for a display number.
class Xvfb : public ::testing::Environment {
  public:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            const std::string screen =
                std::to_string(LEVEYS + 64) + "x" + std::to_string(KORKEUS + 64) + "x24";
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
                   "-nolisten", "tcp", "-noreset", "+extension", "GLX",
                   static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        ASSERT_FALSE(number.empty()) << "Xvfb did not start";
        setenv("DISPLAY", (":" + number).c_str(), 1);
        setenv("SDL_VIDEODRIVER", "x11", 1);
    }
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

  private:
    pid_t pid_ = -1;
};

struct Frame {
    std::vector<uint8_t> rgb; // top row first
    const uint8_t *at(int x, int y) const { return &rgb[(size_t(y) * LEVEYS + x) * 3]; }
};

class Swap : public ::testing::Test {
  protected:
    void open(int double_buffer) {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        SDL_GL_SetAttribute(SDL_GL_RED_SIZE, VARIN_BITIT);
        SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, VARIN_BITIT);
        SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, VARIN_BITIT);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, SYVYYS);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, double_buffer);
        ASSERT_NE(SDL_SetVideoMode(LEVEYS, KORKEUS, 0, SDL_OPENGL), nullptr) << SDL_GetError();
        int db = -1;
        SDL_GL_GetAttribute(SDL_GL_DOUBLEBUFFER, &db);
        kaksoispuskurointi = db;
        logo_texture = 0;
        startup_render_state();
        set_clock(0, 0);
        ASSERT_EQ(load_logo(png_rgba(
                      256, 256,
                      [](int x, int y) {
                          return Rgba{uint8_t((x / 32 + y / 32) % 2 ? 255 : 40), 0, 0, 255};
                      })),
                  "");
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        ASSERT_EQ(SDL_GetWMInfo(&info), 1);
        display_ = info.info.x11.display;
        window_ = info.info.x11.window;
        lock_ = info.info.x11.lock_func;
        unlock_ = info.info.x11.unlock_func;
    }
    void TearDown() override { SDL_Quit(); }

    // What the X server shows in the window, after GL and X have caught up.
    Frame shown() {
        glFinish();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        lock_();
        XSync(display_, False);
        XImage *image = XGetImage(display_, window_, 0, 0, LEVEYS, KORKEUS, AllPlanes, ZPixmap);
        Frame w;
        if (!image) {
            unlock_();
            ADD_FAILURE() << "XGetImage failed";
            return w;
        }
        auto shift = [](unsigned long mask) {
            int s = 0;
            while (mask && !(mask & 1)) {
                mask >>= 1;
                ++s;
            }
            return s;
        };
        const int rs = shift(image->red_mask), gs = shift(image->green_mask),
                  bs = shift(image->blue_mask);
        w.rgb.resize(size_t(LEVEYS) * KORKEUS * 3);
        for (int y = 0; y < KORKEUS; ++y)
            for (int x = 0; x < LEVEYS; ++x) {
                const unsigned long p = XGetPixel(image, x, y);
                uint8_t *out = &w.rgb[(size_t(y) * LEVEYS + x) * 3];
                out[0] = static_cast<uint8_t>((p & image->red_mask) >> rs);
                out[1] = static_cast<uint8_t>((p & image->green_mask) >> gs);
                out[2] = static_cast<uint8_t>((p & image->blue_mask) >> bs);
            }
        XDestroyImage(image);
        unlock_();
        return w;
    }
    // A GL colour buffer of the window, top row first, as RGB.
    static Frame gl_buffer(GLenum which) {
        std::vector<uint8_t> up(size_t(LEVEYS) * KORKEUS * 3);
        glReadBuffer(which);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, LEVEYS, KORKEUS, GL_RGB, GL_UNSIGNED_BYTE, up.data());
        Frame w;
        w.rgb.resize(up.size());
        const size_t row = size_t(LEVEYS) * 3;
        for (int y = 0; y < KORKEUS; ++y)
            std::copy(&up[(KORKEUS - 1 - y) * row], &up[(KORKEUS - y) * row], &w.rgb[y * row]);
        return w;
    }
    static int differing(const Frame &a, const Frame &b) {
        int n = 0;
        for (size_t i = 0; i < a.rgb.size() && i < b.rgb.size(); ++i)
            n += std::abs(int(a.rgb[i]) - int(b.rgb[i])) > 1;
        return n;
    }
    static bool all_green(const Frame &w) {
        for (size_t i = 0; i < w.rgb.size(); i += 3)
            if (w.rgb[i] != 0 || w.rgb[i + 1] != 255 || w.rgb[i + 2] != 0)
                return false;
        return !w.rgb.empty();
    }
    static void save(const Frame &w, const std::string &name) {
        Picture p;
        p.w = LEVEYS;
        p.h = KORKEUS;
        for (size_t i = 0; i < w.rgb.size(); i += 3)
            p.rgba.insert(p.rgba.end(), {w.rgb[i], w.rgb[i + 1], w.rgb[i + 2], 255});
        save_artefact(p, name);
    }
    // A frame of the city, the same whenever it is drawn from the same clear colour.
    static void city_frame() {
        glClearColor(0.2f, 0.1f, 0.05f, 1);
        glColor4f(1, 1, 1, 1);
        tahdit = 10;
        aika = 20000;
        piirra();
    }

    Display *display_ = nullptr;
    ::Window window_ = 0;
    void (*lock_)() = nullptr;
    void (*unlock_)() = nullptr;
};

TEST_F(Swap, DoubleBufferedWindowWithTheFlagAt0IsDrawnButNotSwapped) {
    open(1);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(kaksoispuskurointi, 1) << "Xvfb's GLX gave no double-buffered visual";
    // The window shows green, put there by a swap of the test's own.
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SDL_GL_SwapBuffers();
    ASSERT_TRUE(all_green(shown())) << "the window does not show what a swap presents";

    kaksoispuskurointi = 0;
    city_frame();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const Frame back = gl_buffer(GL_BACK);
    const Frame window_after = shown();
    EXPECT_TRUE(all_green(window_after))
        << "the window changed: piirra swapped with kaksoispuskurointi 0";
    EXPECT_FALSE(all_green(back)) << "the frame was not drawn into the back buffer";
    save(back, "swap_back_buffer_flag0_" + std::to_string(LEVEYS));

    // Control: the same frame with the flag set reaches the window.
    kaksoispuskurointi = 1;
    city_frame();
    const Frame presented = shown();
    EXPECT_FALSE(all_green(presented)) << "no swap with kaksoispuskurointi 1";
    EXPECT_LT(differing(presented, back), 100) << "the window does not show the frame drawn";
    save(presented, "swap_window_flag1_" + std::to_string(LEVEYS));
}

TEST_F(Swap, SingleBufferedWindowShowsTheFrameWithoutASwap) {
    open(0);
    ASSERT_FALSE(HasFatalFailure());
    if (kaksoispuskurointi != 0)
        GTEST_SKIP() << "Xvfb's GLX gave a double-buffered visual for SDL_GL_DOUBLEBUFFER 0";
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ASSERT_TRUE(all_green(shown()));
    city_frame();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const Frame window = shown();
    EXPECT_FALSE(all_green(window)) << "the single-buffered window does not show the frame";
    EXPECT_LT(differing(window, gl_buffer(GL_FRONT)), 100);
    save(window, "swap_single_buffered_window_" + std::to_string(LEVEYS));
}

} // namespace
} // namespace vt

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new vt::Xvfb);
    return RUN_ALL_TESTS();
}
