// The logo loader of the browser edition: the same contract as the desktop one (read the PNG from
// `rw` and close it, refuse a huge or non-PNG file before decoding, hand back packed R, G, B, A
// bytes of every texel with its colour kept), with stb_image decoding, since the browser's SDL
// has no decoder of its own. Also the file handles it reads from: the browser's SDL gives out
// numbers, not handles that can be read.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <SDL.h>

#include "draw/draw.h"

extern "C" {
unsigned char *stbi_load_from_memory(const unsigned char *buffer, int length, int *width,
                                     int *height, int *channels, int wanted_channels);
void stbi_image_free(void *pixels);
const char *stbi_failure_reason(void);
}

namespace {

const size_t PNG_HEADER = 24; // signature, IHDR length and type, width, height

FILE *file_of(SDL_RWops *rw) {
    return static_cast<FILE *>(rw->hidden.unknown.data1);
}

long seek(SDL_RWops *rw, long offset, int whence) {
    return std::fseek(file_of(rw), offset, whence) == 0 ? std::ftell(file_of(rw)) : -1;
}

size_t read(SDL_RWops *rw, void *to, size_t size, size_t count) {
    return std::fread(to, size, count, file_of(rw));
}

size_t write(SDL_RWops *, const void *, size_t, size_t) {
    return 0;
}

int close(SDL_RWops *rw) {
    const int result = std::fclose(file_of(rw));
    std::free(rw);
    return result;
}

SDL_Surface *no_logo(const char *why) {
    std::printf("Virhe: IMG_Load: %s\n", why);
    std::fflush(stdout);
    return nullptr;
}

uint32_t big_endian_32(const unsigned char *p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// The whole stream, closed after reading.
std::vector<unsigned char> read_all(SDL_RWops *rw) {
    std::vector<unsigned char> bytes;
    const long size = SDL_RWseek(rw, 0, RW_SEEK_END);
    if (size > 0 && SDL_RWseek(rw, 0, RW_SEEK_SET) == 0) {
        bytes.resize(static_cast<size_t>(size));
        bytes.resize(SDL_RWread(rw, bytes.data(), 1, bytes.size()));
    }
    SDL_RWclose(rw);
    return bytes;
}

} // namespace

extern "C" SDL_RWops *SDL_RWFromFile(const char *path, const char *mode) {
    FILE *f = std::fopen(path, mode);
    if (!f) {
        SDL_SetError("Couldn't open %s", path);
        return nullptr;
    }
    auto *rw = static_cast<SDL_RWops *>(std::calloc(1, sizeof(SDL_RWops)));
    rw->seek = seek;
    rw->read = read;
    rw->write = write;
    rw->close = close;
    rw->hidden.unknown.data1 = f;
    return rw;
}

SDL_Surface *lue_logo(SDL_RWops *rw) {
    if (!rw)
        return no_logo(SDL_GetError());
    const std::vector<unsigned char> png = read_all(rw);
    static const unsigned char SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (png.size() < PNG_HEADER || !std::equal(SIGNATURE, SIGNATURE + 8, png.begin()) ||
        std::memcmp(png.data() + 12, "IHDR", 4) != 0)
        return no_logo("not a PNG image");
    const uint32_t width = big_endian_32(png.data() + 16);
    const uint32_t height = big_endian_32(png.data() + 20);
    if (width == 0 || height == 0 || width > LOGO_MAX_SIDE || height > LOGO_MAX_SIDE) {
        char why[96];
        std::snprintf(why, sizeof why, "PNG image of %u x %u pixels, more than %d on a side",
                      static_cast<unsigned>(width), static_cast<unsigned>(height), LOGO_MAX_SIDE);
        return no_logo(why);
    }

    int w = 0, h = 0, channels = 0;
    unsigned char *rgba =
        stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &w, &h, &channels, 4);
    if (!rgba)
        return no_logo(stbi_failure_reason());
    // Memory order R, G, B, A: the browser is little-endian.
    SDL_Surface *surface = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0x000000ff, 0x0000ff00,
                                                0x00ff0000, 0xff000000);
    if (surface)
        for (int y = 0; y < h; ++y)
            std::memcpy(static_cast<unsigned char *>(surface->pixels) + y * surface->pitch,
                        rgba + static_cast<size_t>(y) * w * 4, static_cast<size_t>(w) * 4);
    stbi_image_free(rgba);
    return surface ? surface : no_logo("out of memory");
}
