#include "images.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

namespace vt {
namespace {

void append_to(png_structp png, png_bytep data, png_size_t length) {
    auto *out = static_cast<Bytes *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// Writes a PNG of the given colour type and depth; `row(y, bytes)` fills one packed row.
Bytes write_png(int w, int h, int colour_type, int depth, size_t row_bytes,
                const std::function<void(int y, uint8_t *row)> &row,
                const std::function<void(png_structp, png_infop)> &extra = {},
                bool interlaced = false) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng could not write the test image");
    }
    png_set_write_fn(png, &out, append_to, nullptr);
    png_set_IHDR(png, info, w, h, depth, colour_type,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (extra)
        extra(png, info);
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png); // 7 for Adam7: every row in each pass
    std::vector<uint8_t> bytes(row_bytes);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < h; ++y) {
            row(y, bytes.data());
            png_write_row(png, bytes.data());
        }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// Row fillers for write_png: the texels packed as 8-bit RGBA or RGB.
std::function<void(int, uint8_t *)> rgba_rows(int w, const Texels &texel) {
    return [w, &texel](int y, uint8_t *row) {
        for (int x = 0; x < w; ++x) {
            const Rgba c = texel(x, y);
            row[4 * x] = c.r;
            row[4 * x + 1] = c.g;
            row[4 * x + 2] = c.b;
            row[4 * x + 3] = c.a;
        }
    };
}
std::function<void(int, uint8_t *)> rgb_rows(int w, const Texels &texel) {
    return [w, &texel](int y, uint8_t *row) {
        for (int x = 0; x < w; ++x) {
            const Rgba c = texel(x, y);
            row[3 * x] = c.r;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.b;
        }
    };
}

void put_be32(Bytes &out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void put_chunk(Bytes &out, const char type[4], const Bytes &data) {
    put_be32(out, static_cast<uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    put_be32(out, static_cast<uint32_t>(crc32(0L, body.data(), static_cast<uInt>(body.size()))));
}

} // namespace

Bytes png_rgba(int w, int h, const Texels &texel) {
    return write_png(w, h, PNG_COLOR_TYPE_RGB_ALPHA, 8, size_t(w) * 4, rgba_rows(w, texel));
}

Bytes png_rgba_interlaced(int w, int h, const Texels &texel) {
    return write_png(w, h, PNG_COLOR_TYPE_RGB_ALPHA, 8, size_t(w) * 4, rgba_rows(w, texel), {},
                     true);
}

Bytes png_grey_alpha(int w, int h, const std::function<uint8_t(int, int)> &level,
                     const std::function<uint8_t(int, int)> &alpha) {
    return write_png(w, h, PNG_COLOR_TYPE_GRAY_ALPHA, 8, size_t(w) * 2, [&](int y, uint8_t *row) {
        for (int x = 0; x < w; ++x) {
            row[2 * x] = level(x, y);
            row[2 * x + 1] = alpha(x, y);
        }
    });
}

Bytes png_palette4(int w, int h, const std::vector<Rgba> &palette,
                   const std::function<uint8_t(int, int)> &index) {
    return write_png(
        w, h, PNG_COLOR_TYPE_PALETTE, 4, (size_t(w) + 1) / 2,
        [&](int y, uint8_t *row) {
            std::fill(row, row + (w + 1) / 2, 0);
            for (int x = 0; x < w; ++x)
                row[x / 2] |= static_cast<uint8_t>((index(x, y) & 15) << (x % 2 ? 0 : 4));
        },
        [&](png_structp png, png_infop info) {
            std::vector<png_color> colours;
            for (const Rgba &c : palette)
                colours.push_back(png_color{c.r, c.g, c.b});
            png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
        });
}

Bytes png_rgb(int w, int h, const Texels &texel) {
    return write_png(w, h, PNG_COLOR_TYPE_RGB, 8, size_t(w) * 3, rgb_rows(w, texel));
}

Bytes png_grey(int w, int h, const std::function<uint8_t(int, int)> &level) {
    return write_png(w, h, PNG_COLOR_TYPE_GRAY, 8, size_t(w), [&](int y, uint8_t *row) {
        for (int x = 0; x < w; ++x)
            row[x] = level(x, y);
    });
}

Bytes png_rgb_keyed(int w, int h, const Texels &texel, Rgba key) {
    return write_png(w, h, PNG_COLOR_TYPE_RGB, 8, size_t(w) * 3, rgb_rows(w, texel),
                     [&](png_structp png, png_infop info) {
                         png_color_16 colour{};
                         colour.red = key.r;
                         colour.green = key.g;
                         colour.blue = key.b;
                         png_set_tRNS(png, info, nullptr, 0, &colour);
                     });
}

Bytes png_grey_keyed(int w, int h, const std::function<uint8_t(int, int)> &level, uint8_t key) {
    return write_png(
        w, h, PNG_COLOR_TYPE_GRAY, 8, size_t(w),
        [&](int y, uint8_t *row) {
            for (int x = 0; x < w; ++x)
                row[x] = level(x, y);
        },
        [&](png_structp png, png_infop info) {
            png_color_16 colour{};
            colour.gray = key;
            png_set_tRNS(png, info, nullptr, 0, &colour);
        });
}

Bytes png_rgba16(int w, int h, const Texels &texel) {
    return write_png(w, h, PNG_COLOR_TYPE_RGB_ALPHA, 16, size_t(w) * 8, [&](int y, uint8_t *row) {
        for (int x = 0; x < w; ++x) {
            const Rgba c = texel(x, y);
            const uint8_t v[4] = {c.r, c.g, c.b, c.a};
            for (int k = 0; k < 4; ++k) { // big-endian v * 257: both bytes are v
                row[8 * x + 2 * k] = v[k];
                row[8 * x + 2 * k + 1] = v[k];
            }
        }
    });
}

Bytes png_palette(int w, int h, const std::vector<Rgba> &palette, bool with_alpha,
                  const std::function<uint8_t(int, int)> &index) {
    return write_png(
        w, h, PNG_COLOR_TYPE_PALETTE, 8, size_t(w),
        [&](int y, uint8_t *row) {
            for (int x = 0; x < w; ++x)
                row[x] = index(x, y);
        },
        [&](png_structp png, png_infop info) {
            std::vector<png_color> colours;
            std::vector<png_byte> alphas;
            for (const Rgba &c : palette) {
                colours.push_back(png_color{c.r, c.g, c.b});
                alphas.push_back(c.a);
            }
            png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
            if (with_alpha)
                png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
        });
}

Bytes png_declaring(uint32_t w, uint32_t h) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    Bytes ihdr;
    put_be32(ihdr, w);
    put_be32(ihdr, h);
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0}); // 8-bit RGBA, deflate, adaptive, no interlace
    put_chunk(out, "IHDR", ihdr);
    // The compressed start of the image: whole rows (filter byte 0, then noise pixels, which do
    // not compress) up to 64 KiB, so that decoding has tens of kilobytes to read.
    const size_t row = 1 + std::min<size_t>(size_t(w) * 4, 1 << 16);
    Bytes raw = random_bytes(std::min<size_t>(size_t(h), (1 << 16) / row + 1) * row, w ^ h);
    for (size_t at = 0; at < raw.size(); at += row)
        raw[at] = 0;
    Bytes packed(compressBound(static_cast<uLong>(raw.size())));
    uLongf packed_size = static_cast<uLongf>(packed.size());
    compress(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()));
    packed.resize(packed_size);
    put_chunk(out, "IDAT", packed);
    put_chunk(out, "IEND", {});
    return out;
}

namespace {
struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};
void jpeg_fail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegError *>(info->err)->jump, 1);
}
} // namespace

Bytes jpeg_rgb(int w, int h, const Texels &texel) {
    jpeg_compress_struct cinfo;
    JpegError error;
    cinfo.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = jpeg_fail;
    unsigned char *memory = nullptr;
    unsigned long size = 0;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(memory);
        throw std::runtime_error("libjpeg could not write the test image");
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &memory, &size);
    cinfo.image_width = static_cast<JDIMENSION>(w);
    cinfo.image_height = static_cast<JDIMENSION>(h);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(w) * 3);
    const auto rgb = rgb_rows(w, texel);
    while (cinfo.next_scanline < cinfo.image_height) {
        rgb(static_cast<int>(cinfo.next_scanline), row.data());
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(memory, memory + size);
    std::free(memory);
    return out;
}

Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes out(n);
    for (auto &b : out)
        b = static_cast<uint8_t>(generator());
    return out;
}

} // namespace vt
