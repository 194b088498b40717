// Test images, made in memory at run time: PNGs of every colour type the logo loader may meet
// (written with libpng), a JPEG (libjpeg), a PNG header that declares a huge image, and
// damaged files.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

namespace vt {

struct Rgba {
    uint8_t r, g, b, a;
};
using Bytes = std::vector<uint8_t>;
using Texels = std::function<Rgba(int x, int y)>;

// 8-bit RGBA, RGB (no alpha), grey, and 16-bit RGBA (each 8-bit value v stored as v * 257, so
// stripping or scaling to 8 bits gives v back).
Bytes png_rgba(int w, int h, const Texels &texel);
Bytes png_rgb(int w, int h, const Texels &texel);
Bytes png_grey(int w, int h, const std::function<uint8_t(int x, int y)> &level);
Bytes png_rgba16(int w, int h, const Texels &texel);
// Adam7-interlaced 8-bit RGBA; 8-bit grey with alpha; 4-bit palette (no transparency).
Bytes png_rgba_interlaced(int w, int h, const Texels &texel);
Bytes png_grey_alpha(int w, int h, const std::function<uint8_t(int x, int y)> &level,
                     const std::function<uint8_t(int x, int y)> &alpha);
Bytes png_palette4(int w, int h, const std::vector<Rgba> &palette,
                   const std::function<uint8_t(int x, int y)> &index);
// RGB or grey with a tRNS chunk that makes one colour (or grey level) fully transparent.
Bytes png_rgb_keyed(int w, int h, const Texels &texel, Rgba key);
Bytes png_grey_keyed(int w, int h, const std::function<uint8_t(int x, int y)> &level, uint8_t key);
// 8-bit palette image; with_alpha adds a tRNS chunk with each palette colour's alpha.
Bytes png_palette(int w, int h, const std::vector<Rgba> &palette, bool with_alpha,
                  const std::function<uint8_t(int x, int y)> &index);
// A well-formed PNG signature, IHDR (8-bit RGBA, w x h), one IDAT holding the compressed start
// of the image (whole rows of incompressible noise, about 64 KiB), and IEND: a small file that
// declares a w x h image.
Bytes png_declaring(uint32_t w, uint32_t h);
// Baseline JPEG, quality 95.
Bytes jpeg_rgb(int w, int h, const Texels &texel);
// Reproducible noise.
Bytes random_bytes(size_t n, uint32_t seed);

} // namespace vt
