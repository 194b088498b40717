#include "downscale.h"

#include <algorithm>
#include <cmath>

namespace capture {

namespace {

// Linear light is kept in 16 bits: the darkest sRGB steps (about 20 units apart at the
// bottom) stay distinct, so a block of one colour comes back as exactly that colour.
const double LINEAR_MAX = 65535.0;

// The sRGB transfer curve (IEC 61966-2-1), both ways, on 0..1.
double srgb_to_linear(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double linear_to_srgb(double l) {
    return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055;
}

} // namespace

Downscaler::Downscaler(int width, int height, int factor)
    : width_(width), height_(height), factor_(factor), to_srgb_(65536) {
    const uint64_t block = static_cast<uint64_t>(factor) * factor;
    // Sums stay below 2^21, so (sum * reciprocal) >> 32 is their exact quotient.
    reciprocal_ = ((uint64_t{1} << 32) + block - 1) / block;
    for (int v = 0; v < 256; ++v)
        to_linear_[v] = static_cast<uint16_t>(std::lround(srgb_to_linear(v / 255.0) * LINEAR_MAX));
    for (int l = 0; l < 65536; ++l)
        to_srgb_[l] = static_cast<uint8_t>(std::lround(linear_to_srgb(l / LINEAR_MAX) * 255.0));
}

void Downscaler::run(const uint8_t *big, uint8_t *small) const {
    const int f = factor_;
    const size_t big_row = static_cast<size_t>(width_) * f * 4;
    const uint64_t half = static_cast<uint64_t>(f) * f / 2;
    std::vector<uint32_t> sum(static_cast<size_t>(width_) * 4);
    for (int y = 0; y < height_; ++y) {
        std::fill(sum.begin(), sum.end(), 0u);
        for (int dy = 0; dy < f; ++dy) {
            const uint8_t *p = big + (static_cast<size_t>(y) * f + dy) * big_row;
            uint32_t *s = sum.data();
            for (int x = 0; x < width_; ++x, s += 4)
                for (int dx = 0; dx < f; ++dx, p += 4) {
                    s[0] += to_linear_[p[0]];
                    s[1] += to_linear_[p[1]];
                    s[2] += to_linear_[p[2]];
                    s[3] += p[3];
                }
        }
        uint8_t *out = small + static_cast<size_t>(y) * width_ * 4;
        for (size_t i = 0; i < sum.size(); i += 4, out += 4) {
            for (int c = 0; c < 3; ++c)
                out[c] = to_srgb_[((sum[i + c] + half) * reciprocal_) >> 32];
            out[3] = static_cast<uint8_t>(((sum[i + 3] + half) * reciprocal_) >> 32);
        }
    }
}

} // namespace capture
