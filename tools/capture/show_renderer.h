// The show drawn offscreen: a Mesa context with a framebuffer of the build's size, the show's
// start-up render state and logo, and frames drawn by the show's own piirra at a given clock.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "frame_clock.h"

namespace capture {

class ShowRenderer {
  public:
    ShowRenderer() = default;
    ~ShowRenderer();
    ShowRenderer(const ShowRenderer &) = delete;
    ShowRenderer &operator=(const ShowRenderer &) = delete;

    // Opens the context and sets up what the show's start-up sets: the render state, the
    // logo texture from `data_dir`/logo3.png, the tempo, a single-buffered frame.
    bool open(int width, int height, const std::string &data_dir, std::string *error);
    bool has_logo() const;
    // False when the driver cannot draw upside down in memory as it does for a window; the
    // frames may then differ from the window's in single edge pixels.
    bool window_like() const { return flipped_; }

    int width() const { return width_; }
    int height() const { return height_; }
    size_t frame_bytes() const { return static_cast<size_t>(width_) * height_ * 4; }

    // One frame as the show's loop draws it after a clock step from `prev_aika` to `aika`.
    // The clear colour of a frame is the one the previous frame's camera set, so a frame is
    // exact only when the frame before it was drawn first.
    void draw(uint32_t prev_aika, uint32_t aika);
    // The frame just drawn, RGBA bottom row first.
    void read(uint8_t *rgba);

    enum class Readback { pbo, sync };
    // Draws frames first..last of `clock` (and, when first > 0, frame first - 1 before them,
    // unseen, for its clear colour) and hands each to `deliver` in order, RGBA bottom row
    // first. With pbo, frame n is read into one of two pixel buffers and copied out only
    // after frame n + 1 has been issued. Stops early, returning false, when `deliver` does.
    bool render(const FrameClock &clock, uint64_t first, uint64_t last, Readback how,
                const std::function<bool(uint64_t, const uint8_t *)> &deliver);

    std::string gl_error() const;

  private:
    int width_ = 0;
    int height_ = 0;
    unsigned pbo_[2] = {0, 0};
    unsigned depth_stencil_ = 0;
    bool flipped_ = false;
};

} // namespace capture
