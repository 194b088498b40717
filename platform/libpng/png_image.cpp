// The logo's PNG decoded by libpng, for the editions that carry no SDL_image: whatever the file
// holds (palette, grey, 16 bits, with or without alpha) comes out as R, G, B, A bytes, each texel
// keeping its colour, as the logo loader wants it. The loader's own checks run before this.
#include "SDL_image.h"

#include <csetjmp>

#include <png.h>

#include "draw/rgba_masks.h"

namespace {

void lue(png_structp png, png_bytep kohde, png_size_t maara) {
    SDL_RWops *rw = static_cast<SDL_RWops *>(png_get_io_ptr(png));
    if (SDL_RWread(rw, kohde, 1, static_cast<int>(maara)) != static_cast<int>(maara))
        png_error(png, "Error reading the PNG file.");
}

// libpng's own handlers write to standard error and abort; the reason goes to SDL's error instead.
void virhe(png_structp png, png_const_charp syy) {
    SDL_SetError("%s", syy);
    png_longjmp(png, 1);
}
void varoitus(png_structp, png_const_charp) {}

} // namespace

extern "C" SDL_Surface *IMG_LoadPNG_RW(SDL_RWops *src) {
    if (!src) {
        SDL_SetError("Passed a NULL data source");
        return nullptr;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, virhe, varoitus);
    png_infop tiedot = png ? png_create_info_struct(png) : nullptr;
    if (!tiedot) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        SDL_SetError("Out of memory");
        return nullptr;
    }
    // libpng's errors come back here by longjmp: what is set after this point and freed on the
    // way out is held in volatile pointers, and no object with a destructor lives in this frame.
    SDL_Surface *volatile kuva = nullptr;
    png_bytep *volatile rivit = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        SDL_free(rivit);
        SDL_FreeSurface(kuva);
        png_destroy_read_struct(&png, &tiedot, nullptr);
        return nullptr;
    }
    png_set_read_fn(png, src, lue);
    png_read_info(png, tiedot);

    // 8-bit R, G, B and an opaque A for every texel. A transparent colour is not turned into
    // alpha: the logo keeps the colour of every texel.
    png_set_palette_to_rgb(png);
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
    png_set_strip_16(png);
    png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, tiedot);

    const png_uint_32 leveys = png_get_image_width(png, tiedot);
    const png_uint_32 korkeus = png_get_image_height(png, tiedot);
    if (png_get_rowbytes(png, tiedot) != static_cast<png_size_t>(leveys) * 4)
        png_error(png, "Unexpected PNG row size.");
    kuva = SDL_CreateRGBSurface(SDL_SWSURFACE, static_cast<int>(leveys), static_cast<int>(korkeus),
                                32, R_MASK, G_MASK, B_MASK, A_MASK);
    if (!kuva)
        png_error(png, "Out of memory");
    rivit = static_cast<png_bytep *>(SDL_malloc(sizeof(png_bytep) * korkeus));
    if (!rivit)
        png_error(png, "Out of memory");
    for (png_uint_32 y = 0; y < korkeus; ++y)
        rivit[y] = static_cast<png_bytep>(kuva->pixels) + static_cast<size_t>(y) * kuva->pitch;
    png_read_image(png, rivit);
    png_read_end(png, nullptr);
    SDL_free(rivit);
    png_destroy_read_struct(&png, &tiedot, nullptr);
    return kuva;
}
