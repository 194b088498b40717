// The SDL surface masks of pixels stored as R, G, B, A bytes in memory, whatever the machine's
// byte order: the layout the logo texture is uploaded in.
#pragma once

#include <SDL.h>

#if SDL_BYTEORDER == SDL_BIG_ENDIAN
const Uint32 R_MASK = 0xff000000, G_MASK = 0x00ff0000, B_MASK = 0x0000ff00, A_MASK = 0x000000ff;
#else
const Uint32 R_MASK = 0x000000ff, G_MASK = 0x0000ff00, B_MASK = 0x00ff0000, A_MASK = 0xff000000;
#endif
