// The one call of SDL_image that the show makes, for the editions built without SDL_image: the
// logo's PNG decoded by libpng (png_image.cpp).
#pragma once
#include <SDL.h>

#ifdef __cplusplus
extern "C" {
#endif

// Decodes the PNG read from `src` (left open) into a new 32-bit surface of R, G, B, A bytes in
// memory order, or gives null with SDL's error set.
SDL_Surface *IMG_LoadPNG_RW(SDL_RWops *src);

#ifdef __cplusplus
}
#endif
