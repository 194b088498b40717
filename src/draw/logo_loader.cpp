// The logo loader: reads the PNG, refuses what it cannot safely decode, and hands back packed
// R, G, B, A bytes at the image's real size, whatever the file held.
#include <algorithm>
#include <cstdio>

#include <SDL_image.h>

#include "draw/draw.h"

namespace {

// Memory order R, G, B, A whatever the machine's byte order.
#if SDL_BYTEORDER == SDL_BIG_ENDIAN
const Uint32 R_MASK = 0xff000000, G_MASK = 0x00ff0000, B_MASK = 0x0000ff00, A_MASK = 0x000000ff;
#else
const Uint32 R_MASK = 0x000000ff, G_MASK = 0x0000ff00, B_MASK = 0x00ff0000, A_MASK = 0xff000000;
#endif

SDL_Surface *ei_logoa(const char *syy) {
    printf("Virhe: IMG_Load: %s\n", syy);
    fflush(stdout);
    return nullptr;
}

Uint32 iso_endian_32(const Uint8 *p) {
    return (Uint32(p[0]) << 24) | (Uint32(p[1]) << 16) | (Uint32(p[2]) << 8) | Uint32(p[3]);
}

} // namespace

SDL_Surface *lue_logo(SDL_RWops *rw) {
    if (!rw)
        return ei_logoa(SDL_GetError());

    // Refuse a huge image from its header alone: a few kilobytes of PNG can otherwise ask
    // the decoder for gigabytes.
    Uint8 otsake[24];
    const int luettu = SDL_RWread(rw, otsake, 1, sizeof otsake);
    SDL_RWseek(rw, 0, RW_SEEK_SET);
    static const Uint8 PNG_TUNNISTE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (luettu != static_cast<int>(sizeof otsake) ||
        !std::equal(PNG_TUNNISTE, PNG_TUNNISTE + 8, otsake) ||
        !std::equal(otsake + 12, otsake + 16, reinterpret_cast<const Uint8 *>("IHDR"))) {
        SDL_RWclose(rw);
        return ei_logoa("not a PNG image");
    }
    const Uint32 leveys = iso_endian_32(otsake + 16);
    const Uint32 korkeus = iso_endian_32(otsake + 20);
    if (leveys == 0 || korkeus == 0 || leveys > LOGO_MAX_SIDE || korkeus > LOGO_MAX_SIDE) {
        SDL_RWclose(rw);
        char syy[96];
        snprintf(syy, sizeof syy, "PNG image of %u x %u pixels, more than %d on a side",
                 static_cast<unsigned>(leveys), static_cast<unsigned>(korkeus), LOGO_MAX_SIDE);
        return ei_logoa(syy);
    }

    SDL_Surface *kuva = IMG_LoadPNG_RW(rw);
    SDL_RWclose(rw);
    if (!kuva)
        return ei_logoa(SDL_GetError());

    // Whatever the PNG held (palette, grey, RGB, 16 bits), hand GL packed R, G, B, A bytes.
    SDL_PixelFormat rgba = {};
    rgba.BitsPerPixel = 32;
    rgba.BytesPerPixel = 4;
    rgba.Rmask = R_MASK;
    rgba.Gmask = G_MASK;
    rgba.Bmask = B_MASK;
    rgba.Amask = A_MASK;
    rgba.Rshift = static_cast<Uint8>(__builtin_ctz(R_MASK));
    rgba.Gshift = static_cast<Uint8>(__builtin_ctz(G_MASK));
    rgba.Bshift = static_cast<Uint8>(__builtin_ctz(B_MASK));
    rgba.Ashift = static_cast<Uint8>(__builtin_ctz(A_MASK));
    rgba.alpha = 255;
    SDL_Surface *muunnettu = SDL_ConvertSurface(kuva, &rgba, SDL_SWSURFACE);
    SDL_FreeSurface(kuva);
    if (!muunnettu)
        return ei_logoa(SDL_GetError());
    return muunnettu;
}
