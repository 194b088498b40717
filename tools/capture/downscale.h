// Supersampled frames filtered down to the output size: the mean of each N x N block of
// pixels, taken in linear light.
#pragma once
#include <cstdint>
#include <vector>

namespace capture {

class Downscaler {
  public:
    // Frames of (width * factor) x (height * factor) pixels to width x height.
    Downscaler(int width, int height, int factor);

    // RGBA in, RGBA out, rows in the same order. Colour is averaged in linear light, alpha
    // as it stands.
    void run(const uint8_t *big, uint8_t *small) const;

  private:
    int width_, height_, factor_;
    uint64_t reciprocal_;          // 2^32 / factor^2, rounded up: exact division of the sums
    uint16_t to_linear_[256];      // an sRGB byte as linear light, 0 to 65535
    std::vector<uint8_t> to_srgb_; // linear light 0 to 65535 as the nearest sRGB byte
};

} // namespace capture
