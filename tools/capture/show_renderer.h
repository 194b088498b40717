// The show drawn offscreen: a Mesa context with a framebuffer of the build's size (or another
// size of its aspect, or N times that to be filtered down), the show's start-up render state
// and logo, and frames drawn by the show's own piirra at a given clock.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "downscale.h"
#include "moment/moment.h"

namespace capture {

class ShowRenderer {
  public:
    ShowRenderer() = default;
    ~ShowRenderer();
    ShowRenderer(const ShowRenderer &) = delete;
    ShowRenderer &operator=(const ShowRenderer &) = delete;

    // Opens the context and sets up what the show's start-up sets: the render state, the
    // logo texture from `logo_dir`/logo3.png (none when `logo_dir` is empty), the tempo, a
    // single-buffered frame. Frames are width x height; with a `supersample` factor N above
    // 1 they are drawn N times as large each way and filtered down.
    bool open(int width, int height, int supersample, const std::string &logo_dir,
              std::string *error);
    bool has_logo() const;
    // False when the driver cannot draw upside down in memory as it does for a window; the
    // frames may then differ from the window's in single edge pixels.
    bool window_like() const { return flipped_; }

    int width() const { return width_; }
    int height() const { return height_; }
    size_t frame_bytes() const { return static_cast<size_t>(width_) * height_ * 4; }

    // The frame just drawn, RGBA bottom row first, at the output size.
    void read(uint8_t *rgba);

    enum class Readback { pbo, sync };
    // Draws frames first..last of `clock` (and, when first > 0, frame first - 1 before them,
    // unseen, for its clear colour) and hands each to `deliver` in order, RGBA bottom row
    // first. With pbo, frame n is read into one of two pixel buffers and copied out only
    // after frame n + 1 has been issued. Stops early, returning false, when `deliver` does.
    bool render(const moment::FrameClock &clock, uint64_t first, uint64_t last, Readback how,
                const std::function<bool(uint64_t, const uint8_t *)> &deliver);

    std::string gl_error() const;

  private:
    // Frame `n`'s pixels from the pixel buffer it was read into, at the output size.
    bool hand_over(uint64_t n, const std::function<bool(uint64_t, const uint8_t *)> &deliver);
    int width_ = 0;
    int height_ = 0;
    int drawn_width_ = 0;
    int drawn_height_ = 0;
    std::unique_ptr<Downscaler> downscaler_; // null: frames are read as drawn
    std::vector<uint8_t> drawn_, filtered_;
    unsigned pbo_[2] = {0, 0};
    unsigned depth_stencil_ = 0;
    bool flipped_ = false;
};

} // namespace capture
