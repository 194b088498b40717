// The logo loader: reads the PNG, refuses what it cannot safely decode, and hands back packed
// R, G, B, A bytes at the image's real size, whatever the file held.
#include <algorithm>
#include <cstdio>

#include <SDL_image.h>

#include "draw/draw.h"
#include "draw/rgba_masks.h"

namespace {

SDL_Surface *ei_logoa(const char *syy) {
    printf("Virhe: IMG_Load: %s\n", syy);
    fflush(stdout);
    return nullptr;
}

Uint32 iso_endian_32(const Uint8 *p) {
    return (Uint32(p[0]) << 24) | (Uint32(p[1]) << 16) | (Uint32(p[2]) << 8) | Uint32(p[3]);
}

// Whatever the PNG held (palette, grey, RGB, 16 bits, a transparent colour), packed R, G, B, A
// bytes at the image's own size.
SDL_Surface *rgba_tavuina(SDL_Surface *kuva) {
    SDL_Surface *rgba =
        SDL_CreateRGBSurface(SDL_SWSURFACE, kuva->w, kuva->h, 32, R_MASK, G_MASK, B_MASK, A_MASK);
    if (!rgba)
        return nullptr;
    if (kuva->format->BytesPerPixel == 2 && !kuva->format->palette) {
        // Grey with alpha comes from the decoder as byte pairs whose masks are not to be
        // trusted; expand them by hand.
        SDL_LockSurface(kuva);
        for (int y = 0; y < kuva->h; ++y) {
            const Uint8 *lahde = static_cast<const Uint8 *>(kuva->pixels) + y * kuva->pitch;
            Uint8 *kohde = static_cast<Uint8 *>(rgba->pixels) + y * rgba->pitch;
            for (int x = 0; x < kuva->w; ++x, lahde += 2, kohde += 4) {
                kohde[0] = kohde[1] = kohde[2] = lahde[0];
                kohde[3] = lahde[1];
            }
        }
        SDL_UnlockSurface(kuva);
        return rgba;
    }
    // A transparent colour would make the copy skip its texels and leave them black; the
    // texture keeps the colour of every texel, so copy them all.
    SDL_SetColorKey(kuva, 0, 0);
    SDL_SetAlpha(kuva, 0, SDL_ALPHA_OPAQUE);
    if (SDL_BlitSurface(kuva, nullptr, rgba, nullptr) != 0) {
        SDL_FreeSurface(rgba);
        return nullptr;
    }
    return rgba;
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

    SDL_Surface *muunnettu = rgba_tavuina(kuva);
    SDL_FreeSurface(kuva);
    if (!muunnettu)
        return ei_logoa(SDL_GetError());
    return muunnettu;
}
